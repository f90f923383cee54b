#include "ui/source_list.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/audio/fake_mixer.h"
#include "platform/window/window.h"

namespace vt {
namespace {

class Frame : public win::Window {
 public:
  Frame() : win::Window({.title = "sources", .size = {400, 300}}) {}
};

// The list and the recording volume slider on a fake mixer, wired as the recorder window wires
// them.
class SourceListWiring : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"Microphone", "Line In", "Stereo Mix", "Wave Out Mix"})
      state_.sources.push_back({.name = name});
    state_.sources[1].volume = {49151, 49151};
    state_.sources[3].volume = {16383, 16383};
  }

  void Start() {
    mixer_ = std::make_unique<audio::CRecordingMixer>(
        [this] { return std::make_unique<audio::FakeMixer>(&state_); });
    list_ = frame_.Add(std::make_unique<CScrollableDialog>(157));
    slider_ = frame_.Add(std::make_unique<CCoolSlider>(1054));
    slider_->SetBounds({0, 200, 367, 27});
    slider_->SetRange(0, 200);
    slider_->SetPos(100);
    mixer_->OpenRecordingMixer();
    list_->Place({0, 0, 351, 141});
    ConnectSourceList(*mixer_, *list_, *slider_);
  }

  void ClickRow(int i) {
    const gfx::Rect r = list_->Row(i)->Bounds();
    frame_.DispatchMouseDown({r.x + 30, r.y + 8});
    frame_.DispatchMouseUp({r.x + 30, r.y + 8});
  }

  audio::FakeMixer::State state_;
  Frame frame_;
  std::unique_ptr<audio::CRecordingMixer> mixer_;
  CScrollableDialog* list_ = nullptr;
  CCoolSlider* slider_ = nullptr;
};

TEST_F(SourceListWiring, ChoosingASourceMovesTheSliderToItsVolumeAndTheSliderSetsIt) {
  Start();
  EXPECT_TRUE(list_->Row(3)->Checked());
  EXPECT_EQ(slider_->GetPos(), 25);

  ClickRow(1);
  EXPECT_EQ(state_.current, 1);
  EXPECT_EQ(slider_->GetPos(), 75);
  EXPECT_TRUE(list_->Row(1)->Checked());
  EXPECT_FALSE(list_->Row(3)->Checked());

  // The slider, moved by the user, sets the chosen source's volume; beyond 100 it is 100.
  const gfx::Rect thumb = slider_->ThumbRect();
  const gfx::Point grab{thumb.x + thumb.w / 2, thumb.y + 3};
  frame_.DispatchMouseDown(grab);
  frame_.DispatchMouseMove({slider_->XForPos(40), grab.y});
  frame_.DispatchMouseUp({slider_->XForPos(40), grab.y});
  EXPECT_EQ(slider_->GetPos(), 40);
  EXPECT_EQ(state_.sources[1].volume, (std::vector<std::uint32_t>{26212, 26212}));
  EXPECT_EQ(state_.sources[3].volume[0], 16383u);
  frame_.SetFocus(slider_);
  frame_.DispatchKeyDown({win::Key::kEnd});
  EXPECT_EQ(state_.sources[1].volume[0], audio::kVolumeFullScale);
}

TEST_F(SourceListWiring, ASourceThatHasGoneLeavesRowAndSliderAlone) {
  Start();
  state_.sources[2].present = false;
  ClickRow(2);
  EXPECT_FALSE(list_->Row(2)->Checked());
  EXPECT_TRUE(list_->Row(3)->Checked());
  EXPECT_EQ(state_.current, 3);
  EXPECT_EQ(slider_->GetPos(), 25);
}

TEST_F(SourceListWiring, TheSliderFollowsOnlyASourceCheckedInPlaceOfOneThatWent) {
  Start();
  ClickRow(1);
  ASSERT_EQ(slider_->GetPos(), 75);
  // Another source plugged in: rows made again, Line In still checked, the slider where it was.
  state_.sources.insert(state_.sources.begin(), {.name = "USB Mic", .volume = {6553, 6553}});
  state_.current = 2;
  state_.sources_changed = true;
  FollowSourceChanges(*mixer_, *list_, *slider_, true);
  EXPECT_EQ(list_->RowCount(), 5);
  EXPECT_TRUE(list_->Row(2)->Checked());
  EXPECT_EQ(slider_->GetPos(), 75);
  // Line In unplugged: Wave Out Mix is checked and the slider shows its volume.
  state_.sources.erase(state_.sources.begin() + 2);
  state_.current = -1;
  state_.sources_changed = true;
  FollowSourceChanges(*mixer_, *list_, *slider_, true);
  EXPECT_EQ(list_->RowCount(), 4);
  EXPECT_TRUE(list_->Row(3)->Checked());
  EXPECT_EQ(slider_->GetPos(), 25);
  // The slider acts on the source checked now.
  frame_.SetFocus(slider_);
  frame_.DispatchKeyDown({win::Key::kEnd});
  EXPECT_EQ(state_.sources[3].volume[0], audio::kVolumeFullScale);
  EXPECT_EQ(state_.sources[0].volume[0], 6553u);
}

TEST_F(SourceListWiring, WithoutASoundServerTheListIsEmptyAndTheSliderStays) {
  state_.open_fails = true;
  Start();
  EXPECT_EQ(list_->RowCount(), 0);
  EXPECT_EQ(slider_->GetPos(), 100);
  EXPECT_FALSE(mixer_->Available());
}

}  // namespace
}  // namespace vt
