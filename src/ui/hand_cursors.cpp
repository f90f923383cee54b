#include "ui/hand_cursors.h"

namespace vt {

// 32 x 32, 'X' black outline, '.' white inside, ' ' transparent; hot spot in the palm.
const win::CursorImage& ReleaseCursorImage() {
  static const win::CursorImage image{{
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "              XX                ",
                                          "          XX X..XXX             ",
                                          "         X..XX..X..X            ",
                                          "         X..XX..X..X X          ",
                                          "          X..X..X..XX.X         ",
                                          "          X..X..X..X..X         ",
                                          "        XX X.......X..X         ",
                                          "       X..XX..........X         ",
                                          "       X...X.........X          ",
                                          "        X.............X          ",
                                          "         X............X         ",
                                          "         X...........X          ",
                                          "          X..........X          ",
                                          "          X.........X           ",
                                          "           X........X           ",
                                          "           X........X           ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                      },
                                      {16, 15}};
  return image;
}

const win::CursorImage& GrabCursorImage() {
  static const win::CursorImage image{{
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "           XX XX XX             ",
                                          "          X..X..X..XX           ",
                                          "          X.........X.X         ",
                                          "         XX...........X         ",
                                          "        X.X...........X         ",
                                          "        X.............X         ",
                                          "         X............X         ",
                                          "         X...........X          ",
                                          "          X..........X          ",
                                          "          X.........X           ",
                                          "           X........X           ",
                                          "           X........X           ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                          "                                ",
                                      },
                                      {16, 15}};
  return image;
}

}  // namespace vt
