// The elapsed recording time on a counter the test moves: its refresh steps, pauses, and what the
// session's Record and Pause do to it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "recorder_fixture.h"
#include "ui/session_state.h"

namespace vt::testing {
namespace {

// A counter of milliseconds that moves only when the test says so.
struct FakeCounter {
  std::shared_ptr<std::atomic<std::int64_t>> ms = std::make_shared<std::atomic<std::int64_t>>(0);
  MonotonicCounter Counter() const {
    return {[ms = ms] { return ms->load(); }, 1e-3};
  }
  void Advance(std::int64_t by) { *ms += by; }
};

TEST(ElapsedTimingTest, AdvancesWithTheCounterFromReset) {
  FakeCounter counter;
  counter.Advance(123456);  // the counter does not start at 0
  ElapsedTiming timing(counter.Counter());
  EXPECT_EQ(timing.Advance(false), 0.0);
  counter.Advance((3600 + 5 * 60 + 7) * 1000 + 250);
  EXPECT_DOUBLE_EQ(timing.Advance(false), 3907.25);
  EXPECT_DOUBLE_EQ(timing.ElapsedSeconds(), 3907.25);
  timing.Reset();
  EXPECT_EQ(timing.ElapsedSeconds(), 0.0);
  counter.Advance(1500);
  EXPECT_DOUBLE_EQ(timing.Advance(false), 1.5);
}

// A 10 s pause, refreshed every 250 ms. Through the paused flag alone, the time goes on within one
// refresh of where it stood; with Pause and Resume at the moments of the key presses, exactly.
TEST(ElapsedTimingTest, APauseStandsStillAndGoesOnFromWhereItStood) {
  for (const bool marked : {false, true}) {
    FakeCounter counter;
    ElapsedTiming timing(counter.Counter());
    bool paused = false;
    const auto refresh_for = [&](std::int64_t ms) {
      // Refreshes at every whole 250 ms of the counter.
      for (std::int64_t t = 0; t < ms; t += 10) {
        counter.Advance(10);
        if (*counter.ms % 250 == 0) timing.Advance(paused);
      }
    };
    refresh_for(4130);  // pressed between two refreshes
    const double at_pause = 4.13;
    if (marked) timing.Pause();
    paused = true;
    refresh_for(10000);
    const double shown_paused = timing.ElapsedSeconds();
    refresh_for(3000);
    EXPECT_EQ(timing.ElapsedSeconds(), shown_paused) << "marked=" << marked;
    paused = false;
    if (marked) timing.Resume();
    refresh_for(2000);
    EXPECT_LE(shown_paused, at_pause) << "marked=" << marked;
    EXPECT_GT(shown_paused, at_pause - 0.25) << "marked=" << marked;
    EXPECT_NEAR(timing.Advance(false), at_pause + 2.0, marked ? 1e-9 : 0.25) << "marked=" << marked;
  }
}

class RecordTiming : public RecorderFixture {
 protected:
  void SetUp() override {
    RecorderFixture::SetUp();
    Timing().SetCounter(counter_.Counter());
  }
  void TearDown() override {
    RecorderFixture::TearDown();
    Timing().SetCounter(MonotonicCounter::Steady());
  }
  FakeCounter counter_;
};

TEST_F(RecordTiming, RecordStartsFromZeroAndPauseStopsTheTime) {
  window_->OnRecordStop();
  counter_.Advance(2000);
  EXPECT_DOUBLE_EQ(Timing().Advance(false), 2.0);
  window_->OnPauseResume();
  counter_.Advance(10000);
  EXPECT_DOUBLE_EQ(Timing().Advance(Session().recording_paused != 0), 2.0);
  window_->OnPauseResume();
  counter_.Advance(500);
  EXPECT_DOUBLE_EQ(Timing().Advance(Session().recording_paused != 0), 2.5);
  window_->OnRecordStop();

  // The next recording starts from 0, however the last one ended (here: paused).
  window_->OnRecordStop();
  window_->OnPauseResume();
  window_->OnRecordStop();
  window_->OnRecordStop();
  EXPECT_EQ(Timing().ElapsedSeconds(), 0.0);
  counter_.Advance(750);
  EXPECT_DOUBLE_EQ(Timing().Advance(false), 0.75);
}

}  // namespace
}  // namespace vt::testing
