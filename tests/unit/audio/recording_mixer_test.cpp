#include "audio/recording_mixer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/audio/fake_mixer.h"

namespace vt::audio {
namespace {

// A list that remembers what the mixer made of it.
class RecordingPanel final : public SourceListPanel {
 public:
  struct Item {
    int index;
    std::string caption;
    int top, bottom, left, right;
  };
  void SetExtent(int height) override { extent = height; }
  void RemoveItems() override {
    items.clear();
    checked = -1;
  }
  void CreateItem(int index, const std::string& caption, SourceItemRect r) override {
    items.push_back({index, caption, r.top, r.bottom, r.left, r.right});
  }
  void CheckItem(int index) override {
    for (const Item& item : items)
      if (item.index == index) checked = index;
  }

  int extent = -1;
  std::vector<Item> items;
  int checked = -1;
};

FakeMixer::State StateOf(const std::vector<std::string>& names) {
  FakeMixer::State state;
  for (const std::string& name : names) state.sources.push_back({.name = name});
  return state;
}

class MixerTest : public ::testing::Test {
 protected:
  // Opens the mixer on `state_` and builds the list, as the recorder window does.
  void Start() {
    mixer_ =
        std::make_unique<CRecordingMixer>([this] { return std::make_unique<FakeMixer>(&state_); });
    mixer_->OpenRecordingMixer();
    count_ = mixer_->BuildSourceList(panel_);
  }

  FakeMixer::State state_;
  RecordingPanel panel_;
  std::unique_ptr<CRecordingMixer> mixer_;
  unsigned count_ = 0;
};

TEST_F(MixerTest, FourSourcesPutWaveOutMixOnTheFourthRowAndSetItsMultiplexerItem) {
  state_ = StateOf({"Microphone", "Line In", "Stereo Mix", "Wave Out Mix"});
  Start();
  EXPECT_EQ(count_, 4u);
  EXPECT_EQ(panel_.extent, 80);
  ASSERT_EQ(panel_.items.size(), 4u);
  const int tops[] = {3, 22, 41, 60};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(panel_.items[i].index, i);
    EXPECT_EQ(panel_.items[i].caption, state_.sources[i].name);
    EXPECT_EQ(panel_.items[i].top, tops[i]);
    EXPECT_EQ(panel_.items[i].bottom - panel_.items[i].top, 16);
    EXPECT_EQ(panel_.items[i].left, 5);
    EXPECT_EQ(panel_.items[i].right, 400);
  }
  EXPECT_EQ(panel_.checked, 3);
  EXPECT_EQ(mixer_->SelectedSource(), 3);
  ASSERT_EQ(state_.mux_writes.size(), 1u);
  EXPECT_EQ(state_.mux_writes[0], (std::vector<bool>{true, false, false, false}));
  EXPECT_EQ(state_.current, 3);
}

TEST_F(MixerTest, Preselection) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    int server_current;  // the source the server records from before any choice
    int expected;        // checked and selected; -1 for none
  };
  const Case cases[] = {
      {"a lone source whatever its name", {"Built-in Audio"}, -1, 0},
      {"capitals and more text", {"Mic", "WAVE OUT MIX (USB Audio)", "Line"}, 0, 1},
      {"the last of several matches", {"Wave Out Mix", "Mic", "Monitor of wave out mix"}, 1, 2},
      {"no match: the server's current source", {"Microphone", "Line In", "Stereo Mix"}, 1, 1},
      {"no match and no current source", {"Microphone", "Line In"}, -1, -1},
      {"a near miss does not match", {"Wave-Out Mix", "WaveOut Mix"}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    state_ = StateOf(c.names);
    state_.current = c.server_current;
    panel_ = {};
    Start();
    EXPECT_EQ(count_, c.names.size());
    EXPECT_EQ(panel_.checked, c.expected);
    EXPECT_EQ(mixer_->SelectedSource(), c.expected);
    EXPECT_EQ(state_.current, c.expected);
  }
}

