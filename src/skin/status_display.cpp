#include "skin/status_display.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "skin/skin_archive.h"

namespace vt {
namespace {

int CellOf(char c) {
  return c >= '0' && c <= '9' ? c - '0' : kBlankCell;
}

// The two cells of a value 0 ... 99.
void PutPair(int* cells, int value) {
  cells[0] = value / 10 % 10;
  cells[1] = value % 10;
}

bool PauseShown(const SessionView& s) {
  return (s.recording && s.recording_paused) || (s.playing && s.playback_paused);
}

}  // namespace

LocalTime LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  LocalTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.epoch_seconds = static_cast<std::int64_t>(now);
  return t;
}

std::array<int, 6> ClockCells(const LocalTime& time) {
  std::array<int, 6> cells{};
  PutPair(&cells[0], time.hour);
  PutPair(&cells[2], time.minute);
  PutPair(&cells[4], time.second);
  return cells;
}

std::array<int, 6> DateCells(const LocalTime& time, int date_order) {
  std::array<int, 6> cells{};
  const bool month_first = date_order == 1;
  PutPair(&cells[0], month_first ? time.month : time.day);
  PutPair(&cells[2], month_first ? time.day : time.month);
  PutPair(&cells[4], ((time.year % 100) + 100) % 100);
  return cells;
}

std::array<int, 8> ElapsedCells(double seconds) {
  std::array<int, 8> cells{};
  if (!(seconds > 0)) return cells;  // also NaN
  // In whole hundredths, so that a value such as 7.29 s is not shown as 7.28 s.
  const auto hundredths = static_cast<std::int64_t>(std::floor(seconds * 100.0 + 1e-6));
  const std::int64_t whole = hundredths / 100;
  const std::int64_t hours = whole / 3600;
  if (hours > 99) {
    cells[0] = cells[1] = kBlankCell;
  } else {
    PutPair(&cells[0], static_cast<int>(hours));
  }
  PutPair(&cells[2], static_cast<int>(whole / 60 % 60));
  PutPair(&cells[4], static_cast<int>(whole % 60));
  PutPair(&cells[6], static_cast<int>(hundredths % 100));
  return cells;
}

std::array<int, 8> PositionCells(std::string_view text) {
  std::array<int, 8> cells{};
  constexpr std::size_t kAt[] = {0, 1, 3, 4, 6, 7};
  for (std::size_t i = 0; i < std::size(kAt); ++i)
    cells[i] = kAt[i] < text.size() ? CellOf(text[kAt[i]]) : kBlankCell;
  cells[6] = cells[7] = 0;
  return cells;
}

std::array<int, 3> VolumeCells(int position) {
  position = std::clamp(position, 0, 999);
  return {position / 100, position / 10 % 10, position % 10};
}

ActivityBars SoundBars(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  ActivityBars bars{};
  for (int k = 0; k < kActivityBarCount; ++k) {
    ActivityBar& bar = bars[k];
    bar.x = 340 - 2 * k;
    if (bytes.empty()) continue;
    const auto s = static_cast<std::int8_t>(bytes[(offset + k) % bytes.size()]);
    const int v = ((78 - s) * 3) % 13;  // -12 ... 12, with the sign of (78 - s)
    bar.top = 84 - v;
    bar.height = 2 * v + 12;
  }
  return bars;
}

ActivityBars PatternBars(std::int64_t epoch_seconds) {
  ActivityBars bars{};
  std::minstd_rand random(static_cast<std::minstd_rand::result_type>(epoch_seconds));
  for (int k = 0; k < kActivityBarCount; ++k) {
    const int r = static_cast<int>(random() % 18);
    const int v = (r + 4) % 12;
    bars[k] = {340 - 2 * k, 78 + v, 2 * (15 - v)};
  }
  return bars;
}

ActivityBars ProgressBars(int percent) {
  ActivityBars bars{};
  const int filled = std::clamp(percent, 0, 100) * kActivityBarCount / 100;
  for (int k = 0; k < kActivityBarCount; ++k) {
    // Bar k stands 2k pixels left of the right end; the row fills from the left.
    const bool done = kActivityBarCount - 1 - k < filled;
    bars[k] = done ? ActivityBar{340 - 2 * k, 72, 25} : ActivityBar{340 - 2 * k, 95, 2};
  }
  return bars;
}

// ---- the state the panel shares with its refresh thread ----

struct CStatusDisplay::Shared {
  std::mutex mutex;  // guards everything below that is not atomic
  std::condition_variable wake;
  // Each start of the thread is a new generation; a thread goes on only while it is the current
  // one and running holds, so one that did not end in time never runs beside its successor.
  std::uint64_t generation = 0;
  bool running = false;
  std::uint64_t finished = 0;  // the latest generation that has left its loop
  StatusInputs inputs;
  int date_order = 0;
  std::shared_ptr<const PlayerPosition> player;
  DisplayValues values;

