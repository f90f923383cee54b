#include "ui/hand_cursors.h"

#include <initializer_list>

namespace vt {
namespace {

constexpr int kSide = 32;

// A 32 x 32 cursor from the rows of its drawing, placed `top` rows down; 'X' is black outline,
// '.' white inside, ' ' transparent.
win::CursorImage Hand(int top, std::initializer_list<const char*> drawing) {
  win::CursorImage image;
  image.rows.assign(kSide, std::string(kSide, ' '));
  int y = top;
  for (const char* row : drawing) image.rows[y++].replace(0, std::string(row).size(), row);
  image.hot_spot = {16, 15};  // in the palm
  return image;
}

}  // namespace

const win::CursorImage& ReleaseCursorImage() {
  static const win::CursorImage image = Hand(6, {
                                                    "              XX",
                                                    "          XX X..XXX",
                                                    "         X..XX..X..X",
                                                    "         X..XX..X..X X",
                                                    "          X..X..X..XX.X",
                                                    "          X..X..X..X..X",
                                                    "        XX X.......X..X",
                                                    "       X..XX..........X",
                                                    "       X...X.........X",
                                                    "        X.............X",
                                                    "         X............X",
                                                    "         X...........X",
                                                    "          X..........X",
                                                    "          X.........X",
                                                    "           X........X",
                                                    "           X........X",
                                                });
  return image;
}

const win::CursorImage& GrabCursorImage() {
  static const win::CursorImage image = Hand(9, {
                                                    "           XX XX XX",
                                                    "          X..X..X..XX",
                                                    "          X.........X.X",
                                                    "         XX...........X",
                                                    "        X.X...........X",
                                                    "        X.............X",
                                                    "         X............X",
                                                    "         X...........X",
                                                    "          X..........X",
                                                    "          X.........X",
                                                    "           X........X",
                                                    "           X........X",
                                                });
  return image;
}

}  // namespace vt
