// The capture engine: turns the sound of the capture device into the data chunk of the working
// file.
//
// A recording, as the session commands drive it (UI thread):
//   OpenCaptureDevice(); OpenWaveFile(path); StartCapture();
//   ... PauseCapture() / ResumeCapture() any number of times ...
//   StopCapture();   // returns with the file complete, closed and unlocked
//
// Sixteen buffers of 15 x samples-per-second bytes sit in the device's queue. Each buffer the
// device returns is copied and handed straight back (header RequeueCount mod 16), and the copy
// goes to the one writer thread, which appends the copies in the order the device returned them.
// A buffer holds 3.75 to 15 s of sound, so the device also hands over the part of the buffer it
// is filling several times a second (a progress notice): those bytes go to the writer at once,
// and when the buffer comes back only the rest of it follows. A program that is killed loses no
// more than a fraction of a second.
// Pause cuts the sound at the frame where it was pressed and Resume at the frame where it was
// pressed, whatever buffer those frames lie in.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "audio/wav_writer.h"
#include "platform/audio/capture_device.h"

namespace vt::audio {

inline constexpr int kCaptureBufferCount = 16;

// The format the user chose with the format radios; read when a recording starts.
struct FormatChoice {
  std::int32_t channels = 1;            // 1 or 2
  std::int32_t samples_per_sec = 8000;  // 8000, 11025, 22050 or 44100
  std::int32_t bits_per_sample = 8;     // 8 or 16
};

// The format rule applied to a choice (channels and bits taken as their low 16 bits).
WaveFormat MakeWaveFormat(const FormatChoice& choice);

// Bytes of every capture buffer at a sample rate: 15 x samples per second.
constexpr std::uint32_t CaptureBufferBytesFor(std::uint32_t samples_per_sec) {
  return samples_per_sec * 15;
}

// The latest buffer the device returned, for the display's activity bars.
struct LatestCapture {
  int header = -1;  // capture header number; -1 before the first buffer and after the close
  std::shared_ptr<const std::vector<std::uint8_t>> bytes;  // the bytes it recorded
  WaveFormat format;                                       // their format
};

class CAviFile {
 public:
  // factory: makes the capture device of each recording. data_limit: the largest data chunk
  // (tests pass a small one).
  explicit CAviFile(CaptureDeviceFactory factory = MakePulseCaptureDevice,
                    std::uint64_t data_limit = kMaxWaveDataBytes);
  CAviFile(const CAviFile&) = delete;
  CAviFile& operator=(const CAviFile&) = delete;
  // Completes a running recording first.
  ~CAviFile();

  // UI thread.
  void SetFormatChoice(const FormatChoice& choice) { format_choice_ = choice; }
  const FormatChoice& GetFormatChoice() const { return format_choice_; }

  // Creates (or empties) the working file, locked, with the header of an empty recording in
  // FileFormat. Without an open file the recording runs but nothing is written.
  std::error_code OpenWaveFile(const std::string& path);
  // Opens the chosen source in DeviceFormat and queues the sixteen buffers; nothing is captured
  // before StartCapture. Opened before the working file, so that a recording that cannot get
  // sound leaves the last one alone. On failure the recording runs without sound and
  // StopCapture still completes the file.
  std::error_code OpenCaptureDevice();
  std::error_code StartCapture();
  // Leave out the sound from this moment until ResumeCapture (or the stop). Pausing while
  // paused, or resuming while not paused, does nothing.
  void PauseCapture();
  void ResumeCapture();
  // Stops and closes the device, waits until the writer has appended every buffer, and closes
  // the working file. Returns WriteError(). The caller needs no ResumeCapture before it: sound
  // after a pause that was never resumed is left out.
  std::error_code StopCapture();

  // The device's notice function (device thread).
  void WaveInCallback(CaptureNotice notice, CaptureBuffer* header);
  // Hands header n mod 16 back to the device; RequeueCount advances whatever the outcome.
  int RequeueCaptureBuffer(int n);

