// Playback as the buttons, keys, slider and the player's reports drive it: the states, the
// button texts, and what the player is asked, on a fake player.
#include <string>
#include <vector>

#include "playback/playback_volume.h"
#include "ui/recorder_fixture.h"

namespace vt::testing {
namespace {

using Dlg = CAudioRecorderDlg;

enum class State { kIdle, kRecording, kRecordingPaused, kPlaying, kPlaybackPaused };

const char* Name(State state) {
  switch (state) {
    case State::kIdle:
      return "idle";
    case State::kRecording:
      return "recording";
    case State::kRecordingPaused:
      return "recording paused";
    case State::kPlaying:
      return "playing";
    case State::kPlaybackPaused:
      return "playback paused";
  }
  return "?";
}

struct Texts {
  std::string label;
  std::string tip;
  bool operator==(const Texts&) const = default;
  friend void PrintTo(const Texts& t, std::ostream* os) {
    *os << '"' << t.label << "\", \"" << t.tip << '"';
  }
};

class Playback_ : public RecorderFixture {
 protected:
  // A recording of a tenth of a second in the working file, the window idle again.
  void MakeRecording() {
    window_->OnRecordStop();
    Feed(0.1);
    window_->OnRecordStop();
  }

  void Enter(State state) {
    MakeRecording();
    switch (state) {
      case State::kIdle:
        break;
      case State::kRecording:
        window_->OnRecordStop();
        break;
      case State::kRecordingPaused:
        window_->OnRecordStop();
        window_->OnPauseResume();
        break;
      case State::kPlaying:
        window_->OnPlayStop();
        break;
      case State::kPlaybackPaused:
        window_->OnPlayStop();
        window_->OnPauseResume();
        break;
    }
    ASSERT_EQ(Current(), state);
    player_->ClearLog();
  }

  State Current() const {
    const SessionFlags& s = Session();
    EXPECT_FALSE(s.recording && s.playing) << "recording and playing at once";
    if (s.recording) return s.recording_paused ? State::kRecordingPaused : State::kRecording;
    EXPECT_EQ(s.recording_paused, 0);
    if (s.playing) return s.playback_paused ? State::kPlaybackPaused : State::kPlaying;
    EXPECT_EQ(s.playback_paused, 0);
    return State::kIdle;
  }

  Texts TextsOf(Dlg::ControlId id) const {
    return {window_->ButtonLabel(id), window_->Button(id).TipText()};
  }

