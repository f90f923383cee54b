#include "audio/capture_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <random>
#include <thread>
#include <variant>

#include "platform/audio/fake_capture_device.h"
#include "test_files.h"

namespace vt::audio {
namespace {

using testutil::IsWavHolding;
using testutil::TempDir;

constexpr FormatChoice kMono8k8{1, 8000, 8};      // buffers of 120000 bytes, 1-byte frames
constexpr FormatChoice kStereo8k16{2, 8000, 16};  // buffers of 120000 bytes, 4-byte frames
constexpr FormatChoice kMono11k16{1, 11025, 16};  // buffers of 165375 bytes, 2-byte frames

std::vector<std::uint8_t> Noise(std::size_t n) {
  static std::mt19937 generator(4);
  std::vector<std::uint8_t> bytes(n);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

std::vector<std::string> DataNotices(const std::vector<std::string>& log) {
  std::vector<std::string> data;
  for (const std::string& entry : log) {
    if (entry.rfind("data", 0) == 0) data.push_back(entry);
  }
  return data;
}

// Hands the engine a device that the test keeps: the engine drops its device at the stop, and
// the test still reads what the device saw.
class SharedDevice final : public CaptureDevice {
 public:
  explicit SharedDevice(std::shared_ptr<FakeCaptureDevice> fake) : fake_(std::move(fake)) {}
  std::error_code Open(const CaptureFormat& format, CaptureCallback callback) override {
    return fake_->Open(format, std::move(callback));
  }
  std::error_code AddBuffer(CaptureBuffer* buffer) override { return fake_->AddBuffer(buffer); }
  std::error_code Start() override { return fake_->Start(); }
  std::error_code Stop() override { return fake_->Stop(); }
  std::error_code Reset() override { return fake_->Reset(); }
  std::error_code Close() override { return fake_->Close(); }
  std::uint64_t FramesCaptured() const override { return fake_->FramesCaptured(); }

 private:
  std::shared_ptr<FakeCaptureDevice> fake_;
};

class CaptureEngineTest : public ::testing::Test {
 protected:
  // Opens the file and the device and starts, as the Record command does.
  void Begin(const FormatChoice& choice) {
    engine_.SetFormatChoice(choice);
    ASSERT_FALSE(engine_.OpenWaveFile(path_));
    engine_.OpenCaptureDevice();
    engine_.StartCapture();
  }

  // Feeds `n` bytes of noise and returns them.
  std::vector<std::uint8_t> Feed(std::size_t n) {
    std::vector<std::uint8_t> bytes = Noise(n);
    fake_->Feed(bytes);
    return bytes;
  }

  TempDir dir_;
  const std::string path_ = dir_.File("current.wav");
  std::error_code open_error_;
  std::shared_ptr<FakeCaptureDevice> fake_;  // the device of the latest recording
  CaptureDeviceFactory factory_ = [this] {
    fake_ = std::make_shared<FakeCaptureDevice>(open_error_);
    return std::make_unique<SharedDevice>(fake_);
  };
  CAviFile engine_{factory_};
};

struct FormatCase {
  FormatChoice choice;
  WaveFormat format;
  std::uint32_t buffer_bytes;
  SampleFormat sample_format;
};

TEST_F(CaptureEngineTest, FormatRuleAndBufferSizes) {
  const FormatCase cases[] = {
      {{1, 8000, 8}, {1, 1, 8000, 8000, 1, 8, 0}, 120000, SampleFormat::kU8},
      {{2, 8000, 8}, {1, 2, 8000, 16000, 2, 8, 0}, 120000, SampleFormat::kU8},
      {{1, 11025, 16}, {1, 1, 11025, 22050, 2, 16, 0}, 165375, SampleFormat::kS16Le},
      {{2, 22050, 8}, {1, 2, 22050, 44100, 2, 8, 0}, 330750, SampleFormat::kU8},
      {{1, 44100, 8}, {1, 1, 44100, 44100, 1, 8, 0}, 661500, SampleFormat::kU8},
      {{2, 44100, 16}, {1, 2, 44100, 176400, 4, 16, 0}, 661500, SampleFormat::kS16Le},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.choice.channels << " ch " << c.choice.samples_per_sec
                                      << " Hz " << c.choice.bits_per_sample << " bits");
    Begin(c.choice);
    EXPECT_EQ(engine_.FileFormat(), c.format);
    EXPECT_EQ(engine_.DeviceFormat(), c.format);
    EXPECT_EQ(engine_.CaptureBufferBytes(), c.buffer_bytes);
    EXPECT_EQ(fake_->Format().sample_format, c.sample_format);
    EXPECT_EQ(fake_->Format().channels, c.choice.channels);
    EXPECT_EQ(fake_->Format().samples_per_sec,
              static_cast<std::uint32_t>(c.choice.samples_per_sec));
    EXPECT_EQ(fake_->QueuedBuffers(), 16u);
    for (int k = 0; k < kCaptureBufferCount; ++k) {
      EXPECT_EQ(engine_.CaptureHeader(k)->length, c.buffer_bytes);
    }
    EXPECT_FALSE(engine_.StopCapture());
  }
}

TEST_F(CaptureEngineTest, RecordingShorterThanOneBuffer) {
  Begin(kMono8k8);
  const std::vector<std::uint8_t> sound = Feed(1000);
  EXPECT_TRUE(DataNotices(fake_->Log()).empty());
  EXPECT_FALSE(engine_.StopCapture());
  // When StopCapture returns the file is complete and no longer held.
  EXPECT_TRUE(IsWavHolding(path_, sound));
  EXPECT_FALSE(engine_.WaveFileOpen());
  WaveWriter next;
  EXPECT_FALSE(next.OpenWaveFile(path_, MakeWaveFormat(kMono8k8)));
}

TEST_F(CaptureEngineTest, BuffersReachTheFileInOrderAndGoBackToTheDeviceInTurn) {
  Begin(kMono8k8);
  std::vector<std::uint8_t> sound = Feed(120000);
  const LatestCapture latest = engine_.LatestCaptureBuffer();
  EXPECT_EQ(latest.header, 0);
  ASSERT_TRUE(latest.bytes);
  EXPECT_EQ(*latest.bytes, sound);
  // 17.5 buffers in all, fed in pieces that do not line up with the buffers.
  for (int i = 0; i < 33; ++i) {
    const std::vector<std::uint8_t> piece = Feed(60000);
    sound.insert(sound.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(engine_.RequeueCount(), 17);
  EXPECT_FALSE(engine_.StopCapture());
  EXPECT_TRUE(IsWavHolding(path_, sound));
  EXPECT_EQ(engine_.RequeueCount(), 0);
  EXPECT_EQ(engine_.LatestCaptureBuffer().header, -1);

  // Every returned buffer went straight back, behind the others; the reset returned the partly
  // filled one with its bytes and the empty ones with none.
  std::vector<std::string> want;
  for (int i = 0; i < 17; ++i) want.push_back("data " + std::to_string(i % 16) + " 120000");
  want.push_back("data 1 60000");
  for (int k = 2; k < 16; ++k) want.push_back("data " + std::to_string(k) + " 0");
  want.push_back("data 0 0");
  EXPECT_EQ(DataNotices(fake_->Log()), want);
  const std::vector<std::string> log = fake_->Log();
  const auto first_data = std::find(log.begin(), log.end(), "data 0 120000");
  ASSERT_LT(first_data + 1, log.end());
  EXPECT_EQ(*(first_data + 1), "add 0");
}

TEST_F(CaptureEngineTest, SecondRecordingStartsAtHeaderZero) {
  Begin(kMono8k8);
  Feed(300000);
  EXPECT_FALSE(engine_.StopCapture());

  Begin(kMono8k8);
  const std::vector<std::uint8_t> sound = Feed(120010);
  EXPECT_EQ(engine_.RequeueCount(), 1);
  const std::vector<std::string> log = fake_->Log();
  const auto first_data = std::find_if(
      log.begin(), log.end(), [](const std::string& e) { return e.rfind("data", 0) == 0; });
  ASSERT_LT(first_data + 1, log.end());
  EXPECT_EQ(*first_data, "data 0 120000");
  EXPECT_EQ(*(first_data + 1), "add 0");
  EXPECT_FALSE(engine_.StopCapture());
  EXPECT_TRUE(IsWavHolding(path_, sound));
}

struct Pause {};
struct Resume {};
struct HandOver {};  // the device hands over the buffer it is filling
using Step = std::variant<int, Pause, Resume, HandOver>;  // a number: feed that many bytes

struct PauseCase {
  const char* name;
  FormatChoice choice;
  std::vector<Step> steps;
};

TEST_F(CaptureEngineTest, PauseLeavesOutExactlyTheSoundBetweenPauseAndResume) {
  const PauseCase cases[] = {
      {"within one buffer", kStereo8k16, {4000, Pause{}, 2000, Resume{}, 3000}},
      {"across buffer boundaries", kStereo8k16, {100000, Pause{}, 50000, Resume{}, 200000}},
      {"longer than a buffer", kStereo8k16, {8, Pause{}, 250000, Resume{}, 12}},
      {"twice in one buffer",
       kStereo8k16,
       {400, Pause{}, 400, Resume{}, 400, Pause{}, 400, Resume{}, 400}},
      {"from the very start", kStereo8k16, {Pause{}, 1000, Resume{}, 1000}},
      {"stop while paused", kStereo8k16, {130000, Pause{}, 5000}},
      {"odd buffer length", kMono11k16, {165376, Pause{}, 1000, Resume{}, 170000}},
      {"repeated presses", kMono8k8, {10, Pause{}, Pause{}, 10, Resume{}, Resume{}, 10}},
      {"pause after sound already handed over",
       kStereo8k16,
       {4004, HandOver{}, 8, Pause{}, 4000, HandOver{}, Resume{}, 12, HandOver{}, 3000}},
      {"handed over across an odd buffer's end",
       kMono11k16,
       {165000, HandOver{}, Pause{}, 200, HandOver{}, 400, Resume{}, 6000, HandOver{}}},
  };
  for (const PauseCase& c : cases) {
    SCOPED_TRACE(c.name);
    Begin(c.choice);
    std::vector<std::uint8_t> kept;
    bool paused = false;
    for (const Step& step : c.steps) {
      if (std::holds_alternative<Pause>(step)) {
        engine_.PauseCapture();
        paused = true;
      } else if (std::holds_alternative<Resume>(step)) {
        engine_.ResumeCapture();
        paused = false;
      } else if (std::holds_alternative<HandOver>(step)) {
        fake_->HandOver();
      } else {
        const std::vector<std::uint8_t> piece = Feed(static_cast<std::size_t>(std::get<int>(step)));
        if (!paused) kept.insert(kept.end(), piece.begin(), piece.end());
      }
      EXPECT_EQ(engine_.IsPaused(), paused);
    }
    EXPECT_FALSE(engine_.StopCapture());
    EXPECT_TRUE(IsWavHolding(path_, kept));
    EXPECT_FALSE(engine_.IsPaused());
  }
}

// The writer appends on its own thread: waits until the file holds `data` (or gives up).
::testing::AssertionResult EventuallyHolds(const std::string& path,
                                           const std::vector<std::uint8_t>& data) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    ::testing::AssertionResult holds = IsWavHolding(path, data);
    if (holds || std::chrono::steady_clock::now() > deadline) return holds;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// A buffer holds up to 15 s, so the sound of the buffer being filled reaches the file as the
// device hands it over, long before the buffer comes back; the rest follows once it does.
TEST_F(CaptureEngineTest, SoundHandedOverEarlyReachesTheFileOnceAndInOrder) {
  Begin(kMono8k8);  // hand-overs every 800 bytes, buffers of 120000
  std::vector<std::uint8_t> sound = Feed(1000);
  EXPECT_TRUE(EventuallyHolds(path_, sound)) << "first 1000 bytes";
  const auto more = [&](std::size_t n) {
    const std::vector<std::uint8_t> piece = Feed(n);
    sound.insert(sound.end(), piece.begin(), piece.end());
  };
  more(500);  // less than a hand-over's worth: not yet
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(IsWavHolding(path_, {sound.begin(), sound.begin() + 1000}));
  fake_->HandOver();
  EXPECT_TRUE(EventuallyHolds(path_, sound)) << "after a hand-over";

  more(118500 + 900);  // the buffer comes back full, and the next one is handed over
  EXPECT_TRUE(EventuallyHolds(path_, sound)) << "after the first buffer";
  EXPECT_EQ(engine_.RequeueCount(), 1);
  // The whole buffer still goes to the display.
  const LatestCapture latest = engine_.LatestCaptureBuffer();
  ASSERT_TRUE(latest.bytes);
  EXPECT_EQ(*latest.bytes, std::vector<std::uint8_t>(sound.begin(), sound.begin() + 120000));

  for (int i = 0; i < 40; ++i) more(7777);  // across two more buffers
  more(3);
  EXPECT_FALSE(engine_.StopCapture());
  EXPECT_TRUE(IsWavHolding(path_, sound));
  const std::vector<std::string> log = fake_->Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "progress 1 900"), log.end());
}

// 15 x 11025 bytes of 16-bit mono is an odd length: the device fills each buffer in whole frames
// (165374 bytes), so the file never ends in half a frame, and nothing is lost at the seam.
TEST_F(CaptureEngineTest, OddLengthBuffersAreFilledInWholeFrames) {
  Begin(kMono11k16);
  std::vector<std::uint8_t> sound = Feed(165376);
  const std::vector<std::string> data = DataNotices(fake_->Log());
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0], "data 0 165374");
  // Read right after the first buffer: whole frames; the next frame waits in the next buffer.
  EXPECT_TRUE(EventuallyHolds(path_, {sound.begin(), sound.begin() + 165374}));
  const std::vector<std::uint8_t> rest = Feed(165373);
  sound.insert(sound.end(), rest.begin(), rest.end());
  EXPECT_FALSE(engine_.StopCapture());
  EXPECT_EQ(DataNotices(fake_->Log())[1], "data 1 165374");
  // The stream ends in half a frame: that byte is not written.
  EXPECT_TRUE(IsWavHolding(path_, {sound.begin(), sound.end() - 1}));
}

