// A scripted capture device for tests: the test feeds the bytes the "source" produces, and the
// device fills and hands back buffers with the same life cycle as the real one. Notices run on
// the fake's own thread, as a real device's do; every test-side call returns once the notices
// it caused have been delivered, so tests stay deterministic.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/capture_device.h"

namespace vt::audio {

class FakeCaptureDevice final : public CaptureDevice {
 public:
  // open_error: what Open returns (no error: the open succeeds).
  explicit FakeCaptureDevice(std::error_code open_error = {});
  FakeCaptureDevice(const FakeCaptureDevice&) = delete;
  FakeCaptureDevice& operator=(const FakeCaptureDevice&) = delete;
  ~FakeCaptureDevice() override;

  std::error_code Open(const CaptureFormat& format, CaptureCallback callback) override;
  std::error_code AddBuffer(CaptureBuffer* buffer) override;
  std::error_code Start() override;
  std::error_code Stop() override;
  std::error_code Reset() override;
  std::error_code Close() override;
  std::uint64_t FramesCaptured() const override;

  // The source produces `bytes`, as one piece. While started they fill the queued buffers in
  // order, in whole frames (see CaptureBuffer); bytes that find no queued buffer, or arrive while
  // stopped, are lost. Full buffers come back; then the buffer being filled is handed over
  // (a progress notice) when it has taken HandOverBytes() or more since it was last handed over.
  void Feed(std::span<const std::uint8_t> bytes);
  // Hands over the buffer being filled now, whatever it holds.
  void HandOver();
  // The server (kFailed) or the input (kInputLost) goes away: every queued buffer comes back,
  // then that notice; the device takes no more.
  void Fail(CaptureNotice why = CaptureNotice::kFailed);

  // What the device was asked and what it did, in order: "open", "add <k>", "start", "stop",
  // "reset", "close", "data <k> <bytes>" for each buffer handed back, "progress <k> <bytes>" for
  // each hand-over of the buffer being filled, and "failed" or "input lost", where <k> numbers
  // buffers by the order in which the device first saw them.
  std::vector<std::string> Log() const;
  CaptureFormat Format() const;
  std::size_t QueuedBuffers() const;
  bool IsStarted() const;

 private:
  // Runs `job` on the device thread and waits for it to finish.
  void RunOnDeviceThread(const std::function<void()>& job);
  void DeviceThread();
  void Deliver(CaptureNotice notice, CaptureBuffer* buffer);
  int NumberOf(CaptureBuffer* buffer);  // mutex_ held

  const std::error_code open_error_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;  // guarded by mutex_
  std::uint64_t jobs_done_ = 0;             // guarded by mutex_
  std::uint64_t jobs_posted_ = 0;           // guarded by mutex_
  bool quit_ = false;                       // guarded by mutex_
  std::deque<CaptureBuffer*> queue_;        // guarded by mutex_
  std::vector<CaptureBuffer*> seen_;        // guarded by mutex_
  std::vector<std::string> log_;            // guarded by mutex_
  CaptureFormat format_;                    // guarded by mutex_
  CaptureCallback callback_;                // guarded by mutex_
  bool open_ = false;                       // guarded by mutex_
  bool started_ = false;                    // guarded by mutex_
  bool failed_ = false;                     // guarded by mutex_
  std::uint64_t bytes_captured_ = 0;        // guarded by mutex_
  std::uint32_t front_handed_ = 0;          // guarded by mutex_: bytes of the front buffer
                                            // handed over so far

  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace vt::audio
