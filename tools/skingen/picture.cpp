#include "picture.h"

#include <cstdint>
#include <cstring>
#include <fstream>

namespace vt::skingen {

namespace {

Rgb AvoidKeys(Rgb c) {
  if (c == kWindowKey) c.g = 2;
  if (c == kDisplayKey) c = {6, 6, 6};
  return c;
}

void Put16(std::vector<unsigned char>& b, size_t at, std::uint16_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void Put32(std::vector<unsigned char>& b, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

Picture Flatten(const unsigned char* argb, int stride, int width, int height, const Picture& matte,
                const Rgb* key) {
  Picture out{width, height, std::vector<Rgb>(static_cast<size_t>(width) * height)};
  for (int y = 0; y < height; ++y) {
    const auto* row =
        reinterpret_cast<const std::uint32_t*>(argb + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      std::uint32_t p = row[x];
      unsigned a = p >> 24;
      Rgb& dst = out.pixels[static_cast<size_t>(y) * width + x];
      if (key && a < 128) {
        dst = *key;
        continue;
      }
      Rgb m = matte.At(x, y);
      auto mix = [&](unsigned src, unsigned under) {
        unsigned v = src + (under * (255 - a) + 127) / 255;
        return static_cast<std::uint8_t>(v > 255 ? 255 : v);
      };
      dst = AvoidKeys({mix((p >> 16) & 0xFF, m.r), mix((p >> 8) & 0xFF, m.g), mix(p & 0xFF, m.b)});
    }
  }
  return out;
}

bool WriteBmp(const Picture& p, const std::string& path, std::string& error) {
  const size_t row = (static_cast<size_t>(p.width) * 3 + 3) & ~size_t{3};
  const size_t data = row * p.height;
  std::vector<unsigned char> b(54 + data, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(p.width));
  Put32(b, 22, static_cast<std::uint32_t>(p.height));  // positive: bottom-up
  Put16(b, 26, 1);
  Put16(b, 28, 24);
  Put32(b, 34, static_cast<std::uint32_t>(data));
  Put32(b, 38, 2835);  // 72 dpi
  Put32(b, 42, 2835);
  for (int y = 0; y < p.height; ++y) {
    unsigned char* dst = b.data() + 54 + row * (p.height - 1 - y);
    for (int x = 0; x < p.width; ++x) {
      Rgb c = p.At(x, y);
      dst[3 * x] = c.b;
      dst[3 * x + 1] = c.g;
      dst[3 * x + 2] = c.r;
    }
  }
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  if (!out) {
    error = path + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace vt::skingen
