// Against the real sound server: skipped when none can be reached.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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

}  // namespace
}  // namespace vt::audio
