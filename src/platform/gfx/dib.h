// Turns a packed device-independent image (a 40-byte BMP info header directly followed by the pixel
// rows) into a Surface. Skin images come from an archive that anyone can replace, so every field is
// checked before it is trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/gfx/surface.h"

namespace vt::gfx {

inline constexpr std::size_t kDibInfoHeaderSize = 40;
inline constexpr std::uint32_t kDibUncompressed = 0;  // BI_RGB

// The fields of the info header that decoding looks at.
struct DibInfo {
  std::uint32_t header_size = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;  // positive: rows stored bottom-up; negative: top-down
  std::uint16_t planes = 0;
  std::uint16_t bit_count = 0;
  std::uint32_t compression = 0;
};

// The info header at the start of `block`; none when the block is shorter than the header.
std::optional<DibInfo> ReadDibInfo(std::span<const std::uint8_t> block);

// Decodes uncompressed 16 (5-5-5), 24 and 32 bits per pixel, rows padded to 4 bytes, bottom-up or
// top-down. Gives none for anything else: images that need a colour table, bit fields or other
// compression, a width or height of zero, a negative width, an info header that claims to be
// shorter than 40 bytes, or pixel data shorter than the header implies. The surface is only
// allocated once the block is known to hold every row, so its size is bounded by the input's.
std::optional<Surface> DecodePackedDib(std::span<const std::uint8_t> block);

}  // namespace vt::gfx
