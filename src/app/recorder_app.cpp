#include "app/recorder_app.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/sys/activation_channel.h"
#include "platform/sys/sys.h"
#include "skin/skin_archive.h"
#include "ui/exit_confirm.h"
#include "ui/hand_cursors.h"
#include "ui/recorder_window.h"
#include "ui/session_state.h"
#include "ui/sounds_folder.h"

namespace vt {
namespace {

void StartupMessage(const std::string& text) {
  win::ShowMessageBox(kAppName, text, win::MessageIcon::kWarning);
}

// How long a second start waits for the running window to come forward before its notice shows.
constexpr int kActivationWaitMs = 1000;

// What a second start hands over: the launcher's token where it gave one, else the moment of the
// start on the display's clock.
std::string ActivationToken() {
  for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
    const char* token = std::getenv(name);
    if (token != nullptr && *token != '\0' && std::string(token).find('\n') == std::string::npos)
      return token;
  }
  return "_TIME" + std::to_string(win::ServerTime());
}

// The user time in a token ("..._TIME<n>" as launchers write it); 0 (now) when it has none.
unsigned long UserTimeOf(const std::string& token) {
  const auto at = token.rfind("_TIME");
  if (at == std::string::npos) return 0;
  const std::string digits = token.substr(at + 5);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::strtoul(digits.c_str(), nullptr, 10);
}

bool IsSliderKey(win::Key key) {
  switch (key) {
    case win::Key::kLeft:
    case win::Key::kRight:
    case win::Key::kUp:
    case win::Key::kDown:
    case win::Key::kPageUp:
    case win::Key::kPageDown:
    case win::Key::kHome:
    case win::Key::kEnd:
      return true;
    default:
      return false;
  }
}

}  // namespace

CRecorderApp::CRecorderApp(audio::CAviFile& engine) : engine_(engine) {}

CRecorderApp::~CRecorderApp() = default;

bool CRecorderApp::ProcessMessageFilter(CAudioRecorderDlg& recorder, win::Window* active,
                                        win::KeyStroke key) {
  if (active != &recorder || key.alt) return false;
  switch (key.key) {
    case win::Key::kF1:
      recorder.OnHelp();
      break;
    case win::Key::kF4:
      recorder.OnPlayStop();
      break;
    case win::Key::kF5:
      recorder.OnRecordStop();
      break;
    case win::Key::kF8:
      recorder.OnPauseResume();
      break;
    case win::Key::kF9:
      recorder.OnCloseCommand();
      break;
    default:
      // A slider with the focus keeps its keyboard; nothing else in this window takes keys.
      if (IsSliderKey(key.key) && recorder.SliderHasFocus()) return false;
      break;
  }
  return true;
}

bool CRecorderApp::InitFolders() {
  AppPaths& paths = Paths();
  paths.program_folder = sys::ProgramFolder();
  if (paths.program_folder.empty()) return false;
  sys::SetCurrentDirectory(paths.program_folder);
  // A system-wide install (or a `sounds` that cannot take recordings) keeps them in the user's
  // own data folder instead.
  paths.sounds_folder = ChooseSoundsFolder(paths.program_folder);
  return true;
}

int CRecorderApp::Run() {
  if (!InitFolders()) {
    std::fprintf(stderr, "%s: cannot find the program's own folder\n", kAppName);
    return 1;
  }
  std::string display_error;
  const bool display = win::InitDisplay(&display_error);

  const SkinReadStatus skin = OpenSkin(Paths().program_folder);
  if (skin != SkinReadStatus::kOk) {
    const std::string archive = SkinArchivePath(Paths().program_folder);
    StartupMessage(skin == SkinReadStatus::kCannotOpen
                       ? "The skin archive " + archive + " cannot be opened."
                       : "The skin archive " + archive + " is damaged: " + Skin().damage + ".");
    win::ShutdownDisplay();
    return 1;
  }
  // Before the lock: a start that cannot show its window must not keep the next one out.
  if (!display) {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
      std::fprintf(stderr, "%s: cannot show the window: no display is set (DISPLAY is empty)\n",
                   kAppName);
    } else {
      std::fprintf(stderr, "%s: cannot show the window on the display \"%s\" (%s)\n", kAppName,
                   name, display_error.c_str());
    }
    ResetSkin();
    return 1;
  }
  sys::InstanceLock::Result lock_result{};
  auto instance = sys::InstanceLock::Acquire(kInstanceMarker, &lock_result);
  if (lock_result == sys::InstanceLock::Result::kHeldElsewhere) {
    // The running window comes forward first; the notice then shows above it, as its own.
    const std::optional<std::string> running_window =
        sys::RequestActivation(kInstanceMarker, ActivationToken(), kActivationWaitMs);
    CExitConfirm notice;
    if (running_window)
      notice.SetOwnerInAnotherProgram(std::strtoul(running_window->c_str(), nullptr, 10));
    notice.SetBackgroundName("alreadyrunning.bmp");
    notice.SetNoticeMode();
    notice.DoModal();
    win::ShutdownDisplay();
    ResetSkin();
    return 0;
  }

  Abilities().layered_windows_available = win::CompositingManagerRunning();
  win::RegisterCursor(win::Cursor::kGrab, GrabCursorImage());
  win::RegisterCursor(win::Cursor::kRelease, ReleaseCursorImage());

  {
    CAudioRecorderDlg recorder(engine_);
    // A second start brings this window forward; the request is answered (dropped) once done.
    auto channel = sys::ActivationChannel::Listen(
        kInstanceMarker, [&recorder](std::shared_ptr<sys::ActivationRequest> request) {
          win::PostToUi([&recorder, request] {
            recorder.Activate(UserTimeOf(request->Token()));
            request->Answer(std::to_string(recorder.X11WindowId()));
          });
        });
    win::SetKeyFilter([&recorder](win::Window* active, win::KeyStroke key) {
      return ProcessMessageFilter(recorder, active, key);
    });
    recorder.DoModal();
    win::SetKeyFilter(nullptr);
  }
  ResetSkin();
  win::ShutdownDisplay();
  return 0;
}

}  // namespace vt