  // The player reports that the playback has been played out; the report is posted to the
  // user-interface thread and handled there.
  void PlayedOut() {
    ASSERT_TRUE(player_->PlayOut());
    win::RunPendingWork();
  }
};

const Texts kPlayTexts{"Play Sound", "Play last recording"};
const Texts kStopTexts{"Stop Sound", "Stop playback"};
const Texts kPauseTexts{"Pause", "Pause playback"};
const Texts kResumeTexts{"Resume", "Resume playback"};

TEST_F(Playback_, CommandsWalkTheStatesWithTheirTextsAndPlayerCalls) {
  enum class Command { kPlay, kPause, kStoppedReport, kPlayedOut, kRecord };
  struct Case {
    State from;
    Command command;
    State to;
    Texts play;   // empty: not checked
    Texts pause;  // empty: not checked
    std::vector<std::string> player;
  };
  const std::string play_call = "play " + WorkingFile();
  const Case cases[] = {
      {State::kIdle,
       Command::kPlay,
       State::kPlaying,
       kStopTexts,
       kPauseTexts,
       {"rewind", play_call}},
      {State::kIdle, Command::kPause, State::kIdle, {}, {}, {}},
      // A report while nothing plays runs the stop path anyway.
      {State::kIdle, Command::kStoppedReport, State::kIdle, kPlayTexts, kPauseTexts, {"close"}},
      {State::kPlaying, Command::kPlay, State::kIdle, kPlayTexts, kPauseTexts, {"close"}},
      {State::kPlaying,
       Command::kPause,
       State::kPlaybackPaused,
       kStopTexts,
       kResumeTexts,
       {"pause"}},
      {State::kPlaying, Command::kPlayedOut, State::kIdle, kPlayTexts, kPauseTexts, {"close"}},
      {State::kPlaybackPaused,
       Command::kPause,
       State::kPlaying,
       kStopTexts,
       kPauseTexts,
       {"resume"}},
      {State::kPlaybackPaused, Command::kPlay, State::kIdle, kPlayTexts, kPauseTexts, {"close"}},
      {State::kPlaybackPaused,
       Command::kStoppedReport,
       State::kIdle,
       kPlayTexts,
       kPauseTexts,
       {"close"}},
      {State::kPlaying,
       Command::kRecord,
       State::kRecording,
       kPlayTexts,
       {"Pause", "Pause recording"},
       {"close"}},
      // The writer holds the working file: Play does nothing, and a late report is ignored.
      {State::kRecording, Command::kPlay, State::kRecording, {}, {}, {}},
      {State::kRecordingPaused, Command::kPlay, State::kRecordingPaused, {}, {}, {}},
      {State::kRecording, Command::kStoppedReport, State::kRecording, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(Name(c.from)) + ", command " + std::to_string(int(c.command)));
    TearDown();
    SetUp();
    Enter(c.from);
    switch (c.command) {
      case Command::kPlay:
        window_->OnPlayStop();
        break;
      case Command::kPause:
        window_->OnPauseResume();
        break;
      case Command::kStoppedReport:
        window_->OnPlayerStopped();
        break;
      case Command::kPlayedOut:
        PlayedOut();
        break;
      case Command::kRecord:
        window_->OnRecordStop();
        break;
    }
    EXPECT_EQ(Current(), c.to) << Name(Current());
    if (!c.play.label.empty()) {
      EXPECT_EQ(TextsOf(Dlg::kPlay), c.play);
    }
    if (!c.pause.label.empty()) {
      EXPECT_EQ(TextsOf(Dlg::kPause), c.pause);
    }
    EXPECT_EQ(player_->Log(), c.player);
  }
}

TEST_F(Playback_, RecordDuringAPausedPlaybackClosesThePlayerWithBothPausesClearedFirst) {
  Enter(State::kPlaybackPaused);
  std::vector<std::string> at_close;
  player_->SetObserver([&](const std::string& call) {
    if (call != "close") return;
    const SessionFlags& s = Session();
    at_close.push_back("recording_paused=" + std::to_string(s.recording_paused) +
                       " playback_paused=" + std::to_string(s.playback_paused) +
                       " capturing=" + std::to_string(device_ && device_->IsStarted()));
  });
  device_ = nullptr;  // the last recording's device is gone; the next one is made by Record
  window_->OnRecordStop();
  EXPECT_EQ(at_close, std::vector<std::string>{"recording_paused=0 playback_paused=0 capturing=0"});
  EXPECT_EQ(Current(), State::kRecording);
  EXPECT_TRUE(device_->IsStarted());
  EXPECT_FALSE(player_->IsOpen());
}

TEST_F(Playback_, SaveDuringPlaybackClosesThePlayerBeforeTheDialog) {
  Enter(State::kPlaybackPaused);
  int dialogs_at_close = -1;
  player_->SetObserver([&](const std::string& call) {
    if (call == "close") dialogs_at_close = save_dialogs_;
  });
  save_choice_ = (folder_ / "copy.wav").string();
  window_->OnSaveRecording();
  EXPECT_EQ(dialogs_at_close, 0);
  EXPECT_EQ(save_dialogs_, 1);
  EXPECT_EQ(Current(), State::kIdle);
  EXPECT_EQ(TextsOf(Dlg::kPlay), kPlayTexts);
  EXPECT_EQ(TextsOf(Dlg::kPause), (Texts{"Pause", "Pause"}));
  EXPECT_EQ(ReadAll(save_choice_.value()), ReadAll(WorkingFile()));
}

TEST_F(Playback_, ExitDuringPlaybackClosesThePlayer) {
  for (const bool platform_close : {false, true}) {
    TearDown();
    SetUp();
    Enter(State::kPlaybackPaused);
    if (platform_close)
      window_->DispatchCloseRequest();
    else
      window_->OnCloseCommand();
    EXPECT_TRUE(window_->ModalEnded());
    EXPECT_EQ(Current(), State::kIdle);
    EXPECT_EQ(player_->Log(), std::vector<std::string>{"close"});
  }
}

TEST_F(Playback_, AReportOfAnEndedPlaybackDoesNotStopTheNextOne) {
  Enter(State::kPlaying);
  ASSERT_TRUE(player_->PlayOut());  // posted, not yet handled
  window_->OnPlayStop();            // Stop
  window_->OnPlayStop();            // and Play again
  win::RunPendingWork();
  EXPECT_EQ(Current(), State::kPlaying);
  PlayedOut();
  EXPECT_EQ(Current(), State::kIdle);
}

TEST_F(Playback_, APlaybackThatCannotStartOrGoOnEndsByItselfAndSaysWhy) {
  struct Case {
    std::errc error;
    bool while_playing;  // the server went away during the playback
    const char* words;
  };
  const Case cases[] = {
      {std::errc::connection_refused, false, "Nothing can be played: no sound server is running"},
      {std::errc::invalid_argument, false, "cannot be played"},
      {std::errc::connection_aborted, true, "The sound server stopped during playback"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    errors_.clear();
    Enter(State::kIdle);
    if (c.while_playing) {
      window_->OnPlayStop();
      ASSERT_TRUE(player_->Fail(std::make_error_code(c.error)));
    } else {
      player_->SetPlayError(std::make_error_code(c.error));
      window_->OnPlayStop();
      EXPECT_EQ(Current(), State::kPlaying);
    }
    win::RunPendingWork();
    EXPECT_EQ(Current(), State::kIdle);
    EXPECT_EQ(TextsOf(Dlg::kPlay), kPlayTexts);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find(c.words), std::string::npos) << errors_[0];
    player_->SetPlayError({});
  }
  // A playback heard to its end says nothing.
  errors_.clear();
  Enter(State::kPlaying);
  PlayedOut();
  EXPECT_TRUE(errors_.empty());
}

TEST_F(Playback_, TheVolumeSliderSetsThePlayersVolumeAlsoWhileIdle) {
  EXPECT_DOUBLE_EQ(player_->Volume(), 1.0) << "the recording's own level at start";
  Enter(State::kIdle);
  CCoolSlider& slider = window_->PlayVolume();
  for (int i = 0; i < 100; ++i) slider.OnKeyDown(win::Key::kLeft);
  ASSERT_EQ(slider.GetPos(), 0);
  EXPECT_DOUBLE_EQ(player_->Volume(), 0.0);
  window_->OnPlayStop();
  EXPECT_DOUBLE_EQ(player_->Volume(), 0.0) << "the next playback is silent";
  slider.OnKeyDown(win::Key::kEnd);
  EXPECT_DOUBLE_EQ(player_->Volume(), PlaybackGain(200));
}

TEST_F(Playback_, TheVolumeGrowsWithTheSliderFromSilenceThroughTheRecordingsLevel) {
  EXPECT_EQ(PlaybackGain(0), 0.0);
  EXPECT_DOUBLE_EQ(PlaybackGain(100), 1.0);
  EXPECT_NEAR(PlaybackGain(200), 3.375, 1e-12);
  for (int pos = 1; pos <= 200; ++pos) EXPECT_GT(PlaybackGain(pos), PlaybackGain(pos - 1)) << pos;
  EXPECT_EQ(PlaybackGain(-5), 0.0);
  EXPECT_EQ(PlaybackGain(250), PlaybackGain(200));
}

class PlaybackWithoutPlayer_ : public Playback_ {
 protected:
  PlaybackWithoutPlayer_() { with_player_ = false; }
};

TEST_F(PlaybackWithoutPlayer_, PlayStillFlipsTheFlagsAndTextsAndNoReportEverComes) {
  MakeRecording();
  EXPECT_EQ(player_, nullptr);
  window_->OnPlayStop();
  EXPECT_EQ(Current(), State::kPlaying);
  EXPECT_EQ(TextsOf(Dlg::kPlay), kStopTexts);
  win::RunPendingWork();
  EXPECT_EQ(Current(), State::kPlaying) << "a report came";
  // Pause only flips the flag: there is nothing to pause.
  const Texts pause_before = TextsOf(Dlg::kPause);
  window_->OnPauseResume();
  EXPECT_EQ(Current(), State::kPlaybackPaused);
  EXPECT_EQ(TextsOf(Dlg::kPause), pause_before);
  window_->PlayVolume().SetPos(0);
  window_->OnPlaybackVolume();
  EXPECT_EQ(window_->PlaybackPosition()->PositionText(), "");
  window_->OnPlayStop();
  EXPECT_EQ(Current(), State::kIdle);
  EXPECT_EQ(TextsOf(Dlg::kPlay), kPlayTexts);
}

}  // namespace
}  // namespace vt::testing
