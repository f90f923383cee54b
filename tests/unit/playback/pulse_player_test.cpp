// The player against the real sound server, with files as a user may find them in sounds/.
// Skipped when no server can be reached.
//
// A null sink (the test server's speakers) that nobody listens to renders two-second blocks ahead,
// and a new stream is only heard once the block under way has passed, unlike a sound card's sink,
// which rewinds for it. Its monitor read at a short latency keeps its blocks short, as the test
// environment does for its tone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/player.h"

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "race:pa_mutex_lock\n";
}
#endif

namespace vt::audio {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Reads the default sink's monitor at a short latency while it lives (parec).
class MonitorReader {
 public:
  MonitorReader() {
    pid_ = ::fork();
    if (pid_ == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execlp("parec", "parec", "--latency-msec=10", "-d", "@DEFAULT_MONITOR@", nullptr);
      ::_exit(127);
    }
    // The block under way when it started has to pass first.
    std::this_thread::sleep_for(2500ms);
  }
  ~MonitorReader() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  MonitorReader(const MonitorReader&) = delete;
  MonitorReader& operator=(const MonitorReader&) = delete;

 private:
  pid_t pid_ = -1;
};

// The end notice, as the player's thread gives it.
class EndNotice {
 public:
  std::function<void()> Callback() {
    return [this] {
      std::lock_guard lock(mutex_);
      ++count_;
      when_ = Clock::now();
      changed_.notify_all();
    };
  }
  // True once a notice came within `timeout`.
  bool Wait(Clock::duration timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return count_ > 0; });
  }
  int Count() {
    std::lock_guard lock(mutex_);
    return count_;
  }
  Clock::time_point When() {
    std::lock_guard lock(mutex_);
    return when_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
  Clock::time_point when_;
};

void Put16(std::string& out, unsigned v) {
  out += char(v & 0xff);
  out += char((v >> 8) & 0xff);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}

// A PCM WAV file with an 18-byte fmt chunk, holding `data_bytes` bytes of a square wave but
// claiming `claimed` bytes in its data chunk (a file cut short says more than it holds).
std::string Wav(int channels, int rate, int bits, std::uint32_t data_bytes, std::uint32_t claimed) {
  std::string out = "RIFF";
  Put32(out, 38 + claimed);
  out += "WAVEfmt ";
  Put32(out, 18);
  const int align = channels * bits / 8;
  Put16(out, 1);
  Put16(out, channels);
  Put32(out, rate);
  Put32(out, rate * align);
  Put16(out, align);
  Put16(out, bits);
  Put16(out, 0);
  out += "data";
  Put32(out, claimed);
  for (std::uint32_t i = 0; i < data_bytes; ++i) out += char((i / 64) % 2 ? 0x20 : 0xe0);
  return out;
}

class PulsePlayerFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("vt-player-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    player_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = (folder_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  // Plays; skips the test when there is no sound server.
  void PlayOrSkip(const std::string& path, EndNotice& notice) {
    const std::error_code error = player_->Play(path, notice.Callback());
    if (error == std::errc::connection_refused) GTEST_SKIP() << "no sound server";
    ASSERT_FALSE(error) << error.message();
  }

  std::filesystem::path folder_;
  std::unique_ptr<Player> player_ = MakePulsePlayer();
};

// Tests that listen to the sound.
class PulsePlayerTest : public PulsePlayerFiles {
 protected:
  static void SetUpTestSuite() { monitor_ = std::make_unique<MonitorReader>(); }
  static void TearDownTestSuite() { monitor_.reset(); }
  static inline std::unique_ptr<MonitorReader> monitor_;
};

TEST_F(PulsePlayerTest, EachFileIsReportedOnceItHasBeenHeardToItsEnd) {
  struct Case {
    const char* name;
    std::string bytes;
    double seconds;  // how long it sounds
  };
  const Case cases[] = {
      {"stereo 44.1 kHz 16-bit", Wav(2, 44100, 16, 70560, 70560), 0.4},
      {"mono 8 kHz 8-bit", Wav(1, 8000, 8, 2400, 2400), 0.3},
      {"mono 11.025 kHz 16-bit ending in half a frame", Wav(1, 11025, 16, 4411, 4411), 0.2},
      {"cut short: claims 10 s, holds 0.25 s", Wav(2, 22050, 16, 22050, 882000), 0.25},
      {"only a header", Wav(2, 44100, 16, 0, 0), 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EndNotice notice;
    const auto start = Clock::now();
    PlayOrSkip(Write("current.wav", c.bytes), notice);
    ASSERT_TRUE(notice.Wait(std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(c.seconds + 1.0))))
        << "no end notice";
    const double took = std::chrono::duration<double>(notice.When() - start).count();
    EXPECT_GE(took, c.seconds - 0.05) << "reported before it can have been heard";
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(notice.Count(), 1);
    player_->Close();
  }
}

