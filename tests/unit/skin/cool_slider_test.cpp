#include "skin/cool_slider.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "controls_test_window.h"

namespace vt {
namespace {

using test::ControlsTestWindow;

// The recording volume slider as the recorder window sets it up.
class CoolSliderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    slider_ = window_.Add(std::make_unique<CCoolSlider>(1054));
    slider_->SetBounds({16, 5, 367, 27});
    slider_->SetRange(0, 200);
    slider_->SetTickFrequency(1);
    slider_->SetPos(100);
    slider_->SetOnChange([this](CCoolSlider& s) { changes_.push_back(s.GetPos()); });
  }

  gfx::Point ThumbCentre() const {
    const gfx::Rect t = slider_->ThumbRect();
    return {t.x + t.w / 2, t.y + t.h / 2};
  }

  gfx::Pixel BandPixel() {
    gfx::Surface painted;
    window_.PaintTo(painted);
    const gfx::Point c = ThumbCentre();
    return painted.At(c.x, c.y);
  }

  ControlsTestWindow window_{{400, 40}};
  CCoolSlider* slider_ = nullptr;
  std::vector<int> changes_;
};

TEST_F(CoolSliderTest, KeysMoveByUnitPageOrToTheEnds) {
  struct Row {
    int from;
    win::Key key;
    int to;
  };
  const Row rows[] = {
      {100, win::Key::kLeft, 99},  {100, win::Key::kUp, 99},     {100, win::Key::kRight, 101},
      {100, win::Key::kDown, 101}, {100, win::Key::kPageUp, 60}, {100, win::Key::kPageDown, 140},
      {100, win::Key::kHome, 0},   {100, win::Key::kEnd, 200},   {190, win::Key::kPageDown, 200},
      {0, win::Key::kLeft, 0},     {100, win::Key::kF5, 100},
  };
  window_.DispatchMouseDown(ThumbCentre());  // a press gives the slider the focus
  window_.DispatchMouseUp(ThumbCentre());
  ASSERT_TRUE(slider_->Focused());
  for (const Row& r : rows) {
    slider_->SetPos(r.from);
    changes_.clear();
    window_.DispatchKeyDown({r.key});
    EXPECT_EQ(slider_->GetPos(), r.to) << "from " << r.from << " key " << static_cast<int>(r.key);
    // A change is reported once; no change, no report.
    EXPECT_EQ(changes_, r.to == r.from ? std::vector<int>{} : std::vector<int>{r.to});
  }
}

TEST_F(CoolSliderTest, PositionsAndColumnsCorrespond) {
  for (int pos = 0; pos <= 200; ++pos) ASSERT_EQ(slider_->PosForX(slider_->XForPos(pos)), pos);
  EXPECT_LT(slider_->XForPos(0), slider_->XForPos(1));
  EXPECT_EQ(slider_->PosForX(0), 0);
  EXPECT_EQ(slider_->PosForX(1000), 200);
  // The thumb stays inside the slider at both ends.
  slider_->SetPos(0);
  EXPECT_GE(slider_->ThumbRect().x, 16);
  slider_->SetPos(200);
  EXPECT_LE(slider_->ThumbRect().Right(), 16 + 367);
}

TEST_F(CoolSliderTest, ClickBesideTheThumbPagesAndDragFollowsThePointer) {
  const int y = ThumbCentre().y;
  window_.DispatchMouseDown({30, y});
  window_.DispatchMouseUp({30, y});
  EXPECT_EQ(slider_->GetPos(), 60);
  window_.DispatchMouseDown({370, y});
  window_.DispatchMouseUp({370, y});
  EXPECT_EQ(slider_->GetPos(), 100);

  // Grabbed off-centre, the thumb keeps its distance to the pointer.
  const gfx::Point grab{ThumbCentre().x + 2, y};
  window_.DispatchMouseDown(grab);
  window_.DispatchMouseMove({slider_->XForPos(150) + 2, y + 30});
  EXPECT_EQ(slider_->GetPos(), 150);
  window_.DispatchMouseMove({-50, y});
  EXPECT_EQ(slider_->GetPos(), 0);
  window_.DispatchMouseUp({-50, y});
  EXPECT_EQ(changes_, (std::vector<int>{60, 100, 150, 0}));
}

