// The recorder window: every control of the program, laid out over the skin, and the commands
// of a recording session.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "audio/recording_mixer.h"
#include "platform/window/window.h"
#include "playback/media_player_host.h"
#include "playback/player_event_sink.h"
#include "playback/player_position.h"
#include "skin/cool_slider.h"
#include "skin/radio_button.h"
#include "skin/scrollable_dialog.h"
#include "skin/skin_background.h"
#include "skin/skin_button.h"
#include "skin/status_display.h"
#include "ui/save_job.h"
#include "ui/save_recording.h"

namespace vt {

namespace audio {
class CAviFile;
}

// What the recorder asks of the desktop; tests put their own in.
struct RecorderServices {
  // Runs the exit question over the given screen area; true for OK.
  std::function<bool(gfx::Rect owner_area)> confirm_exit;
  // The desktop's save dialog, offering SaveTypes(); none when cancelled.
  std::function<std::optional<SaveChoice>()> choose_save_file;
  // Whether an existing file that the save dialog did not ask about (it got its extension after
  // the dialog) may be replaced.
  std::function<bool(const std::string& file)> confirm_replace;
  // Whether closing may stop the save still running (the question in full).
  std::function<bool(const std::string& question)> confirm_stop_saving;
  // A short word that a command has to wait (not an error).
  std::function<void(const std::string& text)> show_notice;
  std::function<void(const std::string& page)> open_help;
  std::function<void(const std::string& text)> show_error;
  // Makes the sound server's recording mixer; none: the source list stays empty.
  audio::MixerDeviceFactory mixer;
  // Makes the player of the last recording; without one the window runs without playback.
  CMediaPlayerHost::PlayerFactory make_player;

  static RecorderServices Desktop();
};

// The player host comes first among the bases so that it goes last, after the controls.
class CAudioRecorderDlg : public CMediaPlayerHost,
                          public win::Window,
                          public CSkinBackground,
                          public PlayerStopListener {
 public:
  enum ControlId {
    kClose = 1052,
    kMono = 1027,
    kStereo = 1029,
    kRate8000 = 1031,
    kRate11025 = 1033,
    kRate22050 = 1035,
    kRate44100 = 1036,
    kBits8 = 1037,
    kBits16 = 1038,
    kRecordVolume = 1054,
    kSourceFrame = 1050,
    kSourceList = 157,
    kRecord = 1124,
    kPlay = 1125,
    kSave = 1127,
    kPause = 1048,
    kHelp = 1039,
    kDisplay = 1129,
    kPlayVolume = 1130,
  };
  static constexpr gfx::Rect kSourceFrameRect{23, 67, 351, 141};
  static constexpr gfx::Rect kDisplayRect{23, 387, 351, 113};

  explicit CAudioRecorderDlg(audio::CAviFile& engine,
                             RecorderServices services = RecorderServices::Desktop());
  ~CAudioRecorderDlg() override;

  // Makes the native window, sets everything up, centres and runs it.
  int DoModal();
  // The set-up: skin, controls, their places and the default format.
  void InitDialog();

  // The commands, from the buttons and the keys.
  void OnHelp();
  void OnPlayStop();
  void OnRecordStop();
  void OnPauseResume();
  void OnSaveRecording();
  void OnCloseCommand();
  // The playback volume slider moved.
  void OnPlaybackVolume();
  // The player stopped by itself (the end of the file, or the sound server went away).
  void OnPlayerStopped() override;
  // A format radio was chosen: sets the one value it stands for.
  void OnFormatRadio(CRadioButton& radio);

  // The save running in the background (a compressed type), if any.
  const SaveJob* RunningSave() const { return save_job_.get(); }

  // Where the display reads the player's position while something plays.
  std::shared_ptr<const PlayerPosition> PlaybackPosition() const { return SharedPosition(); }

  bool SliderHasFocus() const;
  // Screen rectangle of the source list frame, where the exit question appears.
  gfx::Rect SourceFrameScreenRect() const;

  CSkinButton& Button(ControlId id) const;
  CRadioButton& Radio(ControlId id) const;
  CCoolSlider& RecordVolume() const { return *record_volume_; }
  CCoolSlider& PlayVolume() const { return *play_volume_; }
  CScrollableDialog& SourceList() const { return *source_list_; }
  audio::CRecordingMixer& Mixer() const { return *mixer_; }
  // The display panel; playback hands it the player's position (SetPlayerPosition).
  CStatusDisplay& Display() const { return *display_; }
  // The label a button carries (not drawn; its face shows the words).
  std::string ButtonLabel(ControlId id) const;

 protected:
  void PaintBackground(gfx::Surface& target) override { EraseBackground(*this, target); }
  void OnCommand(int id) override;
  // The window manager's close, Alt+F4 or a termination signal: a running recording is
  // completed before the window ends.
  void OnCloseRequest() override;
  void OnPointerOverControl(win::Control* control) override;
  void OnBackgroundMouseDown(gfx::Point) override;
  void OnBackgroundMouseUp(gfx::Point) override;

 private:
  static const win::CommandEntry<CAudioRecorderDlg> kCommands[];
  void SetButtonTexts(ControlId id, std::string label, std::string tip);
  void SetFormatRadiosEnabled(bool enabled);
  // The source list and its volume from the sound server, and the timer that keeps them current
  // (once; later calls do nothing).
  void OpenRecordingSources();
  void StartRecording();
  // Returns what completing the file gave (see CAviFile::StopCapture).
  std::error_code StopRecording();
  // A failure of the running recording (a posted event from the capture side): stops it and
  // says why.
  void OnRecordingFailed();
  void ShowError(const std::string& text);
  bool WorkingFileReadable() const;
  // The description of the input checked in the source list; empty when none is.
  std::string ChosenInputName() const;
  // For Play and Save: readable, and says why not when something else stands in its place.
  bool WorkingFileUsable();
  // "Voxtape is still saving NAME (P %)." for the running save.
  std::string StillSavingText() const;
  // While a save runs, Record, Play and Save wait for it: true (and a notice) then.
  bool RefusedWhileSaving();
  // The running save ended (a posted event from its thread).
  void OnSaveFinished(std::optional<std::string> message);
  // Playback (recorder_playback.cpp).
  void StartPlayback();
  void StopPlayback();
  void PlaybackPauseResume();
  // What Record, Save and exit do to a playback before they go on.
  void EndPlaybackForRecord();
  void EndPlaybackForSave();
  void EndPlaybackForExit();

  audio::CAviFile& engine_;
  RecorderServices services_;
  std::array<CRadioButton*, 8> radios_{};
  CCoolSlider* record_volume_ = nullptr;
  CCoolSlider* play_volume_ = nullptr;
  CScrollableDialog* source_list_ = nullptr;
  // The sources are still to be opened (by the task InitDialog posts, or by an early Record).
  bool sources_due_ = false;
  std::unique_ptr<audio::CRecordingMixer> mixer_;
  // The input the running recording records from, kept for the message should it go away.
  std::string recording_input_;
  CStatusDisplay* display_ = nullptr;
  std::array<std::string, 6> labels_;
  // The running save's progress, which the display shows, and the save itself.
  SaveJob::Progress save_progress_ = std::make_shared<std::atomic<int>>(-1);
  std::unique_ptr<SaveJob> save_job_;
  // Lets events posted by other threads find out whether this window still exists.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace vt
