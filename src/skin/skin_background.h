// The background image of a skinned window, painted with its key colour left out.
#pragma once

#include <string_view>

#include "platform/gfx/surface.h"
#include "platform/window/window.h"

namespace vt {

class CSkinBackground {
 public:
  virtual ~CSkinBackground() = default;

  // Loads the image and fits the window's client size to it; a missing image leaves the window
  // as it is and nothing to paint.
  void LoadBackground(win::Window& window, std::string_view image_name);
  // Gives the image directly (tests, and skins built in memory).
  void SetBackgroundImage(win::Window& window, gfx::Surface image);

  // Paints the image scaled onto the whole client area, leaving out the key colour. Always
  // reports the erase as done.
  bool EraseBackground(const win::Window& window, gfx::Surface& target) const;

  // The memory surface the controls copy their background snapshots from; empty when no image.
  const gfx::Surface& BackgroundSurface() const { return image_; }
  bool HasBackground() const { return !image_.Empty(); }

  static constexpr gfx::Pixel kTransparencyKey = gfx::kWindowKey;

 private:
  gfx::Surface image_;
};

}  // namespace vt
