// The player host on its own: its failures and the road of a report, and the position text.
#include "playback/media_player_host.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/audio/fake_player.h"
#include "platform/window/window.h"

namespace vt {
namespace {

struct CountingWindow : PlayerStopListener {
  int stopped = 0;
  void OnPlayerStopped() override { ++stopped; }
};

class MediaPlayerHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::RunPendingWork();  // nothing left over from another test
    RegisterRecorderWindow(&window_);
  }
  void TearDown() override { RegisterRecorderWindow(nullptr); }

  // Makes a host on a fake player.
  std::unique_ptr<CMediaPlayerHost> MakeHost() {
    auto host = std::make_unique<CMediaPlayerHost>();
    host->Create([this] {
      auto player = std::make_unique<audio::FakePlayer>();
      player_ = player.get();
      return player;
    });
    return host;
  }

  CountingWindow window_;
  audio::FakePlayer* player_ = nullptr;
};

TEST_F(MediaPlayerHostTest, WithoutAPlayerEveryOperationDoesNothing) {
  for (const bool with_factory : {false, true}) {
    CMediaPlayerHost host;
    if (with_factory) host.Create([] { return std::unique_ptr<audio::Player>(); });
    EXPECT_EQ(host.PlayerControls(), nullptr);
    EXPECT_EQ(host.PlayerSettings(), nullptr);
    host.PlayFile("/nowhere.wav");
    host.Close();
    host.Close();
    win::RunPendingWork();
    EXPECT_EQ(window_.stopped, 0);
    EXPECT_EQ(host.PositionText(), "");
  }
}

TEST_F(MediaPlayerHostTest, TheEndOfAPlaybackReachesTheRegisteredWindowOnce) {
  auto host = MakeHost();
  host->PlayFile("/sounds/current.wav");
  EXPECT_EQ(player_->Log(), std::vector<std::string>{"play /sounds/current.wav"});
  ASSERT_TRUE(player_->PlayOut());
  EXPECT_EQ(window_.stopped, 0) << "reported before it went through the user-interface thread";
  win::RunPendingWork();
  EXPECT_EQ(window_.stopped, 1);
  win::RunPendingWork();
  EXPECT_EQ(window_.stopped, 1);

  // No registered window: the report goes nowhere.
  RegisterRecorderWindow(nullptr);
  host->PlayFile("/sounds/current.wav");
  ASSERT_TRUE(player_->PlayOut());
  win::RunPendingWork();
  EXPECT_EQ(window_.stopped, 1);
}

TEST_F(MediaPlayerHostTest, AReportOfAClosedPlaybackIsDropped) {
  auto host = MakeHost();
  host->PlayFile("a.wav");
  ASSERT_TRUE(player_->PlayOut());
  host->Close();
  win::RunPendingWork();
  EXPECT_EQ(window_.stopped, 0);

  // Nor does a host that is gone receive one.
  host->PlayFile("a.wav");
  ASSERT_TRUE(player_->PlayOut());
  host.reset();
  win::RunPendingWork();
  EXPECT_EQ(window_.stopped, 0);
}

TEST_F(MediaPlayerHostTest, AFileThatCannotBePlayedIsReportedStoppedAtOnce) {
  auto host = MakeHost();
  player_->SetPlayError(std::make_error_code(std::errc::invalid_argument));
  host->PlayFile("broken.wav");
  win::RunPendingWork();
  EXPECT_EQ(window_.stopped, 1);
}

TEST_F(MediaPlayerHostTest, PositionTextComesFromThePlayer) {
  auto host = MakeHost();
  EXPECT_EQ(host->PositionText(), "") << "nothing open";
  host->PlayFile("a.wav");
  struct Case {
    double seconds;
    const char* text;
  };
  for (const Case& c :
       {Case{0, "00:00"}, Case{59.99, "00:59"}, Case{61, "01:01"}, Case{3599.5, "59:59"},
        Case{3600, "01:00:00"}, Case{36000 + 62, "10:01:02"}}) {
    player_->SetPositionSeconds(c.seconds);
    EXPECT_EQ(host->PositionText(), c.text) << c.seconds;
  }
  // The display may keep the position beyond the host's life: it then reads nothing.
  const std::shared_ptr<const PlayerPosition> kept = host->SharedPosition();
  EXPECT_EQ(kept->PositionText(), "10:01:02");
  host.reset();
  EXPECT_EQ(kept->PositionText(), "");
}

}  // namespace
}  // namespace vt
