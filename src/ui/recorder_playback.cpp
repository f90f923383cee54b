// The recorder window's playback: Play/Stop, the playback half of Pause/Resume, the playback
// volume, the player's stopped report and what Record, Save and exit do to a playback.
#include "platform/audio/player.h"
#include "playback/playback_volume.h"
#include "ui/recorder_window.h"
#include "ui/recording_errors.h"
#include "ui/session_state.h"

namespace vt {

void CAudioRecorderDlg::OnPlayStop() {
  if (RefusedWhileSaving()) return;
  // Nothing to play while the writer holds the working file, or when there is none.
  if (!WorkingFileUsable()) return;
  if (!Session().playing)
    StartPlayback();
  else
    StopPlayback();
}

void CAudioRecorderDlg::StartPlayback() {
  SessionFlags& session = Session();
  // Only when the writer failed to hold the file can a recording run here.
  if (session.recording) StopRecording();
  session.recording_paused = 0;
  session.playback_paused = 0;
  SetButtonTexts(kPause, "Pause", "Pause playback");
  Button(kPause).Invalidate();
  if (audio::Player* controls = PlayerControls()) controls->Rewind();
  session.playing = 1;
  PlayFile(Paths().WorkingFile());
  SetButtonTexts(kPlay, "Stop Sound", "Stop playback");
  Invalidate();
}

void CAudioRecorderDlg::StopPlayback() {
  SessionFlags& session = Session();
  session.playing = 0;
  session.recording_paused = 0;
  session.playback_paused = 0;
  Button(kPause).Invalidate();
  SetButtonTexts(kPause, "Pause", "Pause playback");
  Close();
  SetButtonTexts(kPlay, "Play Sound", "Play last recording");
  Invalidate();
}

void CAudioRecorderDlg::PlaybackPauseResume() {
  SessionFlags& session = Session();
  if (!session.playing) return;
  session.playback_paused = 1 - session.playback_paused;
  Button(kPause).Invalidate();
  audio::Player* controls = PlayerControls();
  if (!controls) return;
  if (session.playback_paused) {
    controls->Pause();
    SetButtonTexts(kPause, "Resume", "Resume playback");
  } else {
    controls->Resume();
    SetButtonTexts(kPause, "Pause", "Pause playback");
  }
}

void CAudioRecorderDlg::OnPlaybackVolume() {
  // Also while nothing plays: the player keeps it for the next playback.
  if (audio::Player* settings = PlayerSettings())
    settings->SetVolume(PlaybackGain(play_volume_->GetPos()));
}

void CAudioRecorderDlg::OnPlayerStopped() {
  // A report that arrives once a recording has started has nothing left to stop: Record closed
  // the player before it started.
  if (Session().recording) return;
  const audio::Player* player = PlayerControls();
  const std::error_code why = player != nullptr ? player->LastError() : std::error_code{};
  // The stop path whatever the state (also when idle): the window ends up idle. It needs no
  // readable working file, unlike the Stop button, so a file taken away while it played cannot
  // leave the window playing forever.
  StopPlayback();
  ShowError(PlaybackErrorText(why, Paths().WorkingFile()));
}

void CAudioRecorderDlg::EndPlaybackForRecord() {
  SessionFlags& session = Session();
  if (!session.playing) return;
  session.playing = 0;
  session.playback_paused = 0;
  Close();
  SetButtonTexts(kPlay, "Play Sound", "Play last recording");
  // A paused playback left "Resume" on the Pause button; it now pauses the recording.
  SetButtonTexts(kPause, "Pause", "Pause recording");
}

void CAudioRecorderDlg::EndPlaybackForSave() {
  SessionFlags& session = Session();
  if (!session.playing) return;
  session.playing = 0;
  session.recording_paused = 0;
  session.playback_paused = 0;
  SetButtonTexts(kPause, "Pause", "Pause");
  Close();
  SetButtonTexts(kPlay, "Play Sound", "Play last recording");
}

void CAudioRecorderDlg::EndPlaybackForExit() {
  SessionFlags& session = Session();
  if (!session.playing) return;
  Close();
  session.playback_paused = 0;
  session.playing = 0;
}

}  // namespace vt
