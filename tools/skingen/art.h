// Draws the images of a skin description with cairo and writes them as BMP files.
#pragma once

#include <string>

#include "description.h"

namespace vt::skingen {

// Makes every image of `d` in order (later images may use earlier ones as their matte) and writes
// each into `out_dir` under its own name. On failure gives false and says why in `error`.
bool MakeSkin(const Description& d, const std::string& out_dir, std::string& error);

// Draws the square image named `image` again at `size` x `size` pixels, keeping its transparency
// (no key, no matte), and writes it as a PNG: the program's icon for the desktop.
bool MakeIcon(const Description& d, const std::string& image, int size, const std::string& png,
              std::string& error);

}  // namespace vt::skingen