TEST_F(PulsePlayerFiles, FilesThatAreNoSoundAreRefusedWithoutANotice) {
  const std::string missing = (folder_ / "none.wav").string();
  const std::string text = Write("text.wav", "these are words, not sound");
  const std::string torn = Write("torn.wav", Wav(2, 44100, 16, 0, 0).substr(0, 30));
  for (const std::string& path : {missing, text, torn}) {
    EndNotice notice;
    EXPECT_TRUE(player_->Play(path, notice.Callback())) << path;
    EXPECT_EQ(player_->PositionText(), "") << path;
    player_->Close();
    EXPECT_EQ(notice.Count(), 0) << path;
  }
}

// Waits until the position text reads `text`; the moment it did.
Clock::time_point WaitForPosition(const Player& player, const std::string& text,
                                  Clock::duration timeout) {
  const auto deadline = Clock::now() + timeout;
  while (player.PositionText() != text) {
    if (Clock::now() > deadline) return {};
    std::this_thread::sleep_for(5ms);
  }
  return Clock::now();
}

TEST_F(PulsePlayerTest, PositionAdvancesInRealTimePauseHoldsItAndRewindGoesBackToTheStart) {
  EndNotice notice;
  PlayOrSkip(Write("current.wav", Wav(1, 8000, 8, 8000 * 5, 8000 * 5)), notice);  // 5 s
  EXPECT_EQ(player_->PositionText(), "00:00");
  const auto one = WaitForPosition(*player_, "00:01", 5s);
  ASSERT_NE(one, Clock::time_point{}) << "the position does not advance";
  const auto two = WaitForPosition(*player_, "00:02", 2s);
  ASSERT_NE(two, Clock::time_point{});
  EXPECT_NEAR(std::chrono::duration<double>(two - one).count(), 1.0, 0.1);

  player_->Pause();
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(player_->PositionText(), "00:02") << "moved while paused";
  player_->Resume();
  const auto three = WaitForPosition(*player_, "00:03", 2s);
  ASSERT_NE(three, Clock::time_point{});
  EXPECT_LT(std::chrono::duration<double>(three - two).count(), 1.0 + 1.5 + 0.1);

  player_->Rewind();
  EXPECT_NE(WaitForPosition(*player_, "00:00", 1s), Clock::time_point{});
  player_->Close();
  EXPECT_EQ(player_->PositionText(), "");
  EXPECT_EQ(notice.Count(), 0) << "a notice after Close";
}

TEST_F(PulsePlayerTest, PauseHoldsTheEndBackAndResumeGoesOn) {
  EndNotice notice;
  PlayOrSkip(Write("current.wav", Wav(2, 44100, 16, 44100 * 4 * 3 / 2, 44100 * 4 * 3 / 2)),
             notice);  // 1.5 s
  ASSERT_NE(WaitForPosition(*player_, "00:01", 5s), Clock::time_point{});
  player_->Pause();
  EXPECT_FALSE(notice.Wait(1s)) << "ended while paused";
  const auto resumed = Clock::now();
  player_->Resume();
  ASSERT_TRUE(notice.Wait(2s));
  // What was left, up to half a second, is still to be heard after Resume.
  EXPECT_GE(std::chrono::duration<double>(notice.When() - resumed).count(), 0.35);
  EXPECT_LT(std::chrono::duration<double>(notice.When() - resumed).count(), 0.7);
}

TEST_F(PulsePlayerFiles, NoServerMeansNoPlaybackAndNoHang) {
  const char* saved = std::getenv("PULSE_SERVER");
  const std::string previous = saved ? saved : "";
  ::setenv("PULSE_SERVER", ("unix:" + (folder_ / "no-server").string()).c_str(), 1);
  EndNotice notice;
  const auto start = Clock::now();
  const std::error_code error =
      player_->Play(Write("current.wav", Wav(2, 44100, 16, 17640, 17640)), notice.Callback());
  if (saved)
    ::setenv("PULSE_SERVER", previous.c_str(), 1);
  else
    ::unsetenv("PULSE_SERVER");
  EXPECT_EQ(error, std::errc::connection_refused);
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(notice.Count(), 0);
}

}  // namespace
}  // namespace vt::audio
