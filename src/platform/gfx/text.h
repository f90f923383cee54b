// Text through the desktop's sans font.
#pragma once

#include <memory>
#include <string>

#include "platform/gfx/surface.h"

namespace vt::gfx {

enum class TextAlign { kLeftTop, kLeftVCentre, kCentre };

class Font {
 public:
  // The desktop's sans font (fontconfig's choice for "sans-serif", DejaVu Sans as fallback) at a
  // pixel size; null when no font file can be opened.
  static std::unique_ptr<Font> OpenSans(int pixel_size);
  virtual ~Font() = default;

  // Width and height of one line of text.
  virtual Size Measure(const std::string& text) const = 0;
  virtual int LineHeight() const = 0;
  // Draws one line of text (anti-aliased, blended over what is there), clipped to box.
  virtual void Draw(Surface& dst, Rect box, const std::string& text, Pixel colour,
                    TextAlign align) const = 0;
};

// Path of the font file that fontconfig picks for the desktop's sans font; empty when none.
std::string FindSansFontFile();

}  // namespace vt::gfx
