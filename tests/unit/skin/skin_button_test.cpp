#include "skin/skin_button.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "controls_test_window.h"
#include "platform/gfx/text.h"

namespace vt {
namespace {

using test::ControlsTestWindow;

TEST(ChooseFaceTest, FollowsPointerAndPair) {
  struct Row {
    bool four_face;
    std::optional<bool> alternate;
    bool hover;
    std::optional<int> face;
  };
  const Row rows[] = {
      // Two faces: the first under the pointer, the "over" face otherwise, whatever the pair.
      {false, std::nullopt, true, 0},
      {false, std::nullopt, false, 1},
      {false, true, true, 0},
      {false, true, false, 1},
      // Four faces: the second pair while the session state says so.
      {true, false, true, 0},
      {true, false, false, 1},
      {true, true, true, 2},
      {true, true, false, 3},
      // Four faces without a state to follow: nothing.
      {true, std::nullopt, true, std::nullopt},
      {true, std::nullopt, false, std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ChooseFace(row.four_face, row.alternate, row.hover), row.face)
        << "four_face=" << row.four_face << " alternate=" << row.alternate.value_or(-1)
        << " hover=" << row.hover;
  }
}

constexpr gfx::Pixel kFaceColours[] = {gfx::Rgb(10, 0, 0), gfx::Rgb(20, 0, 0), gfx::Rgb(30, 0, 0),
                                       gfx::Rgb(40, 0, 0)};

// Faces of one colour each, with the key colour in their top-left pixel.
std::vector<gfx::Surface> Faces(int count, gfx::Size last_size) {
  std::vector<gfx::Surface> faces;
  for (int i = 0; i < count; ++i) {
    const bool last = i == count - 1;
    faces.emplace_back(last ? last_size.w : 30, last ? last_size.h : 30, kFaceColours[i]);
    faces.back().Set(0, 0, CSkinButton::kTransparencyKey);
  }
  return faces;
}

class SkinButtonTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetCurrentTipOwner(); }

  CSkinButton* AddButton(int id, int faces, gfx::Size size, gfx::Point at) {
    auto* button = window_.Add(std::make_unique<CSkinButton>(id));
    button->SetFaces(Faces(faces, size));
    button->SetPosition(at.x, at.y);
    return button;
  }

  gfx::Pixel PixelAt(gfx::Point p) {
    gfx::Surface painted;
    window_.PaintTo(painted);
    return painted.At(p.x, p.y);
  }

  ControlsTestWindow window_;
};

TEST_F(SkinButtonTest, DrawsTheChosenFaceKeyedAtItsPosition) {
  bool recording = false;
  CSkinButton* record = AddButton(1124, 4, {20, 10}, {50, 40});
  record->SetAlternateFaces([&] { return recording; });
  EXPECT_EQ(record->Bounds(), (gfx::Rect{50, 40, 20, 10}));  // the last face's size

  EXPECT_EQ(PixelAt({55, 45}), kFaceColours[1]);
  EXPECT_EQ(PixelAt({50, 40}), 0u);  // key colour: the background stays
  recording = true;
  EXPECT_EQ(PixelAt({55, 45}), kFaceColours[3]);
  window_.DispatchMouseMove({55, 45});
  EXPECT_EQ(PixelAt({55, 45}), kFaceColours[2]);
  window_.DispatchMouseMove({150, 100});
  EXPECT_EQ(PixelAt({55, 45}), kFaceColours[3]);

  CSkinButton* other = AddButton(7, 4, {20, 10}, {100, 40});
  EXPECT_EQ(other->CurrentFace(), std::nullopt);
  EXPECT_EQ(PixelAt({105, 45}), 0u);
}

