// The display panel: the readings it computes, the activity bars, the picture it composes with the
// default skin, a missing image, and its refresh thread.
#include "skin/status_display.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "skin/skin_archive.h"
#include "skin/skin_archive_writer.h"
#include "skin_test_files.h"

namespace vt {
namespace {

constexpr int B = kBlankCell;
constexpr const char* kPanelImages[] = {"bigletters.bmp", "microphone.bmp", "microphoneOn.bmp",
                                        "pauseon.bmp", "pane.bmp"};

// 3 April 2008, 13:45:59.
LocalTime April3rd2008() {
  LocalTime t;
  t.year = 2008;
  t.month = 4;
  t.day = 3;
  t.hour = 13;
  t.minute = 45;
  t.second = 59;
  t.epoch_seconds = 1207230359;
  return t;
}

TEST(DisplayCellsTest, ClockAndDateInBothOrders) {
  const LocalTime t = April3rd2008();
  EXPECT_EQ(ClockCells(t), (std::array<int, 6>{1, 3, 4, 5, 5, 9}));
  EXPECT_EQ(DateCells(t, 0), (std::array<int, 6>{0, 3, 0, 4, 0, 8}));
  EXPECT_EQ(DateCells(t, 1), (std::array<int, 6>{0, 4, 0, 3, 0, 8}));
  // Any order other than 1 is day first.
  EXPECT_EQ(DateCells(t, 7), DateCells(t, 0));
  LocalTime late = t;
  late.hour = 0;
  late.minute = 0;
  late.second = 0;
  late.day = 31;
  late.month = 12;
  late.year = 1999;
  EXPECT_EQ(ClockCells(late), (std::array<int, 6>{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(DateCells(late, 0), (std::array<int, 6>{3, 1, 1, 2, 9, 9}));
}

TEST(DisplayCellsTest, ElapsedTime) {
  struct Row {
    double seconds;
    std::array<int, 8> cells;
  };
  const Row rows[] = {
      {0.0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {3600 + 5 * 60 + 7.25, {0, 1, 0, 5, 0, 7, 2, 5}},
      {59.999, {0, 0, 0, 0, 5, 9, 9, 9}},
      {7.29, {0, 0, 0, 0, 0, 7, 2, 9}},  // not 28 through rounding of the fraction
      {61.57, {0, 0, 0, 1, 0, 1, 5, 7}},
      {99 * 3600 + 59 * 60 + 59.99, {9, 9, 5, 9, 5, 9, 9, 9}},
      // Beyond 99 hours the hours cells are blank; the rest goes on.
      {100 * 3600 + 2 * 60 + 3.04, {B, B, 0, 2, 0, 3, 0, 4}},
      {-1.0, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Row& row : rows) EXPECT_EQ(ElapsedCells(row.seconds), row.cells) << row.seconds;
}

TEST(DisplayCellsTest, PlayerPositionAndVolume) {
  EXPECT_EQ(PositionCells("01:23"), (std::array<int, 8>{0, 1, 2, 3, B, B, 0, 0}));
  EXPECT_EQ(PositionCells("01:02:03"), (std::array<int, 8>{0, 1, 0, 2, 0, 3, 0, 0}));
  EXPECT_EQ(PositionCells(""), (std::array<int, 8>{B, B, B, B, B, B, 0, 0}));
  EXPECT_EQ(PositionCells("a1:2"), (std::array<int, 8>{B, 1, 2, B, B, B, 0, 0}));

  EXPECT_EQ(VolumeCells(100), (std::array<int, 3>{1, 0, 0}));
  EXPECT_EQ(VolumeCells(5), (std::array<int, 3>{0, 0, 5}));
  EXPECT_EQ(VolumeCells(200), (std::array<int, 3>{2, 0, 0}));
  EXPECT_EQ(VolumeCells(0), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(VolumeCells(-3), (std::array<int, 3>{0, 0, 0}));
}

TEST(ActivityBarsTest, FromRecordedBytes) {
  // byte (read as signed) -> top, height
  struct Row {
    std::uint8_t byte;
    int top;
    int height;
  };
  const Row rows[] = {
      {0x00, 84, 12},  // (78 - 0) * 3 = 234 = 18 * 13: v = 0
      {0x80, 77, 26},  // s = -128: 618 % 13 = 7
      {0x7F, 88, 4},   // s = 127: -147 % 13 = -4
      {0x64, 85, 10},  // s = 100: -66 % 13 = -1
      {0x50, 90, 0},   // s = 80: v = -6, height 0
      {0x51, 93, -6},  // s = 81: v = -9
      {0xFF, 81, 18},  // s = -1: 237 % 13 = 3
  };
  for (const Row& row : rows) {
    const std::vector<std::uint8_t> bytes(1, row.byte);
    const ActivityBars bars = SoundBars(bytes, 0);
    EXPECT_EQ(bars[0].top, row.top) << int(row.byte);
    EXPECT_EQ(bars[0].height, row.height) << int(row.byte);
  }

  // Bar k reads byte offset + k, wrapping at the end of the buffer; bars run right to left.
  const std::vector<std::uint8_t> three{0x00, 0x80, 0x7F};
  const ActivityBars bars = SoundBars(three, 4);  // starts at byte 1
  EXPECT_EQ(bars[0].x, 340);
  EXPECT_EQ(bars[59].x, 222);
  EXPECT_EQ(bars[0].height, 26);
  EXPECT_EQ(bars[1].height, 4);
  EXPECT_EQ(bars[2].height, 12);
  EXPECT_EQ(bars[3].height, 26);
  // An offset far beyond the buffer still reads inside it.
  EXPECT_EQ(SoundBars(three, 0xFFFFFFFFFFFFFFFFull)[0].height,
            SoundBars(three, 0xFFFFFFFFFFFFFFFFull % 3)[0].height);
}

TEST(ActivityBarsTest, PatternChangesOnceASecond) {
  const ActivityBars a = PatternBars(1000);
  const ActivityBars again = PatternBars(1000);
  const ActivityBars next = PatternBars(1001);
  bool differs = false;
  for (int k = 0; k < kActivityBarCount; ++k) {
    EXPECT_EQ(a[k].x, 340 - 2 * k);
    EXPECT_EQ(a[k].top, again[k].top);
    // v = 0 ... 11: top 78 ... 89, height 30 ... 8, all ending at 108 - v.
    EXPECT_GE(a[k].top, 78);
    EXPECT_LE(a[k].top, 89);
    EXPECT_EQ(a[k].height, 2 * (15 - (a[k].top - 78)));
    differs = differs || a[k].top != next[k].top;
  }
  EXPECT_TRUE(differs);
}

// ---- the panel ----

// What the panel reads, set by the test; safe from the refresh thread.
struct FakeInputs {
  std::atomic<bool> recording{false}, recording_paused{false}, playing{false},
      playback_paused{false};
  std::atomic<double> elapsed{0};
  std::atomic<int> advances{0};
  std::atomic<int> refreshes{0};
  std::mutex mutex;
  SoundBytes sound;  // guarded by mutex
  LocalTime now = April3rd2008();

  StatusInputs Inputs(bool run_worker) {
    StatusInputs in;
    in.session = [this] {
      ++refreshes;
      return SessionView{recording.load(), recording_paused.load(), playing.load(),
                         playback_paused.load()};
    };
    in.advance_elapsed = [this](bool) {
      ++advances;
      return elapsed.load();
    };
    in.latest_sound = [this] {
      std::lock_guard lock(mutex);
      return sound;
    };
    in.local_time = [this] {
      std::lock_guard lock(mutex);
      return now;
    };
    in.run_worker = run_worker;
    return in;
  }
  void SetSound(std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(mutex);
    sound = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  }
};

class FakePlayer : public PlayerPosition {
 public:
  explicit FakePlayer(std::string text) : text_(std::move(text)) {}
  std::string PositionText() const override { return text_; }

 private:
  std::string text_;
};

// A window holding only the panel, at (0, 0).
class PanelWindow : public win::Window {
 public:
  PanelWindow() : win::Window({.title = "panel", .size = {351, 113}}) {}
};

// The default skin of the build in a scratch program folder.
class DisplayPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(VT_DEFAULT_SKIN)) << "build the default skin first";
    std::filesystem::create_directories(folder_.archive().parent_path());
    std::filesystem::copy_file(VT_DEFAULT_SKIN, folder_.archive());
    ASSERT_EQ(OpenSkin(folder_.program_folder()), SkinReadStatus::kOk);
  }
  void TearDown() override { ResetSkin(); }

  // Rewrites the scratch archive without `left_out` and opens it again.
  void LeaveOut(const std::string& left_out) {
    const SkinDirectoryRead read = ReadSkinDirectory(VT_DEFAULT_SKIN);
    ASSERT_TRUE(read.ok());
    std::vector<SkinArchiveItem> items;
    for (const SkinEntry& entry : read.directory.entries) {
      if (entry.name == left_out) continue;
      items.push_back({entry.name, *ReadSkinEntryData(VT_DEFAULT_SKIN, entry)});
    }
    const auto bytes = BuildSkinArchive(items);
    ASSERT_TRUE(bytes);
    test::WriteFile(folder_.archive(), *bytes);
    ASSERT_EQ(OpenSkin(folder_.program_folder()), SkinReadStatus::kOk);
  }

  CStatusDisplay& AddPanel(bool run_worker) {
    auto* panel = window_.Add(std::make_unique<CStatusDisplay>(1129, inputs_.Inputs(run_worker)));
    panel->SetBounds({0, 0, 351, 113});
    return *panel;
  }

  gfx::Surface Painted() {
    gfx::Surface painted;
    window_.PaintTo(painted);
    return painted;
  }

  static gfx::Surface SkinImage(const char* name) {
    gfx::Surface image;
    EXPECT_TRUE(LoadSkinBitmapInto(name, image)) << name;
    return image;
  }

  test::ScratchFolder folder_;
  FakeInputs inputs_;
  PanelWindow window_;
};

TEST_F(DisplayPanelTest, ReadingsFollowTheSession) {
  CStatusDisplay& panel = AddPanel(false);
  ASSERT_EQ(panel.LoadPanelSkin(0), 0);
  EXPECT_FALSE(panel.WorkerRunning());
  std::atomic<int> record_volume{5}, play_volume{100};
  panel.SetVolumeSources([&] { return record_volume.load(); }, [&] { return play_volume.load(); });
  panel.SetPlayerPosition(std::make_shared<FakePlayer>("01:23"));
  inputs_.elapsed = 3600 + 5 * 60 + 7.25;

  struct Row {
    const char* what;
    bool recording, recording_paused, playing;
    std::array<int, 8> time;
    std::array<int, 3> volume;
    bool advances;
  };
  const Row rows[] = {
      {"idle", false, false, false, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0}, false},
      {"recording", true, false, false, {0, 1, 0, 5, 0, 7, 2, 5}, {0, 0, 5}, true},
      {"recording paused", true, true, false, {0, 1, 0, 5, 0, 7, 2, 5}, {0, 0, 5}, true},
      {"playing", false, false, true, {0, 1, 2, 3, B, B, 0, 0}, {1, 0, 0}, false},
  };
  for (const Row& row : rows) {
    inputs_.recording = row.recording;
    inputs_.recording_paused = row.recording_paused;
    inputs_.playing = row.playing;
    const int before = inputs_.advances;
    panel.RefreshValues();
    const DisplayValues v = panel.Values();
    EXPECT_EQ(v.time, row.time) << row.what;
    EXPECT_EQ(v.volume, row.volume) << row.what;
    EXPECT_EQ(v.clock, (std::array<int, 6>{1, 3, 4, 5, 5, 9})) << row.what;
    EXPECT_EQ(v.date, (std::array<int, 6>{0, 3, 0, 4, 0, 8})) << row.what;
    EXPECT_EQ(inputs_.advances > before, row.advances) << row.what;
  }

  // A slider moved: the next refresh after the user-interface thread's part shows it.
  inputs_.recording = true;
  inputs_.playing = false;
  record_volume = 100;
  panel.OnRefreshed();
  panel.RefreshValues();
  EXPECT_EQ(panel.Values().volume, (std::array<int, 3>{1, 0, 0}));

  // Playing with no player yet: blank position cells.
  inputs_.recording = false;
  inputs_.playing = true;
  panel.SetPlayerPosition(nullptr);
  panel.RefreshValues();
  EXPECT_EQ(panel.Values().time, (std::array<int, 8>{B, B, B, B, B, B, 0, 0}));

  // Date order 1: month first.
  ASSERT_EQ(panel.LoadPanelSkin(1), 0);
  panel.RefreshValues();
  EXPECT_EQ(panel.Values().date, (std::array<int, 6>{0, 4, 0, 3, 0, 8}));
}

// Pixels of `a` and `b` that differ inside `area`.
int Differences(const gfx::Surface& a, const gfx::Surface& b, gfx::Rect area) {
  int n = 0;
  for (int y = area.y; y < area.Bottom(); ++y)
    for (int x = area.x; x < area.Right(); ++x) n += a.At(x, y) != b.At(x, y);
  return n;
}

TEST_F(DisplayPanelTest, IdlePanelIsSteadyWithoutBarsOrPause) {
  CStatusDisplay& panel = AddPanel(false);
  ASSERT_EQ(panel.LoadPanelSkin(0), 0);
  panel.SetVolumeSources([] { return 150; }, [] { return 150; });
  const gfx::Surface pane = SkinImage("pane.bmp");
  const gfx::Surface microphone = SkinImage("microphone.bmp");

  panel.RefreshValues();
  const gfx::Surface first = Painted();
  for (int i = 0; i < 5; ++i) {
    panel.OnRefreshed();
    panel.RefreshValues();
    EXPECT_EQ(Differences(Painted(), first, {0, 0, 351, 113}), 0) << "refresh " << i;
  }
  // Nothing over the bars' strip and the pause symbol's place; the microphone is the plain one.
  EXPECT_EQ(Differences(first, pane, {222, 60, 120, 53}), 0);
  EXPECT_EQ(Differences(first, pane, CStatusDisplay::kPauseRect), 0);
  for (int y = 0; y < 52; ++y)
    for (int x = 0; x < 52; ++x)
      if (microphone.At(x, y) != CStatusDisplay::kTransparencyKey) {
        ASSERT_EQ(first.At(290 + x, 13 + y), microphone.At(x, y)) << x << "," << y;
      }
  // The time row and the volume show zeros: the cells equal those of the clock's "00".
  inputs_.now.hour = 0;
  panel.RefreshValues();
  const gfx::Surface zeros = Painted();
  gfx::Surface zero_cell(13, 17), time_cell(13, 17);
  gfx::Copy(zero_cell, 0, 0, zeros, {3, 32, 13, 17});
  for (int x : CStatusDisplay::kTimeX) {
    gfx::Copy(time_cell, 0, 0, zeros, {x, 32, 13, 17});
    EXPECT_EQ(time_cell.Pixels(), zero_cell.Pixels()) << "time cell at " << x;
  }
  for (int x : CStatusDisplay::kVolumeX) {
    gfx::Copy(time_cell, 0, 0, zeros, {x, 85, 13, 17});
    EXPECT_EQ(time_cell.Pixels(), zero_cell.Pixels()) << "volume cell at " << x;
  }
}

TEST_F(DisplayPanelTest, MicrophoneAndPauseBlinkOnceARefresh) {
  CStatusDisplay& panel = AddPanel(false);
  ASSERT_EQ(panel.LoadPanelSkin(0), 0);
  const gfx::Surface pane = SkinImage("pane.bmp");
  inputs_.recording = true;
  inputs_.recording_paused = true;
  panel.RefreshValues();

  std::vector<bool> microphone_changes, pause_shown;
  gfx::Surface before = Painted();
  for (int i = 0; i < 6; ++i) {
    panel.OnRefreshed();
    const gfx::Surface now = Painted();
    microphone_changes.push_back(Differences(now, before, CStatusDisplay::kMicrophoneRect) > 0);
    pause_shown.push_back(Differences(now, pane, CStatusDisplay::kPauseRect) > 0);
    before = now;
  }
  EXPECT_EQ(microphone_changes, std::vector<bool>(6, true));
  EXPECT_TRUE(pause_shown[0] != pause_shown[1] && pause_shown[1] != pause_shown[2] &&
              pause_shown[2] != pause_shown[3]);

  // Playback paused blinks the pause symbol as well; the microphone stands still then.
  inputs_.recording = false;
  inputs_.recording_paused = false;
  inputs_.playing = true;
  inputs_.playback_paused = true;
  panel.RefreshValues();
  before = Painted();
  panel.OnRefreshed();
  const gfx::Surface after = Painted();
  EXPECT_EQ(Differences(after, before, CStatusDisplay::kMicrophoneRect), 0);
  EXPECT_NE(Differences(after, pane, CStatusDisplay::kPauseRect) > 0,
            Differences(before, pane, CStatusDisplay::kPauseRect) > 0);
}

TEST_F(DisplayPanelTest, BarsFromSoundPatternOrNone) {
  CStatusDisplay& panel = AddPanel(false);
  ASSERT_EQ(panel.LoadPanelSkin(0), 0);
  const gfx::Surface pane = SkinImage("pane.bmp");
  // Bar k's height: the pixels of its column below the microphone that show the bar colour
  // over the pane.
  const auto bar_pixels = [&] {
    const gfx::Surface p = Painted();
    std::vector<int> heights;
    for (int k = 0; k < kActivityBarCount; ++k) {
      const int x = 340 - 2 * k;
      int h = 0;
      for (int y = 66; y < 113; ++y)
        h += p.At(x, y) == CStatusDisplay::kBarColour && pane.At(x, y) != p.At(x, y);
      heights.push_back(h);
    }
    return heights;
  };
  EXPECT_EQ(bar_pixels(), std::vector<int>(kActivityBarCount, 0)) << "idle";

  // Recording before the device returned a buffer: the pattern of this second.
  inputs_.recording = true;
  panel.RefreshValues();
  std::vector<int> pattern;
  for (const ActivityBar& bar : PatternBars(inputs_.now.epoch_seconds))
    pattern.push_back(bar.height);
  EXPECT_EQ(bar_pixels(), pattern);

  // With sound: the bytes from the activity offset on; heights of 0 and less draw nothing.
  inputs_.SetSound({0x00, 0x80, 0x7F, 0x50, 0x51});
  panel.RefreshValues();
  const std::vector<int> sound = bar_pixels();
  EXPECT_EQ(std::vector<int>(sound.begin(), sound.begin() + 6),
            (std::vector<int>{12, 26, 4, 0, 0, 12}));
  panel.OnRefreshed();  // the bars move on by one byte
  const std::vector<int> moved = bar_pixels();
  EXPECT_EQ(std::vector<int>(moved.begin(), moved.begin() + 5),
            (std::vector<int>{26, 4, 0, 0, 12}));

  // Playing: the pattern again, whatever sound the last recording left.
  inputs_.recording = false;
  inputs_.playing = true;
  panel.RefreshValues();
  EXPECT_EQ(bar_pixels(), pattern);
}

// The composed panel of a paused recording, exactly as the reference picture shows it. Make the
// picture again with VT_UPDATE_REFERENCE=1 (and look at it before keeping it).
TEST_F(DisplayPanelTest, ComposedPanelMatchesTheReferencePicture) {
  CStatusDisplay& panel = AddPanel(false);
  ASSERT_EQ(panel.LoadPanelSkin(0), 0);
  panel.SetVolumeSources([] { return 73; }, [] { return 0; });
  inputs_.recording = true;
  inputs_.recording_paused = true;
  inputs_.elapsed = 3600 + 5 * 60 + 7.25;
  std::vector<std::uint8_t> sound;
  for (int i = 0; i < 200; ++i) sound.push_back(static_cast<std::uint8_t>(i * 37));
  inputs_.SetSound(sound);
  panel.RefreshValues();
  panel.OnRefreshed();
  panel.OnRefreshed();  // both counters even again: microphone lit, pause symbol shown
  const gfx::Surface painted = Painted();

  const std::filesystem::path reference =
      std::filesystem::path(VT_REFERENCE_DIR) / "status_display_paused.bmp";
  if (const char* update = std::getenv("VT_UPDATE_REFERENCE"); update && std::string(update) == "1")
    test::WriteFile(reference, test::Bmp24(painted));
  const std::vector<std::uint8_t> bytes = test::ReadFile(reference);
  ASSERT_FALSE(bytes.empty()) << "no reference picture " << reference;
  const std::optional<gfx::Surface> expected = DecodeSkinBmp(bytes);
  ASSERT_TRUE(expected);
  ASSERT_EQ(expected->GetSize(), painted.GetSize());
  const int differences = Differences(painted, *expected, painted.Bounds());
  if (differences > 0)
    test::WriteFile(std::filesystem::temp_directory_path() / "status_display_paused.bmp",
                    test::Bmp24(painted));
  EXPECT_EQ(differences, 0) << "painted panel written to "
                            << std::filesystem::temp_directory_path() / "status_display_paused.bmp";
}

TEST_F(DisplayPanelTest, AMissingImageLeavesTheSkinBeneathAndNoThread) {
  for (const char* missing : kPanelImages) {
    LeaveOut(missing);
    PanelWindow window;
    auto* panel = window.Add(std::make_unique<CStatusDisplay>(1129, inputs_.Inputs(true)));
    panel->SetBounds({0, 0, 351, 113});
    gfx::Surface empty;
    window.PaintTo(empty);
    EXPECT_EQ(panel->LoadPanelSkin(0), 1) << missing;
    EXPECT_FALSE(panel->WorkerRunning()) << missing;
    EXPECT_FALSE(panel->Loaded()) << missing;
    panel->RefreshValues();
    panel->OnRefreshed();
    gfx::Surface painted;
    window.PaintTo(painted);
    EXPECT_EQ(painted.Pixels(), empty.Pixels()) << missing;
  }
}

// ---- the refresh thread ----

// Runs posted work until `done` or the time is up.
template <class Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    win::RunPendingWork();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST_F(DisplayPanelTest, ThreadRefreshesFourTimesASecondAndStopsAtOnce) {
  CStatusDisplay& panel = AddPanel(true);
  std::atomic<int> volume{42};
  panel.SetVolumeSources([&] { return volume.load(); }, [] { return 0; });
  inputs_.recording = true;
  inputs_.elapsed = 1.5;
  ASSERT_EQ(panel.LoadPanelSkin(0), 0);
  // A second load replaces the thread; it does not add one.
  ASSERT_EQ(panel.LoadPanelSkin(0), 0);
  ASSERT_TRUE(panel.WorkerRunning());

  // About four refreshes a second, each handed to this (the user-interface) thread: four more
  // take 750 to 1000 ms (the first may come before the count is read).
  const auto start = std::chrono::steady_clock::now();
  const int base = inputs_.advances;
  ASSERT_TRUE(PumpUntil([&] { return inputs_.advances >= base + 4; }, std::chrono::seconds(3)));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(700));
  EXPECT_LE(took, std::chrono::milliseconds(1500));
  EXPECT_EQ(panel.Values().time, (std::array<int, 8>{0, 0, 0, 0, 0, 1, 5, 0}));
  EXPECT_EQ(panel.Values().volume, (std::array<int, 3>{0, 4, 2}));

  // Values change while the thread runs and the painting reads them.
  volume = 7;
  inputs_.elapsed = 2.0;
  ASSERT_TRUE(PumpUntil(
      [&] {
        return panel.Values().volume == std::array<int, 3>{0, 0, 7};
      },
      std::chrono::seconds(2)));
  Painted();

  // Destroying a panel ends its thread at once, without waiting for the period to pass; what it
  // posted meanwhile finds nothing to repaint.
  auto other = std::make_unique<PanelWindow>();
  other->Add(std::make_unique<CStatusDisplay>(1129, inputs_.Inputs(true)))->LoadPanelSkin(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto closing = std::chrono::steady_clock::now();
  other.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(100));
  PumpUntil([] { return false; }, std::chrono::milliseconds(300));
}

// A player that does not answer until the test lets it.
class StuckPlayer : public PlayerPosition {
 public:
  explicit StuckPlayer(std::atomic<bool>* gone) : gone_(gone) {}
  ~StuckPlayer() override { *gone_ = true; }
  std::string PositionText() const override {
    std::unique_lock lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
    return "00:01";
  }
  void WaitEntered() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return entered_; });
  }
  void Release() const {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::atomic<bool>* gone_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  mutable bool entered_ = false;
  mutable bool released_ = false;
};

TEST_F(DisplayPanelTest, AThreadThatDoesNotEndInTimeNeverTouchesThePanelAgain) {
  std::atomic<bool> player_gone{false};
  auto player = std::make_shared<StuckPlayer>(&player_gone);
  inputs_.playing = true;
  auto window = std::make_unique<PanelWindow>();
  auto* panel = window->Add(std::make_unique<CStatusDisplay>(1129, inputs_.Inputs(true)));
  panel->SetPlayerPosition(player);
  ASSERT_EQ(panel->LoadPanelSkin(0), 0);
  player->WaitEntered();

  // The window and the panel go while the thread waits for the player: at most 1500 ms.
  const auto closing = std::chrono::steady_clock::now();
  window.reset();
  const auto waited = std::chrono::steady_clock::now() - closing;
  EXPECT_GE(waited, std::chrono::milliseconds(1400));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));

  // Let go, the thread drops its copy of the player with its shared state and ends; it reads
  // nothing more (under AddressSanitizer a touch of the gone panel would fail here).
  EXPECT_FALSE(player_gone);
  const int refreshes = inputs_.refreshes;
  player->Release();
  player.reset();
  ASSERT_TRUE(PumpUntil([&] { return player_gone.load(); }, std::chrono::seconds(3)));
  EXPECT_EQ(inputs_.refreshes, refreshes);
}

}  // namespace
}  // namespace vt
