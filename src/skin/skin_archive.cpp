#include "skin/skin_archive.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/gfx/dib.h"

namespace vt {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBmpFileHeaderSize = 14;
constexpr std::size_t kBmpHeadersSize = kBmpFileHeaderSize + gfx::kDibInfoHeaderSize;  // 54
constexpr std::uint16_t kBmpFileType = 0x4D42;                                         // "BM"
// A name record is at least a length and a size; each entry also has a 4-byte offset.
constexpr std::uint64_t kMinBytesPerEntry = 4 + 4 + 4;

std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

// Opens a regular file for reading and tells its size; a FIFO or a folder is refused rather than
// blocking or failing half-way.
std::optional<std::uint64_t> OpenForReading(const std::string& path, std::ifstream& in) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  in.open(path, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  in.seekg(0, std::ios::beg);
  if (end < 0 || !in) return std::nullopt;
  return static_cast<std::uint64_t>(end);
}

// Reads forward through a file of known size; every read is checked against what is left, so a
// length field can never ask for more than the file holds.
class Reader {
 public:
  Reader(std::ifstream& in, std::uint64_t size) : in_(in), left_(size) {}

  std::uint64_t Left() const { return left_; }

  bool Bytes(void* out, std::uint64_t n) {
    if (n > left_) return false;
    in_.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
    if (static_cast<std::uint64_t>(in_.gcount()) != n) return false;
    left_ -= n;
    return true;
  }
  bool U16(std::uint16_t& v) {
    std::uint8_t b[2];
    if (!Bytes(b, 2)) return false;
    v = vt::U16(b);
    return true;
  }
  bool U32(std::uint32_t& v) {
    std::uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    v = vt::U32(b);
    return true;
  }

