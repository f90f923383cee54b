// Temporary folders and little-endian readers for the audio tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vt::audio::testutil {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vt-audio-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// A WAV file as this program writes it: the header fields that vary and the sample bytes.
struct WavFile {
  std::uint32_t riff_size = 0;
  std::uint32_t data_size = 0;
  std::vector<std::uint8_t> header;  // the first 46 bytes
  std::vector<std::uint8_t> data;    // data_size bytes from offset 46
  std::size_t length = 0;
};

inline WavFile ReadWav(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  WavFile wav;
  wav.length = bytes.size();
  if (bytes.size() < 46) return wav;
  wav.riff_size = Le32(bytes, 4);
  wav.data_size = Le32(bytes, 42);
  wav.header.assign(bytes.begin(), bytes.begin() + 46);
  const std::size_t end = std::min<std::size_t>(bytes.size(), 46 + std::size_t{wav.data_size});
  wav.data.assign(bytes.begin() + 46, bytes.begin() + static_cast<std::ptrdiff_t>(end));
  return wav;
}

// The file is a complete WAV file holding exactly `data`: sizes, length and pad byte agree.
inline ::testing::AssertionResult IsWavHolding(const std::string& path,
                                               const std::vector<std::uint8_t>& data) {
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  const std::size_t n = data.size();
  const std::size_t pad = n & 1;
  if (bytes.size() != 46 + n + pad) {
    return ::testing::AssertionFailure() << "length " << bytes.size() << ", want " << 46 + n + pad;
  }
  if (Le32(bytes, 4) != 38 + n + pad) {
    return ::testing::AssertionFailure() << "RIFF size " << Le32(bytes, 4);
  }
  if (Le32(bytes, 42) != n) return ::testing::AssertionFailure() << "data size " << Le32(bytes, 42);
  if (!std::equal(data.begin(), data.end(), bytes.begin() + 46)) {
    return ::testing::AssertionFailure() << "sample bytes differ";
  }
  if (pad != 0 && bytes.back() != 0) return ::testing::AssertionFailure() << "pad byte not 0";
  return ::testing::AssertionSuccess();
}

}  // namespace vt::audio::testutil
