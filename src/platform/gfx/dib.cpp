#include "platform/gfx/dib.h"

#include <limits>

namespace vt::gfx {
namespace {

std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

// 5-bit channel to 8 bits so that 0 stays 0 and 31 becomes 255.
std::uint8_t Expand5(unsigned v) {
  return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

}  // namespace

std::optional<DibInfo> ReadDibInfo(std::span<const std::uint8_t> block) {
  if (block.size() < kDibInfoHeaderSize) return std::nullopt;
  const std::uint8_t* h = block.data();
  DibInfo info;
  info.header_size = U32(h);
  info.width = static_cast<std::int32_t>(U32(h + 4));
  info.height = static_cast<std::int32_t>(U32(h + 8));
  info.planes = U16(h + 12);
  info.bit_count = U16(h + 14);
  info.compression = U32(h + 16);
  return info;
}

std::optional<Surface> DecodePackedDib(std::span<const std::uint8_t> block) {
  const std::optional<DibInfo> info = ReadDibInfo(block);
  if (!info || info->header_size < kDibInfoHeaderSize) return std::nullopt;
  if (info->compression != kDibUncompressed) return std::nullopt;
  const unsigned bits = info->bit_count;
  if (bits != 16 && bits != 24 && bits != 32) return std::nullopt;
  if (info->width <= 0 || info->height == 0) return std::nullopt;
  // A height of INT32_MIN has no positive counterpart in an int.
  if (info->height == std::numeric_limits<std::int32_t>::min()) return std::nullopt;

  const bool top_down = info->height < 0;
  const std::uint64_t width = static_cast<std::uint64_t>(info->width);
  const std::uint64_t height =
      static_cast<std::uint64_t>(top_down ? -std::int64_t{info->height} : info->height);
  // At most (2^31 - 1) * 32 bits, so no overflow in 64 bits.
  const std::uint64_t stride = (width * bits + 31) / 32 * 4;
  const std::span<const std::uint8_t> pixels = block.subspan(kDibInfoHeaderSize);
  // stride * height could overflow; dividing cannot.
  if (pixels.size() / stride < height) return std::nullopt;

  Surface out(info->width, static_cast<int>(height));
  const unsigned bytes_per_pixel = bits / 8;
  for (std::uint64_t row = 0; row < height; ++row) {
    const std::uint8_t* in = pixels.data() + row * stride;
    const std::uint64_t y = top_down ? row : height - 1 - row;
    Pixel* dst = out.Row(static_cast<int>(y));
    for (std::uint64_t x = 0; x < width; ++x, in += bytes_per_pixel) {
      if (bits == 16) {
        const unsigned v = U16(in);  // x rrrrr ggggg bbbbb; the top bit is unused
        dst[x] = Rgb(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
      } else {
        // Stored blue, green, red (and an unused fourth byte at 32 bits).
        dst[x] = Rgb(in[2], in[1], in[0]);
      }
    }
  }
  return out;
}

}  // namespace vt::gfx
