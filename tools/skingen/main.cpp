// skingen: draws the default skin from its description.
//   skingen DESCRIPTION OUTPUT_FOLDER
#include <cstdio>
#include <filesystem>

#include "art.h"
#include "description.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: skingen DESCRIPTION OUTPUT_FOLDER\n");
    return 2;
  }
  vt::skingen::Description d;
  std::string error;
  if (!vt::skingen::ReadDescription(argv[1], d, error)) {
    std::fprintf(stderr, "skingen: %s\n", error.c_str());
    return 1;
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
