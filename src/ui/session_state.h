// The state of a recording session, shared with the display's and the capture side's threads.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

namespace vt {

// Written only by the user-interface thread; other threads read them without a lock.
struct SessionFlags {
  std::atomic<int> recording{0};
  std::atomic<int> recording_paused{0};
  std::atomic<int> playing{0};
  std::atomic<int> playback_paused{0};

  void Reset() {
    recording = 0;
    recording_paused = 0;
    playing = 0;
    playback_paused = 0;
  }
};
SessionFlags& Session();

// The elapsed time of the running recording, for the display: it stands still while paused.
// Reset by Record on the user-interface thread, read by the display's refresh thread.
class ElapsedTiming {
 public:
  using Clock = std::chrono::steady_clock;
  void Reset();
  void Pause();
  void Resume();
  double ElapsedSeconds() const;

 private:
  mutable std::mutex timing_mutex_;
  Clock::time_point counter_base_ = Clock::now();
  double elapsed_base_seconds_ = 0;
  bool paused_ = false;
};
ElapsedTiming& Timing();

// Where the program lives and writes; fixed at start-up.
struct AppPaths {
  std::string program_folder;  // ends with '/'
  std::string sounds_folder;   // ends with '/'
  std::string WorkingFile() const { return sounds_folder + "current.wav"; }
  std::string HelpPage() const { return program_folder + "help/index.html"; }
};
AppPaths& Paths();

// What the platform offers windows; found at start-up.
struct PlatformAbilities {
  bool layered_windows_available = false;  // a compositing manager runs
};
PlatformAbilities& Abilities();

// The program's name, which titles every message box.
inline constexpr const char* kAppName = "voxtape";

}  // namespace vt