TEST_F(MixerTest, VolumeArithmetic) {
  state_ = StateOf({"Wave Out Mix"});
  Start();
  ASSERT_EQ(mixer_->SelectedSource(), 0);

  // Read: the first channel's value against 65532 for 100 percent, rounded down.
  const std::pair<std::uint32_t, unsigned> reads[] = {
      {49151, 75}, {16383, 25}, {1000, 1}, {32766, 50}, {65532, 100}, {65535, 100}, {0, 0}};
  for (const auto& [value, percent] : reads) {
    state_.sources[0].volume = {value, 7};
    EXPECT_EQ(mixer_->GetSourceVolume(), percent) << value;
  }

  // Write: every channel; above 100 percent is the server's normal volume, no louder.
  const std::pair<int, std::uint32_t> writes[] = {{33, 21625},  {99, 64876}, {0, 0},
                                                  {100, 65532}, {1, 655},    {50, 32766},
                                                  {150, 65532}, {200, 65532}};
  for (const auto& [percent, value] : writes) {
    state_.sources[0].volume = {12345, 54321};
    EXPECT_EQ(mixer_->SetSourceVolume(percent), std::min(percent, 100)) << percent;
    EXPECT_EQ(state_.sources[0].volume, (std::vector<std::uint32_t>{value, value})) << percent;
  }

  state_.volume_write_fails = true;
  EXPECT_EQ(mixer_->SetSourceVolume(40), -1);
  state_.volume_write_fails = false;
  state_.sources[0].has_volume = false;
  EXPECT_EQ(mixer_->GetSourceVolume(), 0u);
  EXPECT_EQ(mixer_->SetSourceVolume(40), 100);
}

