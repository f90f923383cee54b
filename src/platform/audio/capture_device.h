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

// Sound captured into the buffer being filled is handed over at least this often (in time of
// sound), so a caller can save it long before the buffer is full.
inline constexpr std::uint32_t kHandOverMilliseconds = 100;

struct CaptureFormat {
  SampleFormat sample_format = SampleFormat::kS16Le;
  std::uint16_t channels = 2;             // 1 or 2; stereo frames are left then right
  std::uint32_t samples_per_sec = 44100;  // 8000, 11025, 22050 or 44100

  std::uint32_t BytesPerFrame() const {
    return channels * (sample_format == SampleFormat::kU8 ? 1u : 2u);
  }
  // Bytes of kHandOverMilliseconds of sound, in whole frames (at least one).
  std::uint32_t HandOverBytes() const {
    const std::uint32_t frames = samples_per_sec * kHandOverMilliseconds / 1000;
    return (frames > 0 ? frames : 1) * BytesPerFrame();
  }
};

// True for the formats a device accepts (see CaptureFormat).
bool IsSupportedCaptureFormat(const CaptureFormat& format);

// One buffer in the device's queue. The caller owns the memory and keeps it alive and untouched
// from AddBuffer until the buffer comes back through a data notice.
//
// The device fills a buffer in whole frames only: a length that is not a whole number of frames
// (15 x 11025 bytes of 16-bit mono) leaves its last bytes unused, so a full buffer never ends
// in half a frame.
struct CaptureBuffer {
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;          // capacity in bytes; need not be a whole number of frames
  std::uint32_t bytes_recorded = 0;  // set by the device as it fills the buffer
};

enum class CaptureNotice {
  kOpen,       // the device has opened; no buffer
  kData,       // a buffer comes back, holding bytes_recorded bytes
  kClose,      // the device has closed; no buffer, and no notice follows
  kProgress,   // the buffer being filled holds bytes_recorded bytes so far; it stays queued and
               // the device goes on filling it after the callback returns
  kFailed,     // the device stopped on its own (the sound server went away): every queued buffer
               // has come back; no data or progress notice follows. No buffer.
  kInputLost,  // the device stopped on its own because its input went away, was taken from it,
               // or the server put its stream on another input than the chosen one; otherwise
               // as kFailed.
};

// Called with every notice, one at a time and in order. Data and progress notices arrive on the
// device's own thread; Reset and Close deliver theirs before they return. A callback may queue
// buffers (AddBuffer) and read the bytes of the buffer it is given, but must not call Start,
// Stop, Reset or Close.
using CaptureCallback = std::function<void(CaptureNotice, CaptureBuffer*)>;

// How many bytes of a buffer of `length` bytes a device fills: whole frames only.
inline std::uint32_t UsableBufferBytes(std::uint32_t length, std::uint32_t bytes_per_frame) {
  return bytes_per_frame == 0 ? length : length - length % bytes_per_frame;
}

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