  // Written by the user-interface thread, read by the refresh thread.
  std::atomic<int> record_volume{0};
  std::atomic<int> play_volume{0};
  // A repaint is posted and not yet handled.
  std::atomic<bool> repaint_posted{false};

  // User-interface thread only: the panel while it lives.
  CStatusDisplay* panel = nullptr;
};

CStatusDisplay::CStatusDisplay(int id, StatusInputs inputs)
    : Control(id), shared_(std::make_shared<Shared>()) {
  shared_->inputs = std::move(inputs);
  shared_->panel = this;
}

CStatusDisplay::~CStatusDisplay() {
  StopWorker();
  shared_->panel = nullptr;
}

void CStatusDisplay::StopWorker() {
  if (!worker_.joinable()) return;
  std::unique_lock lock(shared_->mutex);
  shared_->running = false;
  shared_->wake.notify_all();
  const std::uint64_t generation = shared_->generation;
  const bool ended = shared_->wake.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                                            [&] { return shared_->finished == generation; });
  lock.unlock();
  if (ended) {
    worker_.join();
  } else {
    // It holds its own reference to the shared state and leaves at its next step.
    worker_.detach();
  }
}

int CStatusDisplay::LoadPanelSkin(int date_order) {
  StopWorker();
  {
    std::lock_guard lock(shared_->mutex);
    shared_->date_order = date_order;
  }

  loaded_ = false;
  glyphs_ = microphone_ = microphone_on_ = pause_ = pane_ = composed_ = gfx::Surface();
  gfx::Surface glyphs, microphone, microphone_on, pause, pane;
  if (!LoadSkinBitmapInto("bigletters.bmp", glyphs) ||
      !LoadSkinBitmapInto("microphone.bmp", microphone) ||
      !LoadSkinBitmapInto("microphoneOn.bmp", microphone_on) ||
      !LoadSkinBitmapInto("pauseon.bmp", pause) || !LoadSkinBitmapInto("pane.bmp", pane)) {
    Invalidate();
    return 1;
  }
  glyphs_ = std::move(glyphs);
  microphone_ = std::move(microphone);
  microphone_on_ = std::move(microphone_on);
  pause_ = std::move(pause);
  pane_ = std::move(pane);
  loaded_ = true;
  Invalidate();

  if (!shared_->inputs.run_worker) return 0;
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(shared_->mutex);
    generation = ++shared_->generation;
    shared_->running = true;
  }
  try {
    worker_ = std::thread(Worker, shared_, generation);
  } catch (const std::system_error&) {
    {
      std::lock_guard lock(shared_->mutex);
      shared_->running = false;
    }
    loaded_ = false;
    glyphs_ = microphone_ = microphone_on_ = pause_ = pane_ = gfx::Surface();
    return 2;
  }
  return 0;
}

void CStatusDisplay::SetVolumeSources(std::function<int()> record, std::function<int()> play) {
  record_volume_ = std::move(record);
  play_volume_ = std::move(play);
  SampleVolumes();
}

void CStatusDisplay::SampleVolumes() {
  shared_->record_volume = record_volume_ ? record_volume_() : 0;
  shared_->play_volume = play_volume_ ? play_volume_() : 0;
}

void CStatusDisplay::SetPlayerPosition(std::shared_ptr<const PlayerPosition> position) {
  std::lock_guard lock(shared_->mutex);
  shared_->player = std::move(position);
}

void CStatusDisplay::RefreshValues() {
  Refresh(*shared_, std::nullopt);
}

DisplayValues CStatusDisplay::Values() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->values;
}

bool CStatusDisplay::Refresh(Shared& shared, std::optional<std::uint64_t> worker) {
  // A thread refreshes only while it is the current one and should run.
  const auto stopped = [&] { return worker && (!shared.running || shared.generation != *worker); };
  std::unique_lock lock(shared.mutex);
  if (stopped()) return false;
  const StatusInputs& in = shared.inputs;
  DisplayValues v;
  v.session = in.session ? in.session() : SessionView{};
  const LocalTime now = in.local_time ? in.local_time() : LocalTimeNow();
  v.clock = ClockCells(now);
  v.date = DateCells(now, shared.date_order);
  v.epoch_seconds = now.epoch_seconds;

  if (v.session.recording) {
    const double elapsed =
        in.advance_elapsed ? in.advance_elapsed(v.session.recording_paused) : 0.0;
    v.time = ElapsedCells(elapsed);
    v.sound = in.latest_sound ? in.latest_sound() : nullptr;
    if (v.sound && v.sound->empty()) v.sound = nullptr;
    v.volume = VolumeCells(shared.record_volume.load());
  } else if (v.session.playing) {
    // The player may take its time to answer: not under the lock.
    const std::shared_ptr<const PlayerPosition> player = shared.player;
    lock.unlock();
    const std::string text = player ? player->PositionText() : std::string();
    lock.lock();
    if (stopped()) return false;
    v.time = PositionCells(text);
    v.volume = VolumeCells(shared.play_volume.load());
  } else if (const int percent = in.save_percent ? in.save_percent() : -1; percent >= 0) {
    // The three-digit reading shows the percentage while a save runs.
    v.save_percent = std::min(percent, 100);
    v.volume = VolumeCells(v.save_percent);
  }
  shared.values = std::move(v);
  return true;
}

