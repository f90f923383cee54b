#include "ui/recorder_window.h"

#include <cerrno>
#include <memory>

#include "audio/capture_engine.h"
#include "platform/audio/player.h"
#include "platform/sys/sys.h"
#include "playback/playback_volume.h"
#include "skin/skin_archive.h"
#include "skin/skin_picture.h"
#include "skin/status_display.h"
#include "ui/exit_confirm.h"
#include "ui/recording_errors.h"
#include "ui/save_recording.h"
#include "ui/session_state.h"
#include "ui/sounds_folder.h"
#include "ui/source_list.h"

namespace vt {
namespace {

constexpr int kSourceListUpdateMs = 250;

struct ButtonSetup {
  CAudioRecorderDlg::ControlId id;
  gfx::Point position;
  std::vector<std::string_view> faces;
  const char* tip;
  const char* label;
};

// In the order the window sets them up.
const ButtonSetup kButtons[] = {
    {CAudioRecorderDlg::kClose, {335, 0}, {"close.bmp", "closeover.bmp"}, "Exit Voxtape", "Close"},
    {CAudioRecorderDlg::kHelp, {293, 0}, {"help.bmp", "helpover.bmp"}, "Voxtape Help", "Help"},
    {CAudioRecorderDlg::kRecord,
     {23, 500},
     {"startrecording.bmp", "startrecordingover.bmp", "stoprecording.bmp", "stoprecordingover.bmp"},
     "Start recording sound",
     "Start Recording"},
    {CAudioRecorderDlg::kPlay,
     {23, 542},
     {"playsound.bmp", "playsoundover.bmp", "stopplaysound.bmp", "stopplaysoundover.bmp"},
     "Play last recorded",
     "Play Sound"},
    {CAudioRecorderDlg::kPause,
     {163, 500},
     {"pause.bmp", "pauseover.bmp", "resume.bmp", "resumeover.bmp"},
     "Pause",
     "Pause"},
    {CAudioRecorderDlg::kSave,
     {266, 500},
     {"savesound.bmp", "savesoundover.bmp"},
     "Save last recording to file...",
     "Save Sound..."},
};

struct RadioSetup {
  CAudioRecorderDlg::ControlId id;
  gfx::Point position;
  int group;
};

// The three groups: channels, sample rate, bits per sample.
const RadioSetup kRadios[] = {
    {CAudioRecorderDlg::kMono, {285, 299}, 1},     {CAudioRecorderDlg::kStereo, {285, 320}, 1},
    {CAudioRecorderDlg::kRate8000, {29, 298}, 2},  {CAudioRecorderDlg::kRate11025, {29, 320}, 2},
    {CAudioRecorderDlg::kRate22050, {29, 343}, 2}, {CAudioRecorderDlg::kRate44100, {29, 364}, 2},
    {CAudioRecorderDlg::kBits8, {165, 298}, 3},    {CAudioRecorderDlg::kBits16, {165, 320}, 3},
};

struct SliderSetup {
  CAudioRecorderDlg::ControlId id;
  gfx::Rect bounds;
};
const SliderSetup kSliders[] = {
    {CAudioRecorderDlg::kRecordVolume, {16, 237, 367, 27}},
    {CAudioRecorderDlg::kPlayVolume, {164, 546, 219, 27}},
};

// What the display reads from its refresh thread.
StatusInputs DisplayInputs(audio::CAviFile& engine, SaveJob::Progress save_progress) {
  StatusInputs inputs;
  inputs.session = [] {
    const SessionFlags& s = Session();
    return SessionView{s.recording.load() != 0, s.recording_paused.load() != 0,
                       s.playing.load() != 0, s.playback_paused.load() != 0};
  };
  inputs.advance_elapsed = [](bool paused) { return Timing().Advance(paused); };
  // The engine lives as long as the process.
  inputs.latest_sound = [&engine] { return engine.LatestCaptureBuffer().bytes; };
  inputs.save_percent = [save_progress] { return save_progress->load(); };
  return inputs;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::size_t LabelSlot(CAudioRecorderDlg::ControlId id) {
  for (std::size_t i = 0; i < std::size(kButtons); ++i)
    if (kButtons[i].id == id) return i;
  return 0;
}

}  // namespace

const win::CommandEntry<CAudioRecorderDlg> CAudioRecorderDlg::kCommands[] = {
    {kRecord, &CAudioRecorderDlg::OnRecordStop}, {kClose, &CAudioRecorderDlg::OnCloseCommand},
    {kPlay, &CAudioRecorderDlg::OnPlayStop},     {kSave, &CAudioRecorderDlg::OnSaveRecording},
    {kPause, &CAudioRecorderDlg::OnPauseResume}, {kHelp, &CAudioRecorderDlg::OnHelp},
};

RecorderServices RecorderServices::Desktop() {
  RecorderServices services;
  services.confirm_exit = [](gfx::Rect owner_area) {
    CExitConfirm confirm;
    confirm.SetBackgroundName("exitconfirm.bmp");
    confirm.SetOwnerArea(owner_area);
    return confirm.DoModal() == CExitConfirm::kOk;
  };
  services.choose_save_file = []() -> std::optional<SaveChoice> {
    std::vector<sys::SaveFileFilter> filters;
    for (const SaveTypeEntry& entry : SaveTypes())
      filters.push_back({entry.filter_name, entry.pattern});
    std::optional<sys::SaveFileChoice> chosen;
    const unsigned long parent = win::ModalOwnerX11Id();
    win::RunWhileModal([&] { chosen = sys::ChooseSaveFile("Save Sound As", parent, filters); });
    if (!chosen) return std::nullopt;
    SaveChoice choice{chosen->path, std::nullopt};
    if (chosen->filter >= 0 && static_cast<std::size_t>(chosen->filter) < SaveTypes().size())
      choice.type = SaveTypes()[static_cast<std::size_t>(chosen->filter)].type;
    return choice;
  };
  services.confirm_replace = [](const std::string& file) {
    const std::string name = FileNameOf(file);
    const std::string folder =
        name.size() == file.size() ? "." : file.substr(0, file.size() - name.size());
    return win::AskQuestion(kAppName,
                            "A file named \"" + name + "\" already exists in " + folder +
                                ". Do you want to replace it?",
                            "Replace", "Cancel");
  };
  services.confirm_stop_saving = [](const std::string& question) {
    return win::AskQuestion(kAppName, question, "Stop and Close", "Keep Saving");
  };
  services.show_notice = [](const std::string& text) {
    win::ShowMessageBox(kAppName, text, win::MessageIcon::kWarning);
  };
  services.open_help = [](const std::string& page) { sys::StartDetached({"xdg-open", page}); };
  services.show_error = [](const std::string& text) {
    win::ShowMessageBox(kAppName, text, win::MessageIcon::kError);
  };
  services.mixer = audio::MakePulseMixer;
  services.make_player = [] { return audio::MakePulsePlayer(); };
  return services;
}

CAudioRecorderDlg::CAudioRecorderDlg(audio::CAviFile& engine, RecorderServices services)
    : win::Window({"Voxtape", {400, 600}, win::WindowKind::kDialog}),
      engine_(engine),
      services_(std::move(services)),
      mixer_(std::make_unique<audio::CRecordingMixer>(services_.mixer)) {
  // Controls in the order they lie on top of one another: frames first, buttons last.
  Add(std::make_unique<CSkinPicture>(kSourceFrame, false))->SetBounds(kSourceFrameRect);
  source_list_ = Add(std::make_unique<CScrollableDialog>(kSourceList));
  display_ =
      Add(std::make_unique<CStatusDisplay>(kDisplay, DisplayInputs(engine_, save_progress_)));
  display_->SetBounds(kDisplayRect);
  for (std::size_t i = 0; i < std::size(kRadios); ++i) {
    radios_[i] = Add(std::make_unique<CRadioButton>(kRadios[i].id));
    radios_[i]->SetGroup(kRadios[i].group);
  }
  record_volume_ = Add(std::make_unique<CCoolSlider>(kRecordVolume));
  play_volume_ = Add(std::make_unique<CCoolSlider>(kPlayVolume));
  for (const auto& b : kButtons) {
    Add(std::make_unique<CSkinButton>(b.id));
    labels_[LabelSlot(b.id)] = b.label;
  }
  SetDraggable(true);
}

CAudioRecorderDlg::~CAudioRecorderDlg() {
  save_job_.reset();
  ResetCurrentTipOwner();
  if (RegisteredRecorderWindow() == this) RegisterRecorderWindow(nullptr);
}

CSkinButton& CAudioRecorderDlg::Button(ControlId id) const {
  return *static_cast<CSkinButton*>(FindControl(id));
}

CRadioButton& CAudioRecorderDlg::Radio(ControlId id) const {
  return *static_cast<CRadioButton*>(FindControl(id));
}

std::string CAudioRecorderDlg::ButtonLabel(ControlId id) const {
  return labels_[LabelSlot(id)];
}

void CAudioRecorderDlg::SetButtonTexts(ControlId id, std::string label, std::string tip) {
  labels_[LabelSlot(id)] = std::move(label);
  Button(id).SetTipText(std::move(tip));
}

int CAudioRecorderDlg::DoModal() {
  CreateNative();
  InitDialog();
  CentreOnScreen();
  return RunModal();
}

void CAudioRecorderDlg::InitDialog() {
  // Before the player exists, so that its first report finds the window.
  RegisterRecorderWindow(this);
  SetTitle("Voxtape");
  LoadBackground(*this, "voxtape.bmp");
  // The same picture as the desktop's launcher icon; its key colour is left see-through.
  if (gfx::Surface icon; LoadSkinBitmapInto("appicon.bmp", icon)) SetIcon(icon, gfx::kWindowKey);

  for (const auto& b : kButtons) {
    CSkinButton& button = Button(b.id);
    if (b.faces.size() == 4)
      button.LoadImages(b.faces[0], b.faces[1], b.faces[2], b.faces[3]);
    else
      button.LoadImages(b.faces[0], b.faces[1]);
    button.SetPosition(b.position.x, b.position.y);
    button.SetTipText(b.tip);
  }
  // The toggling buttons show their second pair of faces while their state holds.
  Button(kRecord).SetAlternateFaces([] { return Session().recording.load() != 0; });
  Button(kPlay).SetAlternateFaces([] { return Session().playing.load() != 0; });
  Button(kPause).SetAlternateFaces([] {
    return Session().recording_paused.load() != 0 || Session().playback_paused.load() != 0;
  });

  static_cast<CSkinPicture*>(FindControl(kSourceFrame))->LoadImage("recorderoptions.bmp");

  for (const auto& s : kSliders) {
    CCoolSlider& slider = *static_cast<CCoolSlider*>(FindControl(s.id));
    slider.SetBounds(s.bounds);
    slider.Snapshot().Fill(HasBackground() ? &BackgroundSurface() : nullptr, s.bounds);
    slider.SetRange(0, 200);
    slider.SetTickFrequency(1);
    slider.SetPos(100);
  }
  play_volume_->SetOnChange([this](CCoolSlider&) { OnPlaybackVolume(); });

  // The recording sources, inside the frame; the slider then shows the chosen one's volume. The
  // sound server is asked once the window is on screen: the first picture does not wait for it.
  // Posted now, the opening is the first thing the window's loop takes up, ahead of any click.
  source_list_->LoadBackground("recorderoptions.bmp");
  source_list_->Place(kSourceFrameRect);
  sources_due_ = true;
  win::PostToUi([this, alive = std::weak_ptr<char>(alive_)] {
    if (alive.lock()) OpenRecordingSources();
  });
  display_->SetVolumeSources([this] { return record_volume_->GetPos(); },
                             [this] { return play_volume_->GetPos(); });
  // The date in the user's order; without its images the panel shows the skin beneath.
  display_->LoadPanelSkin(sys::DateMonthFirst() ? 1 : 0);

  for (std::size_t i = 0; i < std::size(kRadios); ++i) {
    radios_[i]->SetOnChoose([this](CRadioButton& radio) { OnFormatRadio(radio); });
    radios_[i]->SetBounds({kRadios[i].position.x, kRadios[i].position.y, 14, 15});
  }
  Radio(kStereo).SetChecked();
  Radio(kRate44100).SetChecked();
  Radio(kBits16).SetChecked();
  engine_.SetFormatChoice({2, 44100, 16});

  Create(services_.make_player);
  display_->SetPlayerPosition(PlaybackPosition());
  if (audio::Player* settings = PlayerSettings())
    settings->SetVolume(PlaybackGain(play_volume_->GetPos()));
  Invalidate();
}

void CAudioRecorderDlg::OpenRecordingSources() {
  if (!sources_due_) return;
  sources_due_ = false;
  mixer_->OpenRecordingMixer();
  ConnectSourceList(*mixer_, *source_list_, *record_volume_,
                    [this](const std::string& input) { recording_input_ = input; });
  // Inputs come and go with the desktop's devices; the list follows them within a second.
  if (services_.mixer) {
    StartTimer(kSourceListUpdateMs, [this] {
      FollowSourceChanges(*mixer_, *source_list_, *record_volume_, !Session().recording);
    });
  }
}

void CAudioRecorderDlg::OnCommand(int id) {
  win::DispatchCommand<CAudioRecorderDlg>(kCommands, this, id);
}

void CAudioRecorderDlg::OnFormatRadio(CRadioButton& radio) {
  audio::FormatChoice choice = engine_.GetFormatChoice();
  switch (radio.Id()) {
    case kMono:
      choice.channels = 1;
      break;
    case kStereo:
      choice.channels = 2;
      break;
    case kRate8000:
      choice.samples_per_sec = 8000;
      break;
    case kRate11025:
      choice.samples_per_sec = 11025;
      break;
    case kRate22050:
      choice.samples_per_sec = 22050;
      break;
    case kRate44100:
      choice.samples_per_sec = 44100;
      break;
    case kBits8:
      choice.bits_per_sample = 8;
      break;
    case kBits16:
      choice.bits_per_sample = 16;
      break;
    default:
      return;
  }
  engine_.SetFormatChoice(choice);
}

bool CAudioRecorderDlg::SliderHasFocus() const {
  const win::Control* focused = FocusedControl();
  return focused && (focused == record_volume_ || focused == play_volume_);
}

gfx::Rect CAudioRecorderDlg::SourceFrameScreenRect() const {
  const gfx::Point origin = ScreenPosition();
  const gfx::Rect frame = FindControl(kSourceFrame)->Bounds();
  return {origin.x + frame.x, origin.y + frame.y, frame.w, frame.h};
}

void CAudioRecorderDlg::OnPointerOverControl(win::Control* control) {
  HandlePointerOverControl(control);
}

void CAudioRecorderDlg::OnBackgroundMouseDown(gfx::Point) {
  SetCursor(win::Cursor::kGrab);
}

void CAudioRecorderDlg::OnBackgroundMouseUp(gfx::Point) {
  SetCursor(win::Cursor::kRelease);
}

void CAudioRecorderDlg::OnHelp() {
  if (services_.open_help) services_.open_help(Paths().HelpPage());
}

// ---- the session ----

void CAudioRecorderDlg::SetFormatRadiosEnabled(bool enabled) {
  for (CRadioButton* radio : radios_) radio->SetEnabled(enabled);
}

bool CAudioRecorderDlg::WorkingFileReadable() const {
  return sys::FileReadableUnlocked(Paths().WorkingFile());
}

std::string CAudioRecorderDlg::ChosenInputName() const {
  const std::optional<int> checked = source_list_->CheckedRow();
  const CRadioButton* row = checked ? source_list_->Row(*checked) : nullptr;
  return row != nullptr ? row->Text() : std::string();
}

bool CAudioRecorderDlg::WorkingFileUsable() {
  const std::string working = Paths().WorkingFile();
  if (sys::IsSpecialFile(working)) {
    ShowError(FileErrorText(EACCES, working));
    return false;
  }
  return WorkingFileReadable();
}

void CAudioRecorderDlg::StartRecording() {
  // A Record in the first instant of the window records from the input the list will show.
  OpenRecordingSources();
  SessionFlags& session = Session();
  // Before the flag, so the display never shows the last recording's time for this one.
  Timing().Reset();
  session.recording = 1;
  Button(kPause).Invalidate();
  SetFormatRadiosEnabled(false);
  EndPlaybackForRecord();
  // A failure found on the writer's or the device's thread comes here as a posted event.
  engine_.SetFailureCallback([alive = std::weak_ptr<char>(alive_), this] {
    win::PostToUi([alive, this] {
      if (alive.lock()) OnRecordingFailed();
    });
  });
  // The input first: the last take is replaced only once there is sound to replace it with,
  // so a Record that cannot start leaves it as it was.
  recording_input_ = ChosenInputName();
  if (const std::error_code device_error = engine_.OpenCaptureDevice()) {
    StopRecording();
    ShowError(OpenCaptureErrorText(device_error, ChosenInputName()));
    return;
  }
  const std::error_code file_error = OpenWorkingFileWithFallback(
      Paths().sounds_folder,
      [this](const std::string& path) { return engine_.OpenWaveFile(path); });
  if (file_error) {
    StopRecording();
    ShowError(OpenWorkingFileErrorText(file_error, Paths().WorkingFile()));
    return;
  }
  if (const std::error_code start_error = engine_.StartCapture()) {
    StopRecording();  // the file is completed, empty: the input went away as it opened
    ShowError(OpenCaptureErrorText(start_error, ChosenInputName()));
    return;
  }
  Timing().Reset();
  SetButtonTexts(kRecord, "Stop Recording", "Stop recording");
  Invalidate();
}

std::error_code CAudioRecorderDlg::StopRecording() {
  Session().recording = 0;
  Button(kPause).Invalidate();
  const std::error_code error = engine_.StopCapture();
  SetFormatRadiosEnabled(true);
  SetButtonTexts(kRecord, "Record Sound", "Start recording sound");
  Invalidate();
  return error;
}

void CAudioRecorderDlg::OnRecordingFailed() {
  SessionFlags& session = Session();
  const audio::CAviFile::Failure failure = engine_.RecordingFailure();
  // Late news of a recording already stopped, or of one before the running one.
  if (!session.recording || failure == audio::CAviFile::Failure::kNone) return;
  if (session.recording_paused) {
    session.recording_paused = 0;
    SetButtonTexts(kPause, "Pause", "Pause recording");
  }
  const std::error_code error = StopRecording();
  ShowError(RecordingFailureText(failure, error, Paths().WorkingFile(), recording_input_));
}

void CAudioRecorderDlg::ShowError(const std::string& text) {
  if (text.empty() || !services_.show_error) return;
  // The window shows the truth behind the message: the panel too, which would otherwise keep
  // its last refresh (a red microphone and a running time) until the message is closed.
  display_->RefreshValues();
  display_->Invalidate();
  PresentIfDirty();
  services_.show_error(text);
}

void CAudioRecorderDlg::OnRecordStop() {
  if (RefusedWhileSaving()) return;
  SessionFlags& session = Session();
  session.recording_paused = 0;
  session.playback_paused = 0;
  if (!session.recording) {
    StartRecording();
    return;
  }
  const std::error_code error = StopRecording();
  ShowError(RecordingFailureText(engine_.RecordingFailure(), error, Paths().WorkingFile()));
}

void CAudioRecorderDlg::OnPauseResume() {
  SessionFlags& session = Session();
  if (!session.recording) {
    PlaybackPauseResume();
    return;
  }
  // The time stops before the flag says paused and goes on after it says running, so the display's
  // refresh never counts a moment twice.
  if (!session.recording_paused) {
    Timing().Pause();
    session.recording_paused = 1;
    engine_.PauseCapture();
    SetButtonTexts(kPause, "Resume", "Resume recording");
  } else {
    session.recording_paused = 0;
    Timing().Resume();
    engine_.ResumeCapture();
    SetButtonTexts(kPause, "Pause", "Pause recording");
  }
  Button(kPause).Invalidate();
}

void CAudioRecorderDlg::OnSaveRecording() {
  if (RefusedWhileSaving()) return;
  const std::string working = Paths().WorkingFile();
  if (!WorkingFileUsable()) return;
  SessionFlags& session = Session();
  if (session.recording) {
    StopRecording();
    SetButtonTexts(kPause, "Pause", "Pause");
  }
  EndPlaybackForSave();
  Invalidate();
  if (!services_.choose_save_file) return;
  const std::optional<SaveChoice> chosen = services_.choose_save_file();
  if (!chosen) return;
  const SaveTarget target = SaveTargetFor(chosen->path, chosen->type);
  // The dialog asked about the name as typed; a name that got its extension here was not seen.
  if (target.path != chosen->path && sys::PathExists(target.path) &&
      !(services_.confirm_replace && services_.confirm_replace(target.path))) {
    return;
  }
  if (target.type == SaveType::kWav) {
    if (const auto error = CopyRecording(working, target.path)) ShowError(*error);
    return;
  }
  std::string message;
  save_job_ = SaveJob::Start(
      working, target, save_progress_,
      [this, alive = std::weak_ptr<char>(alive_)](std::optional<std::string> result) {
        win::PostToUi([this, alive, result = std::move(result)] {
          if (alive.lock()) OnSaveFinished(result);
        });
      },
      &message);
  if (!save_job_) ShowError(message);
  display_->RefreshValues();
  display_->Invalidate();
}

std::string CAudioRecorderDlg::StillSavingText() const {
  return "Voxtape is still saving " + FileNameOf(save_job_->TargetPath()) + " (" +
         std::to_string(std::max(0, save_job_->Percent())) + " %).";
}

bool CAudioRecorderDlg::RefusedWhileSaving() {
  if (!save_job_) return false;
  if (services_.show_notice)
    services_.show_notice(StillSavingText() + " Please wait until it is done.");
  return true;
}

void CAudioRecorderDlg::OnSaveFinished(std::optional<std::string> message) {
  // The thread has ended or is ending: this waits for it.
  save_job_.reset();
  save_progress_->store(-1);
  display_->RefreshValues();
  display_->Invalidate();
  if (message) ShowError(*message);
}

void CAudioRecorderDlg::OnCloseCommand() {
  if (save_job_) {
    const std::string question = StillSavingText() + " Stop saving and close? " +
                                 FileNameOf(save_job_->TargetPath()) + " is then not written.";
    // The save may end while the question is up; then there is nothing left to stop.
    if (!(services_.confirm_stop_saving && services_.confirm_stop_saving(question))) return;
    save_job_.reset();
    save_progress_->store(-1);
  } else if (services_.confirm_exit && !services_.confirm_exit(SourceFrameScreenRect())) {
    return;
  }
  if (Session().playing)
    EndPlaybackForExit();
  else if (Session().recording)
    StopRecording();
  EndModal(1);
}

void CAudioRecorderDlg::OnCloseRequest() {
  // A save still running is stopped: the chosen name is left as it was, the take stays.
  save_job_.reset();
  if (Session().recording) StopRecording();
  EndPlaybackForExit();
  EndModal(2);
}

}  // namespace vt
