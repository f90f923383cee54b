#include "skin/scrollable_dialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "controls_test_window.h"

namespace vt {
namespace {

using Request = ListScroll::Request;
using test::ControlsTestWindow;

TEST(ListScrollTest, Arithmetic) {
  // Three sources in a page of 100: nothing scrolls.
  ListScroll three{.y = 0, .page = 100, .extent = 60};
  EXPECT_FALSE(three.CanScroll());
  EXPECT_EQ(three.Distance(Request::kLineDown), 0);
  EXPECT_EQ(three.Distance(Request::kPageDown), 0);
  EXPECT_EQ(three.Distance(Request::kLineUp), 0);

  // Twelve sources (M = 140): lines of 7 and pages of 14, both ending exactly at 140.
  for (const auto& [request, step] : {std::pair{Request::kLineDown, 7}, {Request::kPageDown, 14}}) {
    ListScroll twelve{.y = 0, .page = 100, .extent = 240};
    int moves = 0;
    while (const int d = twelve.Distance(request)) {
      EXPECT_EQ(d, step);
      twelve.y += d;
      ++moves;
    }
    EXPECT_EQ(twelve.y, 140);
    EXPECT_EQ(moves, 140 / step);
  }
  ListScroll near_end{.y = 137, .page = 100, .extent = 240};
  EXPECT_EQ(near_end.Distance(Request::kLineDown), 3);
  EXPECT_EQ(near_end.Distance(Request::kPageDown), 3);

  // Up: back to 0 when the step is larger than the position.
  ListScroll up{.y = 3, .page = 100, .extent = 240};
  EXPECT_EQ(up.Distance(Request::kLineUp), -3);
  up.y = 20;
  EXPECT_EQ(up.Distance(Request::kLineUp), -7);
  EXPECT_EQ(up.Distance(Request::kPageUp), -14);
  // A short list still moves at least 5 pixels.
  ListScroll short_list{.y = 0, .page = 100, .extent = 120};
  EXPECT_EQ(short_list.Distance(Request::kLineDown), 5);

  ListScroll thumb{.y = 20, .page = 100, .extent = 240};
  EXPECT_EQ(thumb.ThumbDistance(50), 30);
}

class SourceListTest : public ::testing::Test {
 protected:
  static constexpr gfx::Rect kPlace{20, 30, 200, 100};
  static constexpr gfx::Pixel kFloor = gfx::Rgb(0x17, 0x19, 0x1c);
  static constexpr gfx::Pixel kUnder = gfx::Rgb(0, 0, 0);  // the test window's background

  void Fill(int rows) {
    gfx::Surface background(200, 100, kFloor);
    for (int x = 150; x < 170; ++x) background.Set(x, 90, gfx::Rgb(1, 2, 3));  // a mark
    background.Set(0, 0, gfx::kWindowKey);                                     // see-through corner
    list_ = window_.Add(std::make_unique<CScrollableDialog>(157));
    list_->SetBackgroundImage(std::move(background));
    list_->SetExtent(rows * 20);
    for (int i = 0; i < rows; ++i)
      list_->AddRow(i, "Source " + std::to_string(i), {5, 19 * i + 3, 395, 16});
    list_->Place(kPlace);
    list_->SetOnCommand([this](int i) {
      commands_.push_back(i);
      return accept_;
    });
  }

  void Click(gfx::Point p) {
    window_.DispatchMouseDown(p);
    window_.DispatchMouseUp(p);
  }
  // A point on the text of row i as it lies now.
  gfx::Point OnRow(int i) const {
    const gfx::Rect r = list_->Row(i)->Bounds();
    return {kPlace.x + r.x + 30, kPlace.y + r.y + 8};
  }
  gfx::Surface Painted() {
    gfx::Surface s;
    window_.PaintTo(s);
    return s;
  }