void CStatusDisplay::Worker(std::shared_ptr<Shared> shared, std::uint64_t generation) {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::milliseconds(kRefreshMs);
  auto next = Clock::now();
  while (Refresh(*shared, generation)) {
    if (!shared->repaint_posted.exchange(true)) {
      win::PostToUi([shared] {
        if (shared->panel) shared->panel->OnRefreshed();
      });
    }
    next += period;
    const auto now = Clock::now();
    if (next < now) next = now + period;  // fell behind: keep the period from here
    std::unique_lock lock(shared->mutex);
    if (shared->wake.wait_until(
            lock, next, [&] { return !shared->running || shared->generation != generation; }))
      break;
  }
  {
    std::lock_guard lock(shared->mutex);
    shared->finished = std::max(shared->finished, generation);
  }
  shared->wake.notify_all();
}

void CStatusDisplay::OnRefreshed() {
  shared_->repaint_posted = false;
  SampleVolumes();
  const SessionView session = Values().session;
  if (session.recording) microphone_counter_ = (microphone_counter_ + 1) % 1000;
  if (PauseShown(session)) pause_counter_ = (pause_counter_ + 1) % 101;
  if (session.recording || session.playing) ++activity_offset_;
  if (loaded_ && Parent()) Parent()->InvalidateRect(Bounds());
}

void CStatusDisplay::DrawCell(int x, int y, int digit) {
  if (digit < 0 || digit > 9) return;  // the pane's own blank cell shows
  gfx::CopyKeyed(composed_, {x, y, kCellWidth, kCellHeight}, glyphs_,
                 {kCellWidth * digit, 0, kCellWidth, kCellHeight}, kTransparencyKey);
}

void CStatusDisplay::Paint(gfx::Surface& target) {
  if (!loaded_) return;
  const DisplayValues v = Values();
  composed_ = pane_;

  for (std::size_t i = 0; i < kClockX.size(); ++i) DrawCell(kClockX[i], kClockY, v.clock[i]);
  for (std::size_t i = 0; i < kDateX.size(); ++i) DrawCell(kDateX[i], kDateY, v.date[i]);
  for (std::size_t i = 0; i < kTimeX.size(); ++i) DrawCell(kTimeX[i], kTimeY, v.time[i]);
  for (std::size_t i = 0; i < kVolumeX.size(); ++i) DrawCell(kVolumeX[i], kVolumeY, v.volume[i]);

  const bool microphone_lit = v.session.recording && microphone_counter_ % 2 == 0;
  const gfx::Rect symbol{0, 0, kMicrophoneRect.w, kMicrophoneRect.h};
  gfx::CopyKeyed(composed_, kMicrophoneRect, microphone_lit ? microphone_on_ : microphone_, symbol,
                 kTransparencyKey);

  if (PauseShown(v.session) && pause_counter_ % 2 == 0) {
    gfx::CopyKeyed(composed_, kPauseRect, pause_, {0, 0, kPauseRect.w, kPauseRect.h},
                   kTransparencyKey);
  }

  if (v.save_percent >= 0) {
    for (const ActivityBar& bar : ProgressBars(v.save_percent))
      gfx::FillRect(composed_, {bar.x, bar.top, 1, bar.height}, kBarColour);
  } else if (v.session.recording || v.session.playing) {
    const ActivityBars bars = v.session.recording && v.sound ? SoundBars(*v.sound, activity_offset_)
                                                             : PatternBars(v.epoch_seconds);
    for (const ActivityBar& bar : bars)
      if (bar.height > 0) gfx::FillRect(composed_, {bar.x, bar.top, 1, bar.height}, kBarColour);
  }

  const gfx::Rect at = Bounds();
  gfx::Copy(target, at.x, at.y, composed_,
            {0, 0, std::min(composed_.Width(), at.w), std::min(composed_.Height(), at.h)});
}

}  // namespace vt
