#include "platform/gfx/surface.h"

#include <gtest/gtest.h>

#include "platform/gfx/text.h"

namespace vt::gfx {
namespace {

constexpr Pixel kRed = Rgb(255, 0, 0);
constexpr Pixel kGreen = Rgb(0, 255, 0);

// Rows of the surface as characters: '.' for 0, 'R' red, 'G' green, 'K' the window key, '?' other.
std::vector<std::string> Picture(const Surface& s) {
  std::vector<std::string> rows;
  for (int y = 0; y < s.Height(); ++y) {
    std::string row;
    for (int x = 0; x < s.Width(); ++x) {
      const Pixel p = s.At(x, y);
      row += p == 0 ? '.' : p == kRed ? 'R' : p == kGreen ? 'G' : p == kWindowKey ? 'K' : '?';
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(Surface, CopyIsClippedOnBothSides) {
  Surface src(3, 3, kRed);
  src.Set(2, 2, kGreen);
  Surface dst(4, 3);
  Copy(dst, -1, 1, src, src.Bounds());
  EXPECT_EQ(Picture(dst), (std::vector<std::string>{"....", "RR..", "RR.."}));
  Copy(dst, 3, 0, src, {2, 2, 5, 5});  // source rectangle past the source's edge
  EXPECT_EQ(Picture(dst)[0], "...G");
}

TEST(Surface, KeyedCopyLeavesKeyPixelsAndScalesByNearestNeighbour) {
  Surface face(2, 2, kRed);
  face.Set(1, 0, kWindowKey);
  face.Set(0, 1, kGreen);
  Surface dst(5, 4);
  CopyKeyed(dst, {0, 0, 4, 4}, face, face.Bounds(), kWindowKey);
  EXPECT_EQ(Picture(dst), (std::vector<std::string>{"RR...", "RR...", "GGRR.", "GGRR."}));

  Surface unscaled(3, 2);
  CopyKeyed(unscaled, {1, 0, 2, 2}, face, face.Bounds(), kWindowKey);
  EXPECT_EQ(Picture(unscaled), (std::vector<std::string>{".R.", ".GR"}));
}

TEST(Surface, FillAndFrame) {
  Surface s(5, 4);
  FillRect(s, {3, 2, 10, 10}, kGreen);
  FrameRect(s, {0, 0, 4, 3}, kRed);
  EXPECT_EQ(Picture(s), (std::vector<std::string>{"RRRR.", "R..R.", "RRRRG", "...GG"}));
}

TEST(Surface, RoundRectCutsTheCornersAndFillsInside) {
  Surface s(6, 5);
  RoundRect(s, s.Bounds(), 3, 3, kRed, kGreen);
  EXPECT_EQ(Picture(s),
            (std::vector<std::string>{".RRRR.", "RGGGGR", "RGGGGR", "RGGGGR", ".RRRR."}));
}

TEST(Surface, GradientEndsExactlyOnTheRightColour) {
  Surface s(4, 1);
  GradientH(s, s.Bounds(), Rgb(44, 44, 52), Rgb(206, 222, 38));
  // Column r of 4 moves each channel by r * |difference| / 4, truncated.
  EXPECT_EQ(s.At(0, 0), Rgb(44 + 162 / 4, 44 + 178 / 4, 52 - 14 / 4));
  EXPECT_EQ(s.At(1, 0), Rgb(44 + 2 * 162 / 4, 44 + 2 * 178 / 4, 52 - 2 * 14 / 4));
  EXPECT_EQ(s.At(3, 0), Rgb(206, 222, 38));
}

TEST(Text, DrawsInItsColourOnlyInsideItsBox) {
  auto font = Font::OpenSans(13);
  ASSERT_TRUE(font) << "no sans font on this machine";
  const Size size = font->Measure("Voxtape");
  EXPECT_GT(size.w, 20);
  EXPECT_GE(size.h, 13);

  Surface s(80, 30);
  const Rect box{10, 5, 30, 20};  // narrower than the word: it is clipped
  font->Draw(s, box, "Voxtape", kWhite, TextAlign::kLeftVCentre);
  int inked = 0;
  bool pure_white = false;
  for (int y = 0; y < s.Height(); ++y) {
    for (int x = 0; x < s.Width(); ++x) {
      const Pixel p = s.At(x, y);
      if (p == 0) continue;
      ASSERT_TRUE(box.Contains({x, y})) << x << "," << y;
      // Blended grey levels only: white text over black never gets a colour cast.
      ASSERT_TRUE(Red(p) == Green(p) && Green(p) == Blue(p));
      pure_white |= p == kWhite;
      ++inked;
    }
  }
  EXPECT_GT(inked, 40);
  EXPECT_TRUE(pure_white);
}

}  // namespace
}  // namespace vt::gfx