  ControlsTestWindow window_{{300, 200}};
  CScrollableDialog* list_ = nullptr;
  std::vector<int> commands_;
  bool accept_ = true;
};

TEST_F(SourceListTest, ThumbWheelAndBarMoveTheRowsButNotTheBackground) {
  Fill(12);  // E = 240, P = 100
  EXPECT_EQ(list_->Scroll().page, 100);
  const gfx::Surface before = Painted();
  EXPECT_EQ(before.At(kPlace.x + 160, kPlace.y + 90), gfx::Rgb(1, 2, 3));

  list_->ScrollThumbTo(20);
  EXPECT_EQ(list_->Row(0)->Bounds().y, 3 - 20);
  list_->ScrollThumbTo(50);
  EXPECT_EQ(list_->Row(0)->Bounds().y, 3 - 50);  // 30 further up
  EXPECT_EQ(list_->Row(11)->Bounds().y, 19 * 11 + 3 - 50);

  // The wheel: one notch is one line (7).
  list_->OnMouseWheel({kPlace.x + 50, kPlace.y + 50}, -1);
  EXPECT_EQ(list_->Scroll().y, 57);
  list_->OnMouseWheel({kPlace.x + 50, kPlace.y + 50}, 2);
  EXPECT_EQ(list_->Scroll().y, 43);

  // The bar's arrows and track, by the pointer.
  const gfx::Rect bar = list_->BarRect();
  Click({bar.x + 7, bar.Bottom() - 3});
  EXPECT_EQ(list_->Scroll().y, 50);
  Click({bar.x + 7, bar.y + 3});
  EXPECT_EQ(list_->Scroll().y, 43);
  const gfx::Rect thumb = list_->ThumbRect();
  ASSERT_FALSE(thumb.Empty());
  Click({bar.x + 7, thumb.Bottom() + 2});  // the track below the thumb: a page
  EXPECT_EQ(list_->Scroll().y, 57);
  // Dragging the thumb to the bottom of its track ends exactly at the last position.
  const gfx::Rect t = list_->ThumbRect();
  window_.DispatchMouseDown({t.x + 2, t.y + 2});
  window_.DispatchMouseMove({t.x + 2, t.y + 2 + 200});
  window_.DispatchMouseUp({t.x + 2, t.y + 2 + 200});
  EXPECT_EQ(list_->Scroll().y, 140);

  const gfx::Surface after = Painted();
  EXPECT_EQ(after.At(kPlace.x + 160, kPlace.y + 90), gfx::Rgb(1, 2, 3));  // background stayed
  EXPECT_EQ(after.At(kPlace.x, kPlace.y), kUnder);                        // key: see-through
}

TEST_F(SourceListTest, RowsMadeAgainKeepTheScrollWhereTheyCan) {
  Fill(12);
  list_->ScrollThumbTo(60);
  list_->CheckRow(4);
  // Made again with one more row: the position and the thumb follow the new extent.
  list_->RemoveRows();
  EXPECT_EQ(list_->RowCount(), 0);
  EXPECT_FALSE(list_->CheckedRow());
  list_->SetExtent(13 * 20);
  for (int i = 0; i < 13; ++i)
    list_->AddRow(i, "Source " + std::to_string(i), {5, 19 * i + 3, 395, 16});
  EXPECT_EQ(list_->Scroll().y, 60);
  EXPECT_EQ(list_->Row(12)->Bounds().y, 19 * 12 + 3 - 60);
  const gfx::Rect thumb = list_->ThumbRect();
  const gfx::Rect bar = list_->BarRect();
  list_->ScrollThumbTo(list_->Scroll().Max());
  EXPECT_EQ(list_->ThumbRect().Bottom(), bar.Bottom() - CScrollableDialog::kArrowHeight);
  EXPECT_LT(list_->ThumbRect().h, thumb.h + 1);

  // Made again shorter than the scroll position: the end of the list sits at the bottom.
  list_->RemoveRows();
  list_->SetExtent(7 * 20);
  for (int i = 0; i < 7; ++i)
    list_->AddRow(i, "Source " + std::to_string(i), {5, 19 * i + 3, 395, 16});
  EXPECT_EQ(list_->Scroll().y, 40);
  EXPECT_EQ(list_->Row(6)->Bounds().y, 19 * 6 + 3 - 40);
  // And too short to scroll at all: back at the top, no thumb.
  list_->RemoveRows();
  list_->SetExtent(3 * 20);
  list_->AddRow(0, "Source 0", {5, 3, 395, 16});
  EXPECT_EQ(list_->Scroll().y, 0);
  EXPECT_EQ(list_->Row(0)->Bounds().y, 3);
  EXPECT_TRUE(list_->ThumbRect().Empty());
}

TEST_F(SourceListTest, RowsAndBarStayInsideThePanel) {
  Fill(12);
  list_->ScrollThumbTo(30);  // row 1 now straddles the top edge
  const gfx::Surface s = Painted();
  for (int x = 0; x < s.Width(); ++x) {
    for (int y = 0; y < s.Height(); ++y) {
      if (kPlace.Contains({x, y})) continue;
      ASSERT_EQ(s.At(x, y), kUnder) << x << "," << y;
    }
  }
  // Something of the rows (box frames in the accent colour) and the accent thumb are drawn.
  int accent_in_rows = 0;
  for (int y = kPlace.y; y < kPlace.Bottom(); ++y)
    accent_in_rows += s.At(kPlace.x + 5, y) == gfx::kAccent;
  EXPECT_GT(accent_in_rows, 0);
  const gfx::Rect thumb = list_->ThumbRect();
  EXPECT_EQ(s.At(thumb.x + thumb.w / 2, thumb.y + thumb.h / 2), gfx::kAccent);
}

TEST_F(SourceListTest, BarStaysShownButDisabledWhenNothingScrolls) {
  Fill(3);
  EXPECT_TRUE(list_->ThumbRect().Empty());
  const gfx::Rect bar = list_->BarRect();
  Click({bar.x + 7, bar.Bottom() - 3});
  list_->OnMouseWheel({kPlace.x + 50, kPlace.y + 50}, -3);
  EXPECT_EQ(list_->Scroll().y, 0);
  const gfx::Surface s = Painted();
  int accent = 0, drawn = 0;
  for (int y = bar.y; y < bar.Bottom(); ++y)
    for (int x = bar.x; x < bar.Right(); ++x) {
      accent += s.At(x, y) == gfx::kAccent;
      drawn += s.At(x, y) != kFloor;
    }
  EXPECT_EQ(accent, 0);
  EXPECT_EQ(drawn, bar.w * bar.h);  // the bar covers its strip
}

TEST_F(SourceListTest, ClickRunsTheCommandThenChecksTheRow) {
  Fill(4);
  list_->CheckRow(3);
  Click(OnRow(1));
  EXPECT_EQ(commands_, std::vector<int>{1});
  EXPECT_TRUE(list_->Row(1)->Checked());
  EXPECT_FALSE(list_->Row(3)->Checked());
  EXPECT_EQ(list_->CheckedRow(), 1);

  // A command that refuses (the source has gone) leaves the rows as they are.
  accept_ = false;
  Click(OnRow(2));
  EXPECT_EQ(commands_, (std::vector<int>{1, 2}));
  EXPECT_FALSE(list_->Row(2)->Checked());
  EXPECT_TRUE(list_->Row(1)->Checked());

  // Clicking the checked row runs the command again but changes no row.
  accept_ = true;
  Click(OnRow(1));
  EXPECT_EQ(commands_, (std::vector<int>{1, 2, 1}));
  EXPECT_TRUE(list_->Row(1)->Checked());
  EXPECT_EQ(list_->CheckedRow(), 1);
}

TEST_F(SourceListTest, ClicksFollowTheScrolledRows) {
  Fill(12);
  list_->ScrollThumbTo(140);
  Click(OnRow(11));
  EXPECT_EQ(commands_, std::vector<int>{11});
  EXPECT_TRUE(list_->Row(11)->Checked());
  // Rows scrolled out of the panel take no clicks; the bar takes its own.
  Click({kPlace.x + 30, kPlace.y - 5});
  const gfx::Rect bar = list_->BarRect();
  Click({bar.x + 7, bar.y + 50});
  EXPECT_EQ(commands_, std::vector<int>{11});
}

}  // namespace
}  // namespace vt