TEST_F(CoolSliderTest, ThumbIsRedWithAGreyBandOrangeWhilePressedOrFocused) {
  EXPECT_EQ(BandPixel(), CCoolSlider::kBandColour);
  gfx::Surface painted;
  window_.PaintTo(painted);
  const gfx::Rect t = slider_->ThumbRect();
  EXPECT_EQ(painted.At(t.x + t.w / 2, t.y + 1), CCoolSlider::kThumbColour);

  window_.DispatchMouseDown(ThumbCentre());
  EXPECT_EQ(BandPixel(), CCoolSlider::kActiveBandColour);  // pressed
  window_.DispatchMouseUp(ThumbCentre());
  EXPECT_EQ(BandPixel(), CCoolSlider::kActiveBandColour);  // focused
  // Another window (a question over this one) has the keyboard: the focus is not shown.
  window_.DispatchKeyboardFocus(false);
  EXPECT_EQ(BandPixel(), CCoolSlider::kBandColour);
  window_.DispatchKeyboardFocus(true);
  EXPECT_EQ(BandPixel(), CCoolSlider::kActiveBandColour);
  window_.SetFocus(nullptr);
  EXPECT_EQ(BandPixel(), CCoolSlider::kBandColour);
}

TEST_F(CoolSliderTest, WheelMovesTheSliderUnderThePointerByALineStep) {
  slider_->SetPos(100);
  const gfx::Point over = ThumbCentre();
  window_.DispatchMouseWheel(over, 1);
  EXPECT_EQ(slider_->GetPos(), 101);
  window_.DispatchMouseWheel(over, -3);
  EXPECT_EQ(slider_->GetPos(), 98);
  window_.DispatchMouseWheel({over.x, over.y + 100}, 5);  // not over the slider
  EXPECT_EQ(slider_->GetPos(), 98);
  EXPECT_EQ(changes_, (std::vector<int>{101, 98}));
}

TEST_F(CoolSliderTest, FilledSnapshotPaintsTheBackgroundOfAHorizontalSliderOnly) {
  gfx::Surface painted;
  window_.PaintTo(painted);
  EXPECT_EQ(painted.At(17, 6), 0u);  // not filled: the window shows through

  const gfx::Surface background(400, 40, gfx::Rgb(1, 2, 3));
  slider_->Snapshot().Fill(&background, slider_->Bounds());
  window_.PaintTo(painted);
  EXPECT_EQ(painted.At(17, 6), gfx::Rgb(1, 2, 3));
  EXPECT_EQ(painted.At(16 + 366, 5 + 26), gfx::Rgb(1, 2, 3));

  slider_->SetBounds({16, 5, 27, 27});
  slider_->Snapshot().Fill(&background, slider_->Bounds());
  window_.PaintTo(painted);
  EXPECT_EQ(painted.At(17, 6), 0u);
}

TEST_F(CoolSliderTest, TicksMarkEveryUnitUnderTheChannel) {
  slider_->SetBounds({16, 5, 216, 27});                  // 200 px of track: one column per unit
  slider_->Snapshot().Fill(nullptr, slider_->Bounds());  // a white background under the ticks
  gfx::Surface painted;
  window_.PaintTo(painted);
  const int y = slider_->ThumbRect().Bottom() + 1;
  for (int pos : {0, 1, 57, 199, 200})
    EXPECT_EQ(painted.At(slider_->XForPos(pos), y), CCoolSlider::kTickColour) << pos;
  slider_->SetTickFrequency(2);
  window_.PaintTo(painted);
  EXPECT_NE(painted.At(slider_->XForPos(57), y), CCoolSlider::kTickColour);
}

}  // namespace
}  // namespace vt