TEST_F(MixerTest, ChoosingASourceMovesTheMultiplexerAndTheVolumeFollows) {
  state_ = StateOf({"Microphone", "Line In", "Wave Out Mix"});
  state_.sources[0].volume = {16383, 16383};
  Start();
  EXPECT_EQ(mixer_->GetSourceVolume(), 100u);

  EXPECT_EQ(mixer_->SelectSource(0), 0);  // item 0 (Wave Out Mix) was the true one
  EXPECT_EQ(state_.mux_writes.back(), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(mixer_->SelectedSource(), 0);
  EXPECT_EQ(mixer_->GetSourceVolume(), 25u);
  mixer_->SetSourceVolume(60);
  EXPECT_EQ(state_.sources[0].volume[0], 39319u);
  EXPECT_EQ(state_.sources[2].volume[0], 65535u);  // the others keep theirs

  // Out of range, or a source that has gone: nothing changes, and the mixer stays usable.
  const std::size_t writes = state_.mux_writes.size();
  EXPECT_EQ(mixer_->SelectSource(3), -1);
  EXPECT_EQ(mixer_->SelectSource(-1), -1);
  state_.sources[1].present = false;
  EXPECT_EQ(mixer_->SelectSource(1), -1);
  EXPECT_EQ(state_.mux_writes.size(), writes);
  EXPECT_EQ(mixer_->SelectedSource(), 0);
  EXPECT_TRUE(mixer_->Available());
  EXPECT_EQ(mixer_->SelectSource(2), 2);
  EXPECT_EQ(mixer_->SelectedSource(), 2);
}

TEST_F(MixerTest, NoSelectionLeavesTheMixerOpen) {
  // Several sources, none preselected: volume calls have no source to act on, and do not close
  // the mixer for the rest of the run.
  state_ = StateOf({"Microphone", "Line In"});
  Start();
  ASSERT_EQ(mixer_->SelectedSource(), -1);
  EXPECT_EQ(mixer_->GetSourceVolume(), 0u);
  EXPECT_EQ(mixer_->SetSourceVolume(50), -1);
  EXPECT_TRUE(mixer_->Available());
  EXPECT_EQ(mixer_->SelectSource(1), -1);  // no item was true before
  EXPECT_EQ(mixer_->GetSourceVolume(), 100u);
}

TEST_F(MixerTest, FailureRuleClosesTheMixerAndEveryLaterOperationDoesNothing) {
  struct Case {
    const char* what;
    void (*spoil)(FakeMixer::State&);
    int opens_closed;  // closes seen by the fake
  };
  const Case cases[] = {
      {"no sound server", [](FakeMixer::State& s) { s.open_fails = true; }, 0},
      {"the destination cannot be queried", [](FakeMixer::State& s) { s.destination_fails = true; },
       1},
      {"a source line cannot be queried",
       [](FakeMixer::State& s) { s.sources[1].query_fails = true; }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    state_ = StateOf({"Microphone", "Line In", "Wave Out Mix"});
    c.spoil(state_);
    panel_ = {};
    Start();
    EXPECT_FALSE(mixer_->Available());
    EXPECT_EQ(state_.closes, c.opens_closed);
    EXPECT_EQ(count_, 0u);
    EXPECT_TRUE(panel_.items.empty());
    // Every later operation fails quietly and touches nothing.
    state_.destination_fails = false;
    for (auto& source : state_.sources) source.query_fails = false;
    EXPECT_EQ(mixer_->SelectSource(2), -1);
    EXPECT_EQ(mixer_->GetSourceVolume(), 0u);
    EXPECT_EQ(mixer_->SetSourceVolume(10), -1);
    EXPECT_TRUE(state_.mux_writes.empty());
    EXPECT_EQ(state_.sources[2].volume[0], 65535u);
    EXPECT_EQ(state_.opens, 1);
  }
}

TEST_F(MixerTest, ADestinationWithoutSourcesCountsOneRowButMakesNone) {
  Start();
  EXPECT_EQ(count_, 1u);
  EXPECT_EQ(panel_.extent, 20);
  EXPECT_TRUE(panel_.items.empty());
  EXPECT_EQ(mixer_->SelectedSource(), -1);
  EXPECT_TRUE(mixer_->Available());
}

// The server's sources change under an open mixer, as devices are plugged in and out.
class LiveListTest : public MixerTest {
 protected:
  void Change(std::vector<std::string> names) {
    const std::string current = state_.current >= 0 ? state_.sources[state_.current].name : "";
    std::vector<FakeSource> sources;
    for (std::string& name : names) sources.push_back({.name = std::move(name)});
    state_.sources = std::move(sources);
    // The server's current source is the chosen one while it exists, else none.
    state_.current = -1;
    for (std::size_t i = 0; i < state_.sources.size(); ++i)
      if (state_.sources[i].name == current) state_.current = static_cast<int>(i);
    state_.sources_changed = true;
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const auto& item : panel_.items) captions.push_back(item.caption);
    return captions;
  }
  std::string Checked() const { return panel_.checked >= 0 ? Captions()[panel_.checked] : ""; }
};

TEST_F(LiveListTest, RowsFollowTheSourcesAndTheCheckStaysWithItsSource) {
  state_ = StateOf({"Microphone", "Line In"});
  state_.current = 1;
  Start();
  ASSERT_EQ(Checked(), "Line In");
  EXPECT_FALSE(mixer_->UpdateSourceList(panel_, true).rows_changed);  // nothing new

  Change({"USB Mic", "Microphone", "Line In"});
  auto update = mixer_->UpdateSourceList(panel_, true);
  EXPECT_TRUE(update.rows_changed);
  EXPECT_FALSE(update.selection_changed);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"USB Mic", "Microphone", "Line In"}));
  EXPECT_EQ(panel_.extent, 60);
  EXPECT_EQ(Checked(), "Line In");
  EXPECT_EQ(mixer_->SelectedSource(), 2);

  // Another source going away leaves the choice; the rows close up.
  Change({"USB Mic", "Line In"});
  update = mixer_->UpdateSourceList(panel_, true);
  EXPECT_FALSE(update.selection_changed);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"USB Mic", "Line In"}));
  EXPECT_EQ(panel_.items[1].top, 22);
  EXPECT_EQ(Checked(), "Line In");
  EXPECT_EQ(mixer_->SelectedSource(), 1);
}

TEST_F(LiveListTest, TheCheckedSourceGoneWhileIdleChecksWhatThePreselectionRulePicks) {
  state_ = StateOf({"Microphone", "Wave Out Mix", "Line In"});
  Start();
  ASSERT_EQ(mixer_->SelectSource(2), 1);
  ASSERT_EQ(mixer_->SelectedSource(), 2);

  Change({"Microphone", "Wave Out Mix"});
  const auto update = mixer_->UpdateSourceList(panel_, true);
  EXPECT_TRUE(update.selection_changed);
  EXPECT_EQ(Checked(), "Wave Out Mix");
  EXPECT_EQ(mixer_->SelectedSource(), 1);
  EXPECT_EQ(state_.current, 1);  // what the list shows is what Record uses

  // Back again: the choice made since stays.
  Change({"Microphone", "Wave Out Mix", "Line In"});
  EXPECT_FALSE(mixer_->UpdateSourceList(panel_, true).selection_changed);
  EXPECT_EQ(Checked(), "Wave Out Mix");
}

