// The display panel of the recorder window: the clock and the date, the elapsed recording time (or
// the player's position), a three-digit volume reading, a microphone that blinks while recording, a
// pause symbol that blinks while paused and a row of activity bars, drawn with the digit glyphs and
// symbols of the skin over the pane image.
//
// A refresh thread recomputes the shown values every 250 ms and posts a repaint to the
// user-interface thread; it never touches a window. It reads the session through StatusInputs
// (functions that are safe from any thread), the volume readings the user-interface thread hands it
// and the player's position object. Its state is shared with the panel through a shared_ptr, so a
// thread that does not end in time when the panel goes away never touches the panel afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/gfx/surface.h"
#include "platform/window/window.h"
#include "playback/player_position.h"

namespace vt {

// The session as the display sees it.
struct SessionView {
  bool recording = false;
  bool recording_paused = false;
  bool playing = false;
  bool playback_paused = false;
};

struct LocalTime {
  int year = 1970;
  int month = 1;  // 1 ... 12
  int day = 1;    // 1 ... 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::int64_t epoch_seconds = 0;  // the same moment in whole seconds since 1970
};
LocalTime LocalTimeNow();

using SoundBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

// What the refresh thread reads; every function must be safe from any thread.
struct StatusInputs {
  std::function<SessionView()> session;
  // The elapsed-time step while recording, given the recording-paused flag; returns the seconds.
  std::function<double(bool recording_paused)> advance_elapsed;
  // The bytes of the latest buffer the capture device returned; null before the first one.
  std::function<SoundBytes()> latest_sound;
  std::function<LocalTime()> local_time = LocalTimeNow;
  // How far a save in the background has come, 0 ... 100; -1 (or none) while no save runs.
  std::function<int()> save_percent;
  // Tests that drive RefreshValues themselves run without the thread.
  bool run_worker = true;
};

// A digit cell shows a digit 0 ... 9, or nothing of its own (the pane shows through).
inline constexpr int kBlankCell = -1;

// The cells of the four readings. A character that is not a digit gives a blank cell.
std::array<int, 6> ClockCells(const LocalTime& time);
// Day first, or month first when date_order is 1; then the last two digits of the year.
std::array<int, 6> DateCells(const LocalTime& time, int date_order);
// Hours, minutes, seconds, hundredths; the hours cells are blank beyond 99 hours.
std::array<int, 8> ElapsedCells(double seconds);
// The player's "MM:SS" or "HH:MM:SS" in the first three pairs, 0 0 in the fourth.
std::array<int, 8> PositionCells(std::string_view text);
// A slider position as three digits (kept within 0 ... 999).
std::array<int, 3> VolumeCells(int position);

inline constexpr int kActivityBarCount = 60;
struct ActivityBar {
  int x = 0;
  int top = 0;
  int height = 0;  // zero or less: not drawn
};
using ActivityBars = std::array<ActivityBar, kActivityBarCount>;
// Bars from the recorded bytes, starting at `offset` (taken modulo the number of bytes).
ActivityBars SoundBars(std::span<const std::uint8_t> bytes, std::uint64_t offset);
// The pattern shown while no sound is at hand; it changes once a second.
ActivityBars PatternBars(std::int64_t epoch_seconds);
// A save's progress: the row filled from the left, full bars for the share done and a low line
// for the rest.
ActivityBars ProgressBars(int percent);

// What one refresh computed.
struct DisplayValues {
  std::array<int, 6> clock{};
  std::array<int, 6> date{};
  std::array<int, 8> time{};
  std::array<int, 3> volume{};
  SessionView session;
  SoundBytes sound;       // while recording, once the device returned a buffer
  int save_percent = -1;  // while a save runs in the background
  std::int64_t epoch_seconds = 0;
};

class CStatusDisplay : public win::Control {
 public:
  static constexpr gfx::Pixel kTransparencyKey = gfx::kPanelKey;
  static constexpr gfx::Pixel kBarColour = gfx::kAccent;
  static constexpr int kCellWidth = 13;
  static constexpr int kCellHeight = 17;
  static constexpr int kRefreshMs = 250;
  static constexpr int kStopWaitMs = 1500;
  static constexpr std::array<int, 6> kClockX{3, 18, 37, 52, 71, 86};
  static constexpr int kClockY = 32;
  static constexpr std::array<int, 6> kDateX{3, 18, 43, 58, 83, 98};
  static constexpr int kDateY = 85;
  static constexpr std::array<int, 8> kTimeX{142, 157, 176, 191, 210, 225, 244, 259};
  static constexpr int kTimeY = 32;
  static constexpr std::array<int, 3> kVolumeX{142, 155, 169};
  static constexpr int kVolumeY = 85;
  static constexpr gfx::Rect kMicrophoneRect{290, 13, 52, 52};
  static constexpr gfx::Rect kPauseRect{190, 80, 30, 24};

  CStatusDisplay(int id, StatusInputs inputs);
  ~CStatusDisplay() override;

  // Loads the glyphs, symbols and pane from the skin and starts the refresh thread. 0 when done;
  // 1 when an image is missing (nothing is drawn and no thread runs); 2 when the thread could not
  // be started. A second call stops the running thread first.
  int LoadPanelSkin(int date_order);
  bool Loaded() const { return loaded_; }
  bool WorkerRunning() const { return worker_.joinable(); }

  // Where the volume reading comes from while recording and while playing; user-interface
  // thread. The refresh thread sees their values as of the latest refresh.
  void SetVolumeSources(std::function<int()> record, std::function<int()> play);
  // The player whose position is shown while playing; null for none. Any thread.
  void SetPlayerPosition(std::shared_ptr<const PlayerPosition> position);

  // One refresh, as the thread runs it (tests run it themselves).
  void RefreshValues();
  // The user-interface thread's part of a refresh: the microphone and pause blink, the activity
  // bars move on, the volume readings are picked up and the panel's area is repainted.
  void OnRefreshed();
  DisplayValues Values() const;

  // Composes the panel into a copy of the pane and copies that to the window in one go.
  void Paint(gfx::Surface& target) override;
  // The window is dragged by its display.
  bool LetsMouseThrough() const override { return true; }

 private:
  struct Shared;
  // worker: the generation of the thread that refreshes; none for a refresh of the panel's own.
  static bool Refresh(Shared& shared, std::optional<std::uint64_t> worker);
  static void Worker(std::shared_ptr<Shared> shared, std::uint64_t generation);
  void StopWorker();
  void SampleVolumes();
  void DrawCell(int x, int y, int digit);

  const std::shared_ptr<Shared> shared_;
  std::thread worker_;
  std::function<int()> record_volume_;
  std::function<int()> play_volume_;

  bool loaded_ = false;
  gfx::Surface glyphs_;
  gfx::Surface microphone_;
  gfx::Surface microphone_on_;
  gfx::Surface pause_;
  gfx::Surface pane_;
  gfx::Surface composed_;  // the pane with everything laid over it

  // User-interface thread; they move once a refresh and persist across recordings.
  int microphone_counter_ = 0;
  int pause_counter_ = 0;
  std::uint64_t activity_offset_ = 0;
};

}  // namespace vt
