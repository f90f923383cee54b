// Finished skin images: opaque RGB pixels, the transparency keys, and 24-bit BMP output.
#pragma once

#include <string>
#include <vector>

#include "description.h"

namespace vt::skingen {

inline constexpr Rgb kWindowKey{2, 1, 255};  // windows and button faces
inline constexpr Rgb kDisplayKey{5, 5, 5};   // glyphs and symbols of the display

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;  // row by row, top row first
  Rgb At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Turns premultiplied ARGB32 pixels (cairo's layout) into an opaque picture. Each pixel is laid
// over the matte; a pixel less than half covered becomes the key instead, so an anti-aliased edge
// never carries a blend with the key colour. With no key every pixel is laid over the matte.
// Art that happens to equal either key colour is nudged by one step so that it stays visible.
Picture Flatten(const unsigned char* argb, int stride, int width, int height, const Picture& matte,
                const Rgb* key);

// Writes a 24-bit BMP: 54-byte header, rows bottom-up, each padded to 4 bytes.
bool WriteBmp(const Picture& p, const std::string& path, std::string& error);

}  // namespace vt::skingen
