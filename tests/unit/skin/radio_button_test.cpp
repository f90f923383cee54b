#include "skin/radio_button.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "controls_test_window.h"

namespace vt {
namespace {

using test::ControlsTestWindow;

// The recorder window's format radios: {Mono, Stereo}, {8000 ... 44100}, {8, 16 bits}.
class FormatRadiosTest : public ::testing::Test {
 protected:
  struct Spec {
    int id, group;
    gfx::Point at;
  };

  void SetUp() override {
    const Spec specs[] = {{1027, 0, {0, 0}},   {1029, 0, {20, 0}},  {1031, 1, {0, 20}},
                          {1033, 1, {20, 20}}, {1035, 1, {40, 20}}, {1036, 1, {60, 20}},
                          {1037, 2, {0, 40}},  {1038, 2, {20, 40}}};
    for (const Spec& s : specs) {
      auto* radio = window_.Add(std::make_unique<CRadioButton>(s.id));
      radio->SetBounds({s.at.x, s.at.y, 14, 15});
      radio->SetGroup(s.group);
      radio->SetOnChoose([this](CRadioButton& r) { chosen_.push_back(r.Id()); });
      radios_[s.id] = radio;
    }
    for (int id : {1029, 1036, 1038}) radios_[id]->SetChecked();
  }

  void ClickOn(int id) {
    const gfx::Rect r = radios_[id]->Bounds();
    window_.DispatchMouseDown({r.x + 5, r.y + 5});
    window_.DispatchMouseUp({r.x + 5, r.y + 5});
  }

  std::vector<int> CheckedIds() {
    std::vector<int> ids;
    for (const auto& [id, radio] : radios_)
      if (radio->Checked()) ids.push_back(id);
    return ids;
  }

  ControlsTestWindow window_;
  std::map<int, CRadioButton*> radios_;
  std::vector<int> chosen_;
};

TEST_F(FormatRadiosTest, ClickChoosesAndUnchecksOnlyItsOwnGroup) {
  ClickOn(1027);
  EXPECT_EQ(chosen_, std::vector<int>{1027});
  EXPECT_EQ(CheckedIds(), (std::vector<int>{1027, 1036, 1038}));

  ClickOn(1031);
  EXPECT_EQ(chosen_, (std::vector<int>{1027, 1031}));
  EXPECT_EQ(CheckedIds(), (std::vector<int>{1027, 1031, 1038}));
}

TEST_F(FormatRadiosTest, CheckedOrDisabledRadioIgnoresClicks) {
  ClickOn(1029);  // already checked
  radios_[1037]->SetEnabled(false);
  ClickOn(1037);
  radios_[1037]->Click();
  EXPECT_TRUE(chosen_.empty());
  EXPECT_EQ(CheckedIds(), (std::vector<int>{1029, 1036, 1038}));
}

TEST(RadioDrawingTest, BoxFrameMarkAndSnapshot) {
  ControlsTestWindow window;  // its background paints black
  auto* radio = window.Add(std::make_unique<CRadioButton>(1, "Line In"));
  radio->SetBounds({10, 10, 80, 15});
  gfx::Surface painted;

  struct Probe {
    gfx::Point at;
    gfx::Pixel unchecked, checked;
  };
  const Probe probes[] = {
      {{10, 10}, gfx::kAccent, gfx::kAccent},  // frame, top-left
      {{23, 24}, gfx::kAccent, gfx::kAccent},  // frame, bottom-right of 14 x 15
      {{12, 12}, 0, 0},                        // between frame and mark
      {{13, 13}, gfx::kWhite, gfx::kAccent},   // mark, first pixel
      {{20, 21}, gfx::kWhite, gfx::kAccent},   // mark, last pixel
      {{21, 21}, 0, 0},
  };
  window.PaintTo(painted);
  for (const Probe& p : probes)
    EXPECT_EQ(painted.At(p.at.x, p.at.y), p.unchecked) << p.at.x << "," << p.at.y;
  radio->SetChecked();
  window.PaintTo(painted);
  for (const Probe& p : probes)
    EXPECT_EQ(painted.At(p.at.x, p.at.y), p.checked) << p.at.x << "," << p.at.y;

  // With a snapshot its pixels come from the top-left area of the source, and the text is white.
  gfx::Surface source(200, 100, gfx::Rgb(0, 0, 90));
  source.Set(2, 2, gfx::Rgb(1, 2, 3));
  radio->CaptureBackground(&source);
  window.PaintTo(painted);
  EXPECT_EQ(painted.At(12, 12), gfx::Rgb(1, 2, 3));
  EXPECT_EQ(painted.At(12, 13), gfx::Rgb(0, 0, 90));
  int white = 0;
  for (int y = 10; y < 25; ++y)
    for (int x = 29; x < 90; ++x) white += painted.At(x, y) == gfx::kWhite;
  EXPECT_GT(white, 0);
}

}  // namespace
}  // namespace vt