TEST_F(CaptureEngineTest, DeviceThatCannotOpenStillLeavesACompleteFile) {
  open_error_ = std::make_error_code(std::errc::connection_refused);
  engine_.SetFormatChoice(kStereo8k16);
  ASSERT_FALSE(engine_.OpenWaveFile(path_));
  EXPECT_EQ(engine_.OpenCaptureDevice(), std::errc::connection_refused);
  EXPECT_TRUE(engine_.StartCapture());
  engine_.PauseCapture();
  engine_.ResumeCapture();
  EXPECT_FALSE(engine_.StopCapture());
  EXPECT_TRUE(IsWavHolding(path_, {}));
  WaveWriter next;
  EXPECT_FALSE(next.OpenWaveFile(path_, MakeWaveFormat(kMono8k8)));
}

TEST_F(CaptureEngineTest, DeviceThatFailsMidRecordingKeepsWhatItCapturedAndSaysSo) {
  std::atomic<int> failures{0};
  engine_.SetFailureCallback([&] { ++failures; });
  Begin(kMono8k8);
  const std::vector<std::uint8_t> sound = Feed(125000);
  EXPECT_EQ(engine_.RecordingFailure(), CAviFile::Failure::kNone);
  fake_->Fail();
  EXPECT_EQ(engine_.RecordingFailure(), CAviFile::Failure::kDeviceLost);
  EXPECT_EQ(failures.load(), 1);
  Feed(1000);  // lost with the device
  EXPECT_FALSE(engine_.StopCapture());
  EXPECT_TRUE(IsWavHolding(path_, sound));
  // The next recording starts afresh.
  Begin(kMono8k8);
  EXPECT_EQ(engine_.RecordingFailure(), CAviFile::Failure::kNone);
  EXPECT_FALSE(engine_.StopCapture());
}

