#include "skin/background_snapshot.h"

#include <algorithm>

namespace vt {

void BackgroundSnapshot::Fill(const gfx::Surface* source, gfx::Rect area) {
  rect = area;
  const int w = std::max(area.w, 0);
  const int h = std::max(area.h, 0);
  pixels.assign(static_cast<std::size_t>(w) * h, gfx::kWhite);
  if (source) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const gfx::Point p{area.x + x, area.y + y};
        if (source->Bounds().Contains(p))
          pixels[static_cast<std::size_t>(y) * w + x] = source->At(p.x, p.y);
      }
    }
  }
  mode = kModeFilled;
}

gfx::Pixel BackgroundSnapshot::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= rect.w || y >= rect.h) return gfx::kWhite;
  const std::size_t index = static_cast<std::size_t>(y) * rect.w + x;
  return index < pixels.size() ? pixels[index] : gfx::kWhite;
}

}  // namespace vt
