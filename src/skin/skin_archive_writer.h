// Writing, listing and unpacking skin archives, so that a person can make a skin of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vt {

// Written into every archive; the program never reads them.
inline constexpr std::uint16_t kSkinHeaderWord1 = 1;
inline constexpr std::uint16_t kSkinHeaderWord2 = 0;

struct SkinArchiveItem {
  std::string name;
  std::vector<std::uint8_t> data;
};

// The bytes of an archive holding `items` in the given order: header words, count, name records,
// data offsets, then each item's data. None when they do not fit the format: more than 65535
// items, a name with a zero byte, or an archive of 4 GiB or more.
std::optional<std::vector<std::uint8_t>> BuildSkinArchive(std::span<const SkinArchiveItem> items);

struct SkinToolResult {
  bool ok = false;
  std::string error;                  // why it failed, when !ok
  std::vector<std::string> warnings;  // what was skipped or will not load, when ok
  std::size_t entries = 0;            // packed or extracted
};

// Packs every regular file of `folder` whose name ends in ".bmp" (any case), sorted by name, into a
// new archive at `archive_path` (its folder is created when missing). The archive is written beside
// its final name and then renamed, so a reader never sees half of it. A file that the program
// could not load as a skin image is packed all the same, with a warning.
SkinToolResult PackSkinFolder(const std::string& folder, const std::string& archive_path);

// Writes every entry of the archive as a file of `folder` (created when missing). Names that could
// leave the folder (with '/' or "..") are refused with a warning, as are entries whose data does
// not lie inside the archive; of several entries with one name, the first is kept, as lookups find
// it.
SkinToolResult ExtractSkinArchive(const std::string& archive_path, const std::string& folder);

}  // namespace vt
