// The skin archive: every interface image is read by file name from one archive file,
// Interface/voxtape.int in the program folder.
//
// Layout (little-endian, unsigned): header word 1 (2 bytes), header word 2 (2), entry count N (2);
// N name records back to back, each a 4-byte name length L, L name bytes (a zero byte among them
// ends the name early) and a 4-byte data size S; then N 4-byte data offsets from the start of the
// file. An image entry is a whole BMP file of S bytes.
//
// The archive is untrusted input: a record or an entry that does not fit in the file is refused,
// and nothing is allocated beyond what the file's own size justifies.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/surface.h"

namespace vt {

struct SkinEntry {
  std::uint32_t size = 0;         // S, bytes of the entry's data
  std::uint32_t name_length = 0;  // L as stored, even when a zero byte cut the name short
  std::uint32_t offset = 0;       // of the entry's data from the start of the file
  std::string name;
};

struct SkinDirectory {
  std::uint32_t header = 0;  // header word 1 in the low half, word 2 in the high half; unused
  std::uint32_t count = 0;   // N, 0 to 65535
  std::vector<SkinEntry> entries;
};

// Means "no entry has this name"; never an index, so 65535 entries use indices 0 to 65534.
inline constexpr std::uint16_t kSkinNotFound = 0xFFFF;

enum class SkinReadStatus {
  kOk,
  kCannotOpen,  // missing, not a regular file, or not readable
  kMalformed,   // damaged: the directory or an entry runs past the end of the file, or an entry
                // lies inside the directory
};

struct SkinDirectoryRead {
  SkinReadStatus status = SkinReadStatus::kCannotOpen;
  SkinDirectory directory;  // empty unless status is kOk
  std::string damage;       // what is wrong with a damaged archive, in a few words

  bool ok() const { return status == SkinReadStatus::kOk; }
};

SkinDirectoryRead ReadSkinDirectory(const std::string& path);

// Index of the first entry whose name equals `name`, ignoring the case of A to Z only; every other
// byte compares exactly.
std::uint16_t FindSkinEntry(const SkinDirectory& directory, std::string_view name);

// The S bytes of the entry; none when the archive cannot be read or the entry's bytes do not lie
// inside the file.
std::optional<std::vector<std::uint8_t>> ReadSkinEntryData(const std::string& archive_path,
                                                           const SkinEntry& entry);

// A whole BMP file as the skin stores it: "BM", a 14-byte file header whose pixel data offset P is
// at least 54, the 40-byte info header, and the pixel rows at P. Whatever lies between the info
// header and P (a colour table, colour masks) is not used, and images that need a colour table (1,
// 4 or 8 bits per pixel) give none.
std::optional<gfx::Surface> DecodeSkinBmp(std::span<const std::uint8_t> bmp);

// Archive path of a program folder: the folder (which ends with '/') + "Interface/voxtape.int".
std::string SkinArchivePath(const std::string& program_folder);

// The image named `name`, read afresh from the archive of `program_folder`; nothing is cached.
// A name found in the directory makes `program_folder` the current directory, which the rest of
// the program counts on. None when the name is absent or the entry is not a usable BMP.
std::optional<gfx::Surface> LoadSkinBitmap(std::string_view name, const SkinDirectory& directory,
                                           const std::string& program_folder);

// The process's one skin: its program folder and the directory read at start-up. Only the user
// interface thread uses it; it does not change after start-up.
struct SkinState {
  std::string program_folder;
  SkinDirectory directory;
  std::string damage;  // what OpenSkin found wrong with a damaged archive
};
SkinState& Skin();

// Reads the directory of `program_folder`'s archive into Skin(). On failure Skin() keeps the
// folder and an empty directory, so every later request simply finds nothing.
SkinReadStatus OpenSkin(const std::string& program_folder);

// Empties Skin() (tests, and the end of the application).
void ResetSkin();

// Loads `name` through Skin() into `bitmap`; false, with `bitmap` left empty, when there is none.
bool LoadSkinBitmapInto(std::string_view name, gfx::Surface& bitmap);

}  // namespace vt
