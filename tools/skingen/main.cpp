// skingen: draws the default skin from its description.
//   skingen DESCRIPTION OUTPUT_FOLDER          every image, as BMP files
//   skingen --icon SIZE DESCRIPTION IMAGE OUT  one square image at SIZE x SIZE pixels, as a PNG
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "art.h"
#include "description.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: skingen DESCRIPTION OUTPUT_FOLDER\n"
               "       skingen --icon SIZE DESCRIPTION IMAGE OUT.png\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const bool icon = argc > 1 && std::strcmp(argv[1], "--icon") == 0;
  if (argc != (icon ? 6 : 3)) return Usage();
  int size = 0;
  if (icon) {
    const char* end = argv[2] + std::strlen(argv[2]);
    auto [at, ec] = std::from_chars(argv[2], end, size);
    if (ec != std::errc() || at != end || size <= 0 || size > 4096) return Usage();
  }
  vt::skingen::Description d;
  std::string error;
  if (!vt::skingen::ReadDescription(argv[icon ? 3 : 1], d, error)) {
    std::fprintf(stderr, "skingen: %s\n", error.c_str());
    return 1;
  }
  if (icon) {
    if (!vt::skingen::MakeIcon(d, argv[4], size, argv[5], error)) {
      std::fprintf(stderr, "skingen: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  std::error_code ec;
  std::filesystem::create_directories(argv[2], ec);
  if (ec) {
    std::fprintf(stderr, "skingen: %s: %s\n", argv[2], ec.message().c_str());
    return 1;
  }
  if (!vt::skingen::MakeSkin(d, argv[2], error)) {
    std::fprintf(stderr, "skingen: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
