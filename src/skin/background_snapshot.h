// A copy of the window background behind a control, so that the control can repaint its own
// background and look transparent over the skin.
#pragma once

#include <vector>

#include "platform/gfx/surface.h"

namespace vt {

struct BackgroundSnapshot {
  static constexpr int kModeEmpty = 1;
  static constexpr int kModeFilled = 4;

  // In the coordinates of the surface the pixels were read from.
  gfx::Rect rect;
  // rect.w x rect.h colours, row by row; empty until filled.
  std::vector<gfx::Pixel> pixels;
  int mode = kModeEmpty;

  // Reads every pixel (rect.x + x, rect.y + y) of `source`. Without a source, and for pixels that
  // lie outside it, the colour is white.
  void Fill(const gfx::Surface* source, gfx::Rect area);

  bool HasPixels() const { return !pixels.empty(); }
  bool Filled() const { return (mode & kModeFilled) != 0; }
  // The colour at (x, y) of the snapshot; white outside it.
  gfx::Pixel At(int x, int y) const;
};

}  // namespace vt
