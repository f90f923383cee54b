#include "skin/skin_archive_writer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>

#include "skin/skin_archive.h"

namespace vt {
namespace {

namespace fs = std::filesystem;

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

bool EndsWithBmp(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return ext == ".bmp";
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

bool WriteWholeFile(const fs::path& path, std::span<const std::uint8_t> data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  return !out.fail();
}

SkinToolResult Fail(std::string error) {
  SkinToolResult r;
  r.error = std::move(error);
  return r;
}

// An entry name is written as a file name of the target folder only when it cannot lead out of it.
bool SafeFileName(const std::string& name) {
  return !name.empty() && name != "." && name.find('/') == std::string::npos &&
         name.find("..") == std::string::npos;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> BuildSkinArchive(std::span<const SkinArchiveItem> items) {
  if (items.size() > std::numeric_limits<std::uint16_t>::max()) return std::nullopt;
  std::uint64_t total = 6;
  for (const SkinArchiveItem& item : items) {
    if (item.name.find('\0') != std::string::npos) return std::nullopt;
    total += 4 + std::uint64_t{item.name.size()} + 4 + 4 + item.data.size();
  }
  if (total > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;

  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(total));
  PutU16(out, kSkinHeaderWord1);
  PutU16(out, kSkinHeaderWord2);
  PutU16(out, static_cast<std::uint16_t>(items.size()));
  for (const SkinArchiveItem& item : items) {
    PutU32(out, static_cast<std::uint32_t>(item.name.size()));
    out.insert(out.end(), item.name.begin(), item.name.end());
    PutU32(out, static_cast<std::uint32_t>(item.data.size()));
  }
  std::uint64_t offset = out.size() + 4 * std::uint64_t{items.size()};
  for (const SkinArchiveItem& item : items) {
    PutU32(out, static_cast<std::uint32_t>(offset));
    offset += item.data.size();
  }
  for (const SkinArchiveItem& item : items)
    out.insert(out.end(), item.data.begin(), item.data.end());
  return out;
}

SkinToolResult PackSkinFolder(const std::string& folder, const std::string& archive_path) {
  std::error_code ec;
  std::vector<std::string> names;
  for (const fs::directory_entry& f : fs::directory_iterator(folder, ec)) {
    const std::string name = f.path().filename().string();
    std::error_code type_ec;
    if (f.is_regular_file(type_ec) && EndsWithBmp(name)) names.push_back(name);
  }
  if (ec) return Fail("cannot read folder " + folder + ": " + ec.message());
  std::sort(names.begin(), names.end());

  SkinToolResult result;
  std::vector<SkinArchiveItem> items;
  for (const std::string& name : names) {
    std::optional<std::vector<std::uint8_t>> data = ReadWholeFile(fs::path(folder) / name);
    if (!data) return Fail("cannot read " + (fs::path(folder) / name).string());
    if (!DecodeSkinBmp(*data)) {
      result.warnings.push_back(name +
                                ": not an uncompressed 16, 24 or 32-bit BMP; it will not load");
    }
    items.push_back({name, std::move(*data)});
  }
  const std::optional<std::vector<std::uint8_t>> archive = BuildSkinArchive(items);
  if (!archive) return Fail("too many files or too much data for one archive");

  const fs::path target(archive_path);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  const fs::path temp = target.string() + ".part";
  if (!WriteWholeFile(temp, *archive)) {
    fs::remove(temp, ec);
    return Fail("cannot write " + temp.string());
  }
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    return Fail("cannot write " + archive_path);
  }
  result.ok = true;
  result.entries = items.size();
  return result;
}

SkinToolResult ExtractSkinArchive(const std::string& archive_path, const std::string& folder) {
  const SkinDirectoryRead read = ReadSkinDirectory(archive_path);
  if (read.status == SkinReadStatus::kCannotOpen) return Fail("cannot open " + archive_path);
  if (read.status == SkinReadStatus::kMalformed)
    return Fail(archive_path + " is not a skin archive");
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return Fail("cannot create folder " + folder + ": " + ec.message());

  SkinToolResult result;
  std::set<std::string> written;
  for (const SkinEntry& entry : read.directory.entries) {
    if (!SafeFileName(entry.name)) {
      result.warnings.push_back("refused entry name \"" + entry.name + "\"");
      continue;
    }
    if (!written.insert(entry.name).second) {
      result.warnings.push_back(entry.name + ": a later entry of the same name, skipped");
      continue;
    }
    const std::optional<std::vector<std::uint8_t>> data = ReadSkinEntryData(archive_path, entry);
    if (!data) {
      result.warnings.push_back(entry.name + ": its data lies outside the archive, skipped");
      continue;
    }
    const fs::path target = fs::path(folder) / entry.name;
    if (!WriteWholeFile(target, *data)) return Fail("cannot write " + target.string());
    ++result.entries;
  }
  result.ok = true;
  return result;
}

}  // namespace vt