TEST_F(CaptureEngineTest, WritingStopsWhenTheFileIsFull) {
  CAviFile engine(factory_, 1'000'000);
  std::atomic<int> files_full{0};
  engine.SetFailureCallback([&] { ++files_full; });
  engine.SetFormatChoice(kStereo8k16);
  ASSERT_FALSE(engine.OpenWaveFile(path_));
  ASSERT_FALSE(engine.OpenCaptureDevice());
  ASSERT_FALSE(engine.StartCapture());
  const std::vector<std::uint8_t> sound = Feed(1'200'002);  // 10 buffers
  EXPECT_FALSE(engine.StopCapture());
  EXPECT_TRUE(engine.FileFull());
  EXPECT_EQ(files_full.load(), 1);
  EXPECT_TRUE(IsWavHolding(path_, {sound.begin(), sound.begin() + 1'000'000}));
}

TEST_F(CaptureEngineTest, WithoutAWorkingFileTheRecordingRunsAndStops) {
  engine_.SetFormatChoice(kMono8k8);
  EXPECT_TRUE(engine_.OpenWaveFile(dir_.File("missing/current.wav")));
  EXPECT_FALSE(engine_.OpenCaptureDevice());
  EXPECT_FALSE(engine_.StartCapture());
  Feed(120000 * 17);
  // Buffers are not handed back without a file, so the device runs dry.
  EXPECT_EQ(fake_->QueuedBuffers(), 0u);
  EXPECT_FALSE(engine_.StopCapture());
}

TEST(CaptureEngineLifetimeTest, DestroyingTheEngineCompletesTheRecording) {
  TempDir dir;
  const std::string path = dir.File("current.wav");
  FakeCaptureDevice* fake = nullptr;
  const std::vector<std::uint8_t> sound = Noise(1000);
  {
    CAviFile engine([&] {
      auto device = std::make_unique<FakeCaptureDevice>();
      fake = device.get();
      return device;
    });
    engine.SetFormatChoice(kMono8k8);
    ASSERT_FALSE(engine.OpenWaveFile(path));
    ASSERT_FALSE(engine.OpenCaptureDevice());
    ASSERT_FALSE(engine.StartCapture());
    fake->Feed(sound);
  }
  EXPECT_TRUE(IsWavHolding(path, sound));
}

}  // namespace
}  // namespace vt::audio
