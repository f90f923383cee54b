// The application: start-up, the single-instance guard, the recorder window's keys, shutdown.
#pragma once

#include <memory>

#include "platform/window/window.h"

namespace vt {

namespace audio {
class CAviFile;
}
class CAudioRecorderDlg;

// Names the single-instance lock, so that every copy of the program finds the same one.
inline constexpr const char* kInstanceMarker = "{5UASJRZDR1-D2O6-7H9b5-4T72-PE98939KASB901}";

class CRecorderApp {
 public:
  explicit CRecorderApp(audio::CAviFile& engine);
  ~CRecorderApp();

  // Runs the whole program; the process's exit status.
  int Run();

  // The recorder window's keys: while it is active every key-down is taken here; F1, F4, F5, F8
  // and F9 run its commands. The arrow, page, Home and End keys still move a focused slider.
  static bool ProcessMessageFilter(CAudioRecorderDlg& recorder, win::Window* active,
                                   win::KeyStroke key);

 private:
  bool InitFolders();
  audio::CAviFile& engine_;
};

}  // namespace vt
