// The state of a recording session, shared with the display's and the capture side's threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
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

// A monotonic counter: its readings and the seconds one count lasts. Tests give their own.
struct MonotonicCounter {
  std::function<std::int64_t()> read;
  double seconds_per_count = 0;

  // The steady clock, in nanoseconds.
  static MonotonicCounter Steady();
};

// The elapsed time of the running recording, as the display shows it.
//
// Record resets it (user-interface thread); the display's refresh thread advances it about every
// 250 ms: the elapsed seconds are the counter's advance since `counter_base` plus the seconds that
// had elapsed at `counter_base`. While the recording is paused each refresh moves `counter_base` to
// the present and keeps the seconds as they stood, so the time stands still and goes on from there
// on resume. Pause and Resume (user-interface thread) mark the exact moments as well, so a pause
// neither loses nor gains the time between two refreshes.
class ElapsedTiming {
 public:
  ElapsedTiming();  // on the steady clock
  explicit ElapsedTiming(MonotonicCounter counter);

  // Tests put their own counter in; then Reset.
  void SetCounter(MonotonicCounter counter);
  // A recording starts: everything back to 0 from now.
  void Reset();
  void Pause();
  void Resume();
  // The refresh step while recording; `paused` is the session's recording-paused flag. Returns the
  // elapsed seconds.
  double Advance(bool paused);
  // As the last Reset, Pause, Resume or Advance left them.
  double ElapsedSeconds() const;

 private:
  std::int64_t ReadCounter() const { return counter_.read ? counter_.read() : 0; }
  double SecondsSinceBase() const;

  mutable std::mutex timing_mutex_;  // guards everything below
  MonotonicCounter counter_;
  std::int64_t counter_base_ = 0;
  double seconds_per_count_ = 0;
  double elapsed_base_seconds_ = 0;  // the elapsed seconds at counter_base_
  double elapsed_seconds_ = 0;
  bool paused_ = false;  // between Pause and Resume
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