TEST_F(SkinButtonTest, HoverEndsAtTheFirstCheckThatFindsThePointerOutside) {
  CSkinButton* close = AddButton(1052, 2, {20, 10}, {50, 40});
  window_.DispatchMouseMove({55, 45});
  ASSERT_TRUE(close->Hover());
  std::this_thread::sleep_for(std::chrono::milliseconds(CSkinButton::kHoverCheckMs + 20));
  win::RunPendingWork();
  EXPECT_TRUE(close->Hover()) << "the pointer still rests on it";
  // The pointer leaves the window across the button's edge.
  window_.DispatchMouseLeave();
  std::this_thread::sleep_for(std::chrono::milliseconds(CSkinButton::kHoverCheckMs + 20));
  win::RunPendingWork();
  EXPECT_FALSE(close->Hover());
  EXPECT_EQ(PixelAt({55, 45}), kFaceColours[1]);
}

TEST_F(SkinButtonTest, ClickSendsTheCommandOnlyWhenReleasedInsideWhileEnabled) {
  CSkinButton* save = AddButton(1127, 2, {20, 10}, {50, 40});
  window_.DispatchMouseDown({55, 45});
  window_.DispatchMouseUp({56, 46});
  EXPECT_EQ(window_.commands, std::vector<int>{1127});

  window_.DispatchMouseDown({55, 45});
  window_.DispatchMouseUp({10, 10});  // released elsewhere: no click
  save->SetEnabled(false);
  window_.DispatchMouseDown({55, 45});
  window_.DispatchMouseUp({55, 45});
  EXPECT_EQ(window_.commands, std::vector<int>{1127});
}

TEST_F(SkinButtonTest, TipFollowsThePointerFromButtonToButton) {
  CSkinButton* help = AddButton(1039, 2, {20, 40}, {10, 10});
  CSkinButton* close = AddButton(1052, 2, {20, 12}, {60, 10});
  CSkinButton* silent = AddButton(5, 2, {20, 12}, {110, 10});
  help->SetTipText("Voxtape Help");
  close->SetTipText("Exit Voxtape");

  window_.DispatchMouseMove({15, 15});
  ASSERT_NE(help->Tip(), nullptr);
  EXPECT_TRUE(help->Tip()->IsShown());
  EXPECT_EQ(CurrentTipOwner().owner, help);

  window_.DispatchMouseMove({65, 15});
  EXPECT_FALSE(help->Tip()->IsShown());
  ASSERT_NE(close->Tip(), nullptr);
  EXPECT_TRUE(close->Tip()->IsShown());
  EXPECT_EQ(CurrentTipOwner().owner, close);

  // The tip fits its width to the text; its height comes from the button, kept in 15 ... 25.
  const auto font = gfx::Font::OpenSans(kTipFontPixels);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(help->Tip()->ClientSize(),
            (gfx::Size{font->Measure("Voxtape Help").w + 8, kTipMaxHeight}));
  EXPECT_EQ(close->Tip()->ClientSize(),
            (gfx::Size{font->Measure("Exit Voxtape").w + 8, kTipMinHeight}));

  window_.DispatchMouseMove({115, 15});
  EXPECT_EQ(silent->Tip(), nullptr);
  EXPECT_EQ(CurrentTipOwner().owner, close);
}

TEST_F(SkinButtonTest, TipHidesAfterItsTimeAndReturnsOnTheNextMove) {
  CSkinButton* close = AddButton(1052, 2, {20, 12}, {60, 10});
  close->SetTipText("Exit Voxtape");
  window_.DispatchMouseMove({65, 15});
  window_.DispatchMouseMove({66, 15});  // a shown tip ignores further moves
  ASSERT_TRUE(close->Tip()->IsShown());

  std::this_thread::sleep_for(std::chrono::milliseconds(CSkinButton::kTipDurationMs + 30));
  win::RunPendingWork();
  EXPECT_FALSE(close->Tip()->IsShown());
  window_.DispatchMouseMove({67, 15});
  EXPECT_TRUE(close->Tip()->IsShown());
}

TEST_F(SkinButtonTest, DestroyedOwnerIsForgotten) {
  auto button = std::make_unique<CSkinButton>(1);
  button->SetFaces(Faces(2, {20, 12}));
  button->SetTipText("tip");
  button->ShowTip();
  ASSERT_EQ(CurrentTipOwner().owner, button.get());
  button.reset();
  EXPECT_EQ(CurrentTipOwner().owner, nullptr);
}

}  // namespace
}  // namespace vt