TEST_F(LiveListTest, DuringARecordingNothingElseIsChosenUntilItEnds) {
  state_ = StateOf({"Microphone", "Wave Out Mix", "Line In"});
  Start();
  ASSERT_EQ(mixer_->SelectSource(0), 1);
  const std::size_t writes = state_.mux_writes.size();

  Change({"Wave Out Mix", "Line In"});
  auto update = mixer_->UpdateSourceList(panel_, false);
  EXPECT_TRUE(update.selection_changed);
  EXPECT_EQ(panel_.checked, -1);
  EXPECT_EQ(mixer_->SelectedSource(), -1);
  EXPECT_EQ(state_.mux_writes.size(), writes);  // the recording's stream is not moved
  EXPECT_FALSE(mixer_->UpdateSourceList(panel_, false).rows_changed);

  // The first update after the recording makes the choice.
  update = mixer_->UpdateSourceList(panel_, true);
  EXPECT_TRUE(update.selection_changed);
  EXPECT_EQ(Checked(), "Wave Out Mix");
  EXPECT_EQ(state_.current, 0);
}

TEST_F(LiveListTest, AServerThatGoesAwayEmptiesTheListUntilItIsBack) {
  state_ = StateOf({"Microphone", "Wave Out Mix"});
  Start();
  ASSERT_EQ(Checked(), "Wave Out Mix");

  state_.destination_fails = true;  // the connection broke
  state_.sources_changed = true;
  auto update = mixer_->UpdateSourceList(panel_, true);
  EXPECT_TRUE(update.rows_changed);
  EXPECT_TRUE(panel_.items.empty());
  EXPECT_FALSE(mixer_->Available());
  EXPECT_EQ(mixer_->GetSourceVolume(), 0u);

  // Looked for again now and then, not at every update.
  state_.destination_fails = false;
  state_.open_fails = true;
  for (int i = 0; i < CRecordingMixer::kUpdatesPerReopen; ++i)
    mixer_->UpdateSourceList(panel_, true);
  EXPECT_EQ(state_.opens, 2);
  state_.open_fails = false;
  for (int i = 0; i < CRecordingMixer::kUpdatesPerReopen - 1; ++i)
    EXPECT_FALSE(mixer_->UpdateSourceList(panel_, true).rows_changed);
  update = mixer_->UpdateSourceList(panel_, true);
  EXPECT_TRUE(update.rows_changed);
  EXPECT_EQ(state_.opens, 3);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Microphone", "Wave Out Mix"}));
  EXPECT_EQ(Checked(), "Wave Out Mix");
  EXPECT_TRUE(mixer_->Available());
}

TEST(SourceNames, CutOnACharacterBoundary) {
  const std::string a62(62, 'a');
  const std::string a61(61, 'a');
  const std::pair<std::string, std::string> cases[] = {
      {"Mikrofon", "Mikrofon"},
      {a61 + "\xC3\xA9", a61 + "\xC3\xA9"},  // é ends at byte 63: kept
      {a62 + "\xC3\xA9", a62},               // é would end at byte 64
      {a61 + "\xE2\x82\xAC", a61},           // € would end at byte 64
      {std::string(70, 'x'), std::string(63, 'x')},
  };
  for (const auto& [name, cut] : cases) EXPECT_EQ(CutUtf8(name, kSourceNameMaxBytes), cut);

  FakeMixer::State state = StateOf({a62 + "\xC3\xA9 Wave Out Mix"});
  CRecordingMixer mixer([&state] { return std::make_unique<FakeMixer>(&state); });
  mixer.OpenRecordingMixer();
  RecordingPanel panel;
  mixer.BuildSourceList(panel);
  ASSERT_EQ(panel.items.size(), 1u);
  EXPECT_EQ(panel.items[0].caption, a62);
}

}  // namespace
}  // namespace vt::audio