 private:
  std::ifstream& in_;
  std::uint64_t left_;
};

bool ReadEntries(Reader& r, SkinDirectory& d) {
  std::uint16_t word1 = 0, word2 = 0, count = 0;
  if (!r.U16(word1) || !r.U16(word2) || !r.U16(count)) return false;
  d.header = word1 | (std::uint32_t{word2} << 16);
  d.count = count;
  // Refuse a count the file cannot hold before making room for it.
  if (count > r.Left() / kMinBytesPerEntry) return false;
  d.entries.resize(count);
  for (SkinEntry& e : d.entries) {
    if (!r.U32(e.name_length)) return false;
    if (e.name_length > r.Left()) return false;
    e.name.resize(e.name_length);
    if (!r.Bytes(e.name.data(), e.name_length)) return false;
    if (const std::size_t end = e.name.find('\0'); end != std::string::npos) e.name.resize(end);
    if (!r.U32(e.size)) return false;
  }
  for (SkinEntry& e : d.entries) {
    if (!r.U32(e.offset)) return false;
  }
  return true;
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::size_t ColourTableEntries(std::uint16_t bit_count) {
  switch (bit_count) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

}  // namespace

SkinDirectoryRead ReadSkinDirectory(const std::string& path) {
  SkinDirectoryRead result;
  std::ifstream in;
  const std::optional<std::uint64_t> size = OpenForReading(path, in);
  if (!size) return result;
  Reader reader(in, *size);
  const auto damaged = [&result](std::string what) {
    result.directory = {};
    result.status = SkinReadStatus::kMalformed;
    result.damage = std::move(what);
    return result;
  };
  if (!ReadEntries(reader, result.directory)) return damaged("its index runs past its end");
  // Every picture must lie wholly in the file, after the index: a cut-off archive (a download
  // that stopped, a full disk) would otherwise show a window with pictures missing.
  const std::uint64_t index_end = *size - reader.Left();
  for (const SkinEntry& e : result.directory.entries) {
    if (std::uint64_t{e.offset} + e.size > *size)
      return damaged("the picture " + e.name + " runs past its end");
    if (e.size > 0 && e.offset < index_end)
      return damaged("the picture " + e.name + " lies inside its index");
  }
  result.status = SkinReadStatus::kOk;
  return result;
}

std::uint16_t FindSkinEntry(const SkinDirectory& directory, std::string_view name) {
  const std::size_t n = std::min<std::size_t>(directory.entries.size(), kSkinNotFound);
  for (std::size_t i = 0; i < n; ++i) {
    if (EqualIgnoringAsciiCase(directory.entries[i].name, name)) {
      return static_cast<std::uint16_t>(i);
    }
  }
  return kSkinNotFound;
}

std::optional<std::vector<std::uint8_t>> ReadSkinEntryData(const std::string& archive_path,
                                                           const SkinEntry& entry) {
  std::ifstream in;
  const std::optional<std::uint64_t> file_size = OpenForReading(archive_path, in);
  if (!file_size) return std::nullopt;
  if (std::uint64_t{entry.offset} + entry.size > *file_size) return std::nullopt;
  std::vector<std::uint8_t> data(entry.size);
  in.seekg(static_cast<std::streamoff>(entry.offset));
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (static_cast<std::uint64_t>(in.gcount()) != data.size()) return std::nullopt;
  return data;
}

std::optional<gfx::Surface> DecodeSkinBmp(std::span<const std::uint8_t> bmp) {
  if (bmp.size() < kBmpHeadersSize) return std::nullopt;
  if (U16(bmp.data()) != kBmpFileType) return std::nullopt;
  const std::uint32_t pixel_offset = U32(bmp.data() + 10);
  if (pixel_offset < kBmpHeadersSize || pixel_offset > bmp.size()) return std::nullopt;
  const std::span<const std::uint8_t> info =
      bmp.subspan(kBmpFileHeaderSize, gfx::kDibInfoHeaderSize);
  if (ColourTableEntries(U16(info.data() + 14)) != 0) return std::nullopt;
  // The packed block: the info header directly followed by the pixel rows, leaving out whatever
  // lies between them.
  std::vector<std::uint8_t> block;
  block.reserve(info.size() + (bmp.size() - pixel_offset));
  block.insert(block.end(), info.begin(), info.end());
  block.insert(block.end(), bmp.begin() + pixel_offset, bmp.end());
  return gfx::DecodePackedDib(block);
}

std::string SkinArchivePath(const std::string& program_folder) {
  std::string path = program_folder;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + "Interface/voxtape.int";
}

std::optional<gfx::Surface> LoadSkinBitmap(std::string_view name, const SkinDirectory& directory,
                                           const std::string& program_folder) {
  const std::uint16_t index = FindSkinEntry(directory, name);
  if (index == kSkinNotFound) return std::nullopt;
  if (!program_folder.empty()) {
    std::error_code ignored;  // a folder that has gone away simply makes the read below fail
    fs::current_path(program_folder, ignored);
  }
  const std::optional<std::vector<std::uint8_t>> data =
      ReadSkinEntryData(SkinArchivePath(program_folder), directory.entries[index]);
  if (!data) return std::nullopt;
  return DecodeSkinBmp(*data);
}

SkinState& Skin() {
  static SkinState state;
  return state;
}

SkinReadStatus OpenSkin(const std::string& program_folder) {
  ResetSkin();
  Skin().program_folder = program_folder;
  SkinDirectoryRead read = ReadSkinDirectory(SkinArchivePath(program_folder));
  Skin().directory = std::move(read.directory);
  Skin().damage = std::move(read.damage);
  return read.status;
}

void ResetSkin() {
  Skin() = SkinState{};
}

bool LoadSkinBitmapInto(std::string_view name, gfx::Surface& bitmap) {
  std::optional<gfx::Surface> loaded =
      LoadSkinBitmap(name, Skin().directory, Skin().program_folder);
  if (!loaded) {
    bitmap = gfx::Surface{};
    return false;
  }
  bitmap = std::move(*loaded);
  return true;
}

}  // namespace vt
