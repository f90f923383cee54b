// Against the real sound server: skipped when none can be reached.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/capture_engine.h"
#include "test_files.h"

#if defined(__SANITIZE_THREAD__)
// libpulse is not built with ThreadSanitizer, so the sanitizer cannot see the library's own
// synchronisation of the mutexes its main loop thread creates.
extern "C" const char* __tsan_default_suppressions() {
  return "race:pa_mutex_lock\n";
}
#endif

namespace vt::audio {
namespace {

TEST(PulseCaptureTest, RecordsAboutOneSecondFromTheDefaultSource) {
  testutil::TempDir dir;
  const std::string path = dir.File("current.wav");
  CAviFile engine;  // the PulseAudio device
  engine.SetFormatChoice({2, 44100, 16});
  ASSERT_FALSE(engine.OpenWaveFile(path));
  const std::error_code open_error = engine.OpenCaptureDevice();
  if (open_error == std::errc::connection_refused) {
    EXPECT_FALSE(engine.StopCapture());
    GTEST_SKIP() << "no sound server";
  }
  ASSERT_FALSE(open_error) << open_error.message();

  const auto start = std::chrono::steady_clock::now();
  ASSERT_FALSE(engine.StartCapture());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto stop_pressed = std::chrono::steady_clock::now();
  EXPECT_FALSE(engine.StopCapture());
  const auto stopped = std::chrono::steady_clock::now();

  const double seconds = std::chrono::duration<double>(stop_pressed - start).count();
  const testutil::WavFile wav = testutil::ReadWav(path);
  EXPECT_EQ(wav.data_size % 4, 0u);
  EXPECT_EQ(wav.length, 46 + wav.data_size);
  EXPECT_EQ(wav.riff_size, 38 + wav.data_size);
  // Sound arrives, and no more than the source can have produced: a source may hand over its
  // sound in blocks ahead of time (the server's sine test source renders 2 s at a time).
  const double recorded = wav.data_size / 176400.0;
  EXPECT_GT(recorded, 0.5);
  EXPECT_LT(recorded, seconds + 2.1);
  // Stop returns as soon as the file is complete, not after a fixed wait.
  EXPECT_LT(std::chrono::duration<double>(stopped - stop_pressed).count(), 0.5);
}

// The device itself, with buffers of an odd length (half a second of 11.025 kHz 16-bit mono plus
// one byte): each comes back holding whole frames, and the buffer being filled is handed over
// several times before it does.
TEST(PulseCaptureTest, FillsOddBuffersInWholeFramesAndHandsOverAsItGoes) {
  std::unique_ptr<CaptureDevice> device = MakePulseCaptureDevice();
  std::mutex mutex;
  std::vector<std::pair<CaptureNotice, std::uint32_t>> notices;  // guarded by mutex
  CaptureFormat format{SampleFormat::kS16Le, 1, 11025};
  const std::error_code open_error =
      device->Open(format, [&](CaptureNotice notice, CaptureBuffer* buffer) {
        std::lock_guard lock(mutex);
        notices.emplace_back(notice, buffer != nullptr ? buffer->bytes_recorded : 0);
      });
  if (open_error == std::errc::connection_refused) GTEST_SKIP() << "no sound server";
  ASSERT_FALSE(open_error) << open_error.message();

  constexpr std::uint32_t kLength = 11025;  // odd
  std::vector<std::vector<std::uint8_t>> blocks(3, std::vector<std::uint8_t>(kLength));
  std::vector<CaptureBuffer> buffers(3);
  for (std::size_t k = 0; k < buffers.size(); ++k) {
    buffers[k] = CaptureBuffer{blocks[k].data(), kLength, 0};
    ASSERT_FALSE(device->AddBuffer(&buffers[k]));
  }
  ASSERT_FALSE(device->Start());
  const auto full_buffers = [&] {
    std::lock_guard lock(mutex);
    return std::count_if(notices.begin(), notices.end(),
                         [](const auto& n) { return n.first == CaptureNotice::kData; });
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (full_buffers() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(device->Close());

  std::lock_guard lock(mutex);
  int progress_before_first = 0;
  int data = 0;
  for (const auto& [notice, recorded] : notices) {
    if (notice == CaptureNotice::kProgress) {
      EXPECT_EQ(recorded % 2, 0u);
      EXPECT_LT(recorded, kLength - 1);
      if (data == 0) ++progress_before_first;
    } else if (notice == CaptureNotice::kData && data++ < 2) {
      EXPECT_EQ(recorded, kLength - 1) << "a full buffer";
    }
  }
  EXPECT_GE(data, 2);
  // Half a second of sound, handed over at least every 100 ms of it.
  EXPECT_GE(progress_before_first, 4);
  EXPECT_EQ(notices.back().first, CaptureNotice::kClose);
}

}  // namespace
}  // namespace vt::audio
