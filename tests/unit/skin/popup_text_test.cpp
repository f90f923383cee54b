#include "skin/popup_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vt {
namespace {

TEST(TipSizeTest, WidthFromTextHeightFromMarginOrPreviousHeightClamped) {
  struct Row {
    gfx::Size text;
    int h_margin, v_margin, height_before;
    gfx::Size expected;
  };
  const Row rows[] = {
      {{50, 13}, 4, 0, 40, {58, 25}},  // a 40 px button
      {{50, 13}, 4, 0, 12, {58, 15}},  // a 12 px button
      {{50, 13}, 4, 0, 20, {58, 20}},
      {{50, 13}, 4, 4, 40, {58, 21}},  // construction margins: the text's height decides
      {{50, 20}, 4, 4, 0, {58, 25}},
      {{0, 0}, 4, 4, 0, {8, 15}},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(TipSize(r.text, r.h_margin, r.v_margin, r.height_before), r.expected)
        << "text " << r.text.w << "x" << r.text.h << " margins " << r.h_margin << "," << r.v_margin
        << " before " << r.height_before;
  }
}

TEST(TipFaceTest, GradientMovesEachChannelByColumnAndEndsOnTheRightColour) {
  gfx::Surface s(10, 3);
  PaintTipFace(s, s.Bounds(), "", nullptr);
  // Column c (0-based) moves by (c + 1) * |difference| / 10, truncated; blue falls.
  EXPECT_EQ(s.At(0, 0), gfx::Rgb(60, 61, 51));
  EXPECT_EQ(s.At(2, 1), gfx::Rgb(92, 97, 48));
  EXPECT_EQ(s.At(4, 2), gfx::Rgb(125, 133, 45));
  EXPECT_EQ(s.At(9, 0), kTipGradientRight);
}

TEST(CPopupTextTest, SizesToTextAndPaintsWhiteTextOverTheGradient) {
  CPopupText tip;
  tip.Create({0, 0});
  tip.SetText("Pause");
  const auto font = gfx::Font::OpenSans(kTipFontPixels);
  ASSERT_NE(font, nullptr);
  const gfx::Size text = font->Measure("Pause");
  EXPECT_EQ(tip.ClientSize(), TipSize(text, 4, 4, 0));

  gfx::Surface painted;
  tip.PaintTo(painted);
  ASSERT_EQ(painted.GetSize(), tip.ClientSize());
  const int w = painted.Width();
  EXPECT_EQ(painted.At(0, 0), kTipBorderColour);
  EXPECT_EQ(painted.At(w - 1, 1), kTipBorderColour);
  EXPECT_EQ(painted.At(w - 2, 1), kTipGradientRight);  // the face's last column
  // The gradient's blue never passes 52, so bright blue in the middle row is the text.
  int text_pixels = 0;
  for (int x = 0; x < w; ++x) text_pixels += gfx::Blue(painted.At(x, painted.Height() / 2)) > 200;
  EXPECT_GT(text_pixels, 0);
}

TEST(CPopupTextTest, ShowAndHide) {
  CPopupText tip;
  tip.Create({0, 0});
  tip.Hide();  // not shown: nothing happens
  EXPECT_FALSE(tip.IsShown());

  tip.Show(0);  // no period: stays until hidden
  tip.Show(30);
  tip.Show(0);  // restarting without a period drops the running timer
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  win::RunPendingWork();
  EXPECT_TRUE(tip.IsShown());
  tip.Hide();
  EXPECT_FALSE(tip.IsShown());

  tip.Show(30);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  win::RunPendingWork();
  EXPECT_FALSE(tip.IsShown());
}

}  // namespace
}  // namespace vt
