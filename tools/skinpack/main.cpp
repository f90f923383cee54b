// voxtape-skinpack: packs a folder of BMP files into a skin archive, lists one, or unpacks one.
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "platform/gfx/dib.h"
#include "skin/skin_archive.h"
#include "skin/skin_archive_writer.h"

namespace {

constexpr char kUsage[] =
    "usage: voxtape-skinpack pack <folder-of-bmps> <archive>\n"
    "       voxtape-skinpack list <archive>\n"
    "       voxtape-skinpack extract <archive> <folder>\n";

// Names come from the archive: keep control bytes away from the terminal.
std::string Printable(std::string_view s) {
  std::string out;
  for (const unsigned char c : s) {
    if (c < 0x20 || c == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int Report(const vt::SkinToolResult& r, const char* done) {
  for (const std::string& w : r.warnings)
    std::fprintf(stderr, "warning: %s\n", Printable(w).c_str());
  if (!r.ok) {
    std::fprintf(stderr, "voxtape-skinpack: %s\n", Printable(r.error).c_str());
    return 1;
  }
  std::printf("%s %zu entries\n", done, r.entries);
  return 0;
}

int List(const std::string& archive) {
  const vt::SkinDirectoryRead read = vt::ReadSkinDirectory(archive);
  if (read.status == vt::SkinReadStatus::kCannotOpen) {
    std::fprintf(stderr, "voxtape-skinpack: cannot open %s\n", archive.c_str());
    return 1;
  }
  if (read.status == vt::SkinReadStatus::kMalformed) {
    std::fprintf(stderr, "voxtape-skinpack: %s is not a skin archive\n", archive.c_str());
    return 1;
  }
  std::printf("%u entries\n", read.directory.count);
  for (const vt::SkinEntry& e : read.directory.entries) {
    std::printf("%-28s %10u", Printable(e.name).c_str(), e.size);
    const auto data = vt::ReadSkinEntryData(archive, e);
    if (!data) {
      std::printf("  (data outside the archive)\n");
      continue;
    }
    const std::span<const std::uint8_t> bytes(*data);
    if (bytes.size() >= 14 && bytes[0] == 'B' && bytes[1] == 'M') {
      if (const auto info = vt::gfx::ReadDibInfo(bytes.subspan(14))) {
        const long long height = info->height < 0 ? -static_cast<long long>(info->height)
                                                  : static_cast<long long>(info->height);
        std::printf("  %dx%lld %u bpp", info->width, height, info->bit_count);
        if (!vt::DecodeSkinBmp(bytes)) std::printf(" (will not load)");
      }
    }
    std::printf("\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  if (command == "pack" && argc == 4) {
    return Report(vt::PackSkinFolder(argv[2], argv[3]), "packed");
  }
  if (command == "list" && argc == 3) return List(argv[2]);
  if (command == "extract" && argc == 4) {
    return Report(vt::ExtractSkinArchive(argv[2], argv[3]), "extracted");
  }
  std::fputs(kUsage, stderr);
  return 2;
}
