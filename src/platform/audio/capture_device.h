// The capture device: records PCM from the sound server's default source into buffers that the
// caller queues, and hands each buffer back through a notice once it is full. The life cycle is
// the one the capture engine is built around: open, queue buffers, start, (full buffers come back
// in the order they were queued), stop, reset (every queued buffer comes back), close (a close
// notice). The header is free of PulseAudio so every area can use it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <system_error>

namespace vt::audio {

enum class SampleFormat {
  kU8,     // unsigned 8-bit samples
  kS16Le,  // signed 16-bit little-endian samples
};

struct CaptureFormat {
  SampleFormat sample_format = SampleFormat::kS16Le;
  std::uint16_t channels = 2;             // 1 or 2; stereo frames are left then right
  std::uint32_t samples_per_sec = 44100;  // 8000, 11025, 22050 or 44100

  std::uint32_t BytesPerFrame() const {
    return channels * (sample_format == SampleFormat::kU8 ? 1u : 2u);
  }
};

// True for the formats a device accepts (see CaptureFormat).
bool IsSupportedCaptureFormat(const CaptureFormat& format);

// One buffer in the device's queue. The caller owns the memory and keeps it alive and untouched
// from AddBuffer until the buffer comes back through a data notice.
struct CaptureBuffer {
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;          // capacity in bytes; need not be a whole number of frames
  std::uint32_t bytes_recorded = 0;  // set by the device when it hands the buffer back
};

enum class CaptureNotice {
  kOpen,   // the device has opened; no buffer
  kData,   // a buffer comes back, holding bytes_recorded bytes
  kClose,  // the device has closed; no buffer, and no notice follows
};

// Called with every notice. Data notices for full buffers arrive on the device's own thread;
// Reset and Close deliver theirs before they return. A callback may queue buffers (AddBuffer)
// but must not call Start, Stop, Reset or Close.
using CaptureCallback = std::function<void(CaptureNotice, CaptureBuffer*)>;

class CaptureDevice {
 public:
  virtual ~CaptureDevice() = default;

  // Opens the default source in `format`. Fails with std::errc::connection_refused when no sound
  // server can be reached, std::errc::invalid_argument for an unsupported format, and another
  // error for anything else; a device that failed to open sends no notice.
  virtual std::error_code Open(const CaptureFormat& format, CaptureCallback callback) = 0;

  // Puts a buffer at the end of the queue. Its bytes_recorded is set to 0. Fails when the device
  // is not open or has failed (the sound server went away); the buffer then stays the caller's.
  virtual std::error_code AddBuffer(CaptureBuffer* buffer) = 0;

  // Starts or stops filling the queued buffers. Stop keeps the buffers queued.
  virtual std::error_code Start() = 0;
  virtual std::error_code Stop() = 0;

  // Stops capturing and hands back every queued buffer in queue order: the partly filled one
  // with its bytes, the empty ones with 0. Every notice has been delivered when it returns.
  virtual std::error_code Reset() = 0;

  // Hands back any buffer still queued (as Reset does), closes the device and sends the close
  // notice before it returns. Safe to call on a device that failed mid-recording.
  virtual std::error_code Close() = 0;

  // Frames written into buffers since the device opened: the stream position, in frames, of the
  // next byte to be captured. Bytes dropped because no buffer was queued are not counted, so
  // the position always matches the bytes handed back. Safe to call from any thread.
  virtual std::uint64_t FramesCaptured() const = 0;
};

using CaptureDeviceFactory = std::function<std::unique_ptr<CaptureDevice>()>;

// A device recording from the PulseAudio (or pipewire-pulse) server's default source.
std::unique_ptr<CaptureDevice> MakePulseCaptureDevice();

}  // namespace vt::audio