  // Any thread.
  LatestCapture LatestCaptureBuffer() const;
  bool IsPaused() const { return paused_.load(); }
  bool WaveFileOpen() const { return file_open_.load(); }
  int RequeueCount() const { return requeue_count_.load(); }
  // Why a running recording cannot go on, and the session should stop it and say so. The first
  // one counts; cleared by OpenWaveFile. After a failure nothing more is written, so the file
  // ends with the sound captured up to it.
  enum class Failure {
    kNone,
    kFileFull,     // the data chunk reached its size limit
    kWriteFailed,  // writing the working file failed (a full disk): see WriteError
    kDeviceLost,   // the capture device stopped on its own (the sound server went away)
    kInputLost,    // the capture device stopped because its input went away
  };
  Failure RecordingFailure() const { return failure_.load(); }
  bool FileFull() const { return failure_.load() == Failure::kFileFull; }
  // Called once, on the writer's or the device's thread, when a recording fails; set before
  // the recording starts.
  void SetFailureCallback(std::function<void()> on_failure);
  // The first error writing the working file in this recording (a full disk, a failed close);
  // cleared by OpenWaveFile. Reaching the size limit is not an error (see FileFull).
  std::error_code WriteError() const;
  // Serialises every use of the working file (appends, close).
  std::mutex& FileMutex() { return file_mutex_; }

  // UI thread, for the session and tests.
  const WaveFormat& DeviceFormat() const { return device_format_; }
  const WaveFormat& FileFormat() const { return file_format_; }
  std::uint32_t CaptureBufferBytes() const { return capture_buffer_bytes_; }
  const CaptureBuffer* CaptureHeader(int k) const { return &headers_[k]; }

 private:
  // Bytes of the device's stream for the writer: `size` bytes from `offset` of `bytes`.
  struct Pending {
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;  // null when it could not be copied
    std::uint32_t offset = 0;
    std::uint32_t size = 0;  // bytes the device recorded
  };
  // A span of the device's byte stream left out of the file: [begin, end).
  struct Cut {
    std::uint64_t begin;
    std::uint64_t end;
  };

  void StartWriter();
  void StopWriter();  // appends what is queued, then joins
  void WriterThread();
  void Write(std::span<const std::uint8_t> bytes, std::uint64_t stream_position);
  // Queues bytes [from, to) of a capture header for the writer (device thread).
  void QueueForWriter(std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::uint32_t offset,
                      std::uint32_t size);
  void Fail(Failure failure);            // the first failure of a recording counts
  std::uint64_t StreamPosition() const;  // bytes captured so far
  void FreeCaptureBlocks();
  void CloseWaveFile();
  void SetLatest(LatestCapture latest);

  const CaptureDeviceFactory factory_;
  FormatChoice format_choice_;  // UI thread
  WaveFormat file_format_;      // UI thread
  // Set by OpenCaptureDevice before the device opens and left alone until it has closed, so the
  // device thread reads them without a lock.
  WaveFormat device_format_;
  std::uint32_t capture_buffer_bytes_ = 0;
  std::unique_ptr<CaptureDevice> device_;
  std::array<CaptureBuffer, kCaptureBufferCount> headers_{};
  std::array<std::unique_ptr<std::uint8_t[]>, kCaptureBufferCount> blocks_;
  // Bytes of each header already given to the writer by progress notices; device thread only.
  std::array<std::uint32_t, kCaptureBufferCount> handed_over_{};

  std::atomic<int> requeue_count_{0};
  std::atomic<bool> requeue_enabled_{false};  // from OpenCaptureDevice to StopCapture
  std::atomic<bool> file_open_{false};
  std::atomic<bool> paused_{false};
  std::atomic<Failure> failure_{Failure::kNone};

  mutable std::mutex file_mutex_;
  WaveWriter wave_file_;              // guarded by file_mutex_
  std::error_code write_error_;       // guarded by file_mutex_
  std::function<void()> on_failure_;  // guarded by file_mutex_

  mutable std::mutex latest_mutex_;
  LatestCapture latest_;  // guarded by latest_mutex_

  std::mutex cut_mutex_;
  std::vector<Cut> cuts_;  // guarded by cut_mutex_

  std::mutex queue_mutex_;
  std::condition_variable queue_ready_;
  std::deque<Pending> queue_;     // guarded by queue_mutex_
  bool writer_stopping_ = false;  // guarded by queue_mutex_
  std::thread writer_thread_;
};

}  // namespace vt::audio
