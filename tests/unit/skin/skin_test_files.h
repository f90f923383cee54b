// Helpers of the skin tests: BMP files built byte by byte, and a scratch program folder.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "platform/gfx/surface.h"

namespace vt::test {

inline void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A whole BMP file: file header, info header, `gap`, `rows`; the pixel offset counts the gap.
inline std::vector<std::uint8_t> MakeBmp(std::int32_t width, std::int32_t height,
                                         std::uint16_t bits, std::vector<std::uint8_t> rows,
                                         std::vector<std::uint8_t> gap = {},
                                         std::uint32_t compression = 0,
                                         std::uint32_t info_size = 40) {
  std::vector<std::uint8_t> out{'B', 'M'};
  const std::uint32_t pixel_offset = 54 + static_cast<std::uint32_t>(gap.size());
  PutU32(out, pixel_offset + static_cast<std::uint32_t>(rows.size()));
  PutU32(out, 0);
  PutU32(out, pixel_offset);
  PutU32(out, info_size);
  PutU32(out, static_cast<std::uint32_t>(width));
  PutU32(out, static_cast<std::uint32_t>(height));
  PutU16(out, 1);
  PutU16(out, bits);
  PutU32(out, compression);
  PutU32(out, static_cast<std::uint32_t>(rows.size()));
  PutU32(out, 2835);
  PutU32(out, 2835);
  PutU32(out, 0);
  PutU32(out, 0);
  out.insert(out.end(), gap.begin(), gap.end());
  out.insert(out.end(), rows.begin(), rows.end());
  return out;
}

// A 24-bit BMP of `image`, rows bottom-up (or top-down), each row padded with 0xEE bytes.
inline std::vector<std::uint8_t> Bmp24(const gfx::Surface& image, bool top_down = false) {
  std::vector<std::uint8_t> rows;
  for (int i = 0; i < image.Height(); ++i) {
    const int y = top_down ? i : image.Height() - 1 - i;
    for (int x = 0; x < image.Width(); ++x) {
      const gfx::Pixel p = image.At(x, y);
      rows.insert(rows.end(), {gfx::Blue(p), gfx::Green(p), gfx::Red(p)});
    }
    while (rows.size() % 4 != 0) rows.push_back(0xEE);
  }
  return MakeBmp(image.Width(), top_down ? -image.Height() : image.Height(), 24, rows);
}

// A small image whose every pixel differs, so a swapped row or channel shows.
inline gfx::Surface TestImage(int width, int height) {
  gfx::Surface s(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      s.Set(x, y,
            gfx::Rgb(static_cast<std::uint8_t>(10 + x), static_cast<std::uint8_t>(100 + y),
                     static_cast<std::uint8_t>(200 + x + y)));
    }
  }
  return s;
}

inline void WriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh folder, removed with everything in it at the end; the current directory, which loading
// a skin image changes, is put back too.
class ScratchFolder {
 public:
  ScratchFolder() : cwd_(std::filesystem::current_path()) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vt-skin-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::current_path(cwd_, ec);
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // As the program knows its folder: ending with '/'.
  std::string program_folder() const { return path_.string() + "/"; }
  std::filesystem::path archive() const { return path_ / "Interface" / "voxtape.int"; }

 private:
  std::filesystem::path cwd_;
  std::filesystem::path path_;
};

}  // namespace vt::test
