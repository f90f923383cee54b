// The capture device on a PulseAudio (or pipewire-pulse) record stream.
//
// Threads: the stream's callbacks run on the threaded main loop's thread with the loop's lock
// held; full buffers are handed back from there. The buffer queue has its own mutex so that a
// callback can queue a buffer again without touching the loop's lock. Lock order: loop lock,
// then queue mutex; no notice is delivered while the queue mutex is held.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/capture_device.h"
#include "platform/audio/pulse_connection.h"
#include "platform/audio/recording_route.h"

namespace vt::audio {

namespace {

// How long Open waits for the server before giving up, so an unresponsive server cannot hang
// the caller.
constexpr pa_usec_t kOpenTimeoutUsec = 5 * PA_USEC_PER_SEC;
// The server delivers sound in pieces of about this length: short enough that a pause is cut
// close to the moment it was pressed.
constexpr pa_usec_t kFragmentUsec = 25 * PA_USEC_PER_MSEC;

std::error_code ErrorFromPulse(int pa_error) {
  switch (pa_error) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_INVALIDSERVER:
    case PA_ERR_CONNECTIONTERMINATED:
      return std::make_error_code(std::errc::connection_refused);
    case PA_ERR_TIMEOUT:
      return std::make_error_code(std::errc::timed_out);
    case PA_ERR_NOENTITY:
      return std::make_error_code(std::errc::no_such_device);
    case PA_ERR_ACCESS:
      return std::make_error_code(std::errc::permission_denied);
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID:
      return std::make_error_code(std::errc::invalid_argument);
    default:
      return std::make_error_code(std::errc::io_error);
  }
}

class PulseCaptureDevice final : public CaptureDevice {
 public:
  PulseCaptureDevice() = default;
  PulseCaptureDevice(const PulseCaptureDevice&) = delete;
  PulseCaptureDevice& operator=(const PulseCaptureDevice&) = delete;
  ~PulseCaptureDevice() override { Teardown(); }

  std::error_code Open(const CaptureFormat& format, CaptureCallback callback) override;
  std::error_code AddBuffer(CaptureBuffer* buffer) override;
  std::error_code Start() override;
  std::error_code Stop() override;
  std::error_code Reset() override;
  std::error_code Close() override;
  std::uint64_t FramesCaptured() const override {
    return bytes_captured_.load() / format_.BytesPerFrame();
  }

 private:
  static void OnContextState(pa_context* context, void* self);
  static void OnStreamState(pa_stream* stream, void* self);
  static void OnStreamMoved(pa_stream* stream, void* self);
  static void OnStreamSuspended(pa_stream* stream, void* self);
  static void OnServerEvent(pa_context* context, pa_subscription_event_type_t type,
                            std::uint32_t index, void* self);
  static void OnSourceLookedUp(pa_context* context, const pa_source_info* info, int eol,
                               void* self);
  static void OnReadable(pa_stream* stream, size_t nbytes, void* self);
  static void OnTimeout(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                        void* self);

  // Waits (loop lock held) until the context and, when asked, the stream are ready, or either
  // failed, or the open time-out passed.
  std::error_code WaitReady(bool for_stream);
  void Capture(const void* data, size_t nbytes);
  // The server or the input went away: the device stops, every queued buffer goes back, and
  // `why` (kFailed or kInputLost) is told.
  void Fail(CaptureNotice why);
  // True when the stream records from the input the user chose (or no input was chosen).
  bool OnChosenInput() const;
  void ReturnAll(std::deque<CaptureBuffer*> buffers);
  // Disconnects and frees everything of PulseAudio; delivers no notice.
  void Teardown();

  // Set by Open before the loop's thread starts and cleared by Teardown after it stopped.
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  CaptureFormat format_;
  CaptureCallback callback_;
  bool timed_out_ = false;              // guarded by the loop lock
  bool found_suspended_input_ = false;  // guarded by the loop lock: a look-up's answer so far

  mutable std::mutex queue_mutex_;
  std::deque<CaptureBuffer*> queue_;  // guarded by queue_mutex_
  bool open_ = false;                 // guarded by queue_mutex_
  bool filling_ = false;              // guarded by queue_mutex_: from Start to Stop or Reset
  bool failed_ = false;               // guarded by queue_mutex_
  std::uint32_t front_handed_ = 0;    // guarded by queue_mutex_: bytes of the front buffer
                                      // handed over so far

  std::atomic<std::uint64_t> bytes_captured_{0};
};

void PulseCaptureDevice::OnContextState(pa_context* context, void* self) {
  auto* device = static_cast<PulseCaptureDevice*>(self);
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
    device->Fail(CaptureNotice::kFailed);
  pa_threaded_mainloop_signal(device->mainloop_, 0);
}

void PulseCaptureDevice::OnStreamState(pa_stream* stream, void* self) {
  auto* device = static_cast<PulseCaptureDevice*>(self);
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
    // With the server still there, the stream itself was ended: its input was taken from it.
    const bool server_there = pa_context_get_state(device->context_) == PA_CONTEXT_READY;
    device->Fail(server_there ? CaptureNotice::kInputLost : CaptureNotice::kFailed);
  }
  pa_threaded_mainloop_signal(device->mainloop_, 0);
}

bool PulseCaptureDevice::OnChosenInput() const {
  const std::string chosen = ChosenSourceName();
  const char* device = pa_stream_get_device_name(stream_);
  return chosen.empty() || (device != nullptr && chosen == device);
}

void PulseCaptureDevice::OnStreamMoved(pa_stream*, void* self) {
  // A move the user asked for (a new row in the list) lands on the chosen input; any other move
  // is the server's: its input has gone and it found the stream another.
  auto* device = static_cast<PulseCaptureDevice*>(self);
  if (!device->OnChosenInput()) device->Fail(CaptureNotice::kInputLost);
}

void PulseCaptureDevice::OnStreamSuspended(pa_stream* stream, void* self) {
  // A suspended input may only be resting, or may be on its way out: ask whether it is still
  // there.
  auto* device = static_cast<PulseCaptureDevice*>(self);
  if (pa_stream_is_suspended(stream) != 1) return;
  device->found_suspended_input_ = false;
  if (pa_operation* lookup = pa_context_get_source_info_by_index(
          device->context_, pa_stream_get_device_index(stream), &OnSourceLookedUp, self)) {
    pa_operation_unref(lookup);
  }
}

void PulseCaptureDevice::OnSourceLookedUp(pa_context*, const pa_source_info* info, int eol,
                                          void* self) {
  auto* device = static_cast<PulseCaptureDevice*>(self);
  if (info != nullptr) device->found_suspended_input_ = true;
  // An error (no such source), or the end of an answer that did not hold it: the input is gone.
  if (eol < 0 || (eol > 0 && !device->found_suspended_input_))
    device->Fail(CaptureNotice::kInputLost);
}

void PulseCaptureDevice::OnServerEvent(pa_context*, pa_subscription_event_type_t type,
                                       std::uint32_t index, void* self) {
  auto* device = static_cast<PulseCaptureDevice*>(self);
  if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SOURCE ||
      (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_REMOVE ||
      device->stream_ == nullptr) {
    return;
  }
  if (index == pa_stream_get_device_index(device->stream_)) device->Fail(CaptureNotice::kInputLost);
}

void PulseCaptureDevice::OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                   void* self) {
  auto* device = static_cast<PulseCaptureDevice*>(self);
  device->timed_out_ = true;
  pa_threaded_mainloop_signal(device->mainloop_, 0);
}

void PulseCaptureDevice::OnReadable(pa_stream* stream, size_t, void* self) {
  auto* device = static_cast<PulseCaptureDevice*>(self);
  for (;;) {
    const void* data = nullptr;
    size_t nbytes = 0;
    if (pa_stream_peek(stream, &data, &nbytes) < 0 || nbytes == 0) return;
    device->Capture(data, nbytes);  // data is null for a hole: captured as silence
    pa_stream_drop(stream);
  }
}

void PulseCaptureDevice::Capture(const void* data, size_t nbytes) {
  std::vector<CaptureBuffer*> full;
  CaptureBuffer* progress = nullptr;
  {
    std::lock_guard lock(queue_mutex_);
    if (!filling_ || failed_) return;
    const auto* source = static_cast<const std::uint8_t*>(data);
    const std::uint8_t silence = format_.sample_format == SampleFormat::kU8 ? 0x80 : 0x00;
    const std::uint32_t frame = format_.BytesPerFrame();
    size_t done = 0;
    while (done < nbytes && !queue_.empty()) {
      CaptureBuffer* buffer = queue_.front();
      // Whole frames only: a buffer never ends in half a frame.
      const std::uint32_t usable = UsableBufferBytes(buffer->length, frame);
      const size_t take = std::min<size_t>(usable - buffer->bytes_recorded, nbytes - done);
      std::uint8_t* target = buffer->data + buffer->bytes_recorded;
      if (source != nullptr) {
        std::memcpy(target, source + done, take);
      } else {
        std::memset(target, silence, take);
      }
      buffer->bytes_recorded += static_cast<std::uint32_t>(take);
      done += take;
      bytes_captured_.fetch_add(take);
      if (buffer->bytes_recorded == usable) {
        full.push_back(buffer);
        queue_.pop_front();
        front_handed_ = 0;
      }
    }
    // Sound that finds no queued buffer is dropped and not counted.
    if (!queue_.empty() &&
        queue_.front()->bytes_recorded - front_handed_ >= format_.HandOverBytes()) {
      progress = queue_.front();
      front_handed_ = progress->bytes_recorded;
    }
  }
  for (CaptureBuffer* buffer : full) callback_(CaptureNotice::kData, buffer);
  // Only this thread fills the buffer, so its bytes hold still while the callback reads them.
  if (progress != nullptr) callback_(CaptureNotice::kProgress, progress);
}

void PulseCaptureDevice::Fail(CaptureNotice why) {
  std::deque<CaptureBuffer*> held;
  {
    std::lock_guard lock(queue_mutex_);
    if (!open_ || failed_) return;
    failed_ = true;
    filling_ = false;
    held.swap(queue_);
    front_handed_ = 0;
  }
  ReturnAll(std::move(held));
  callback_(why, nullptr);
}

void PulseCaptureDevice::ReturnAll(std::deque<CaptureBuffer*> buffers) {
  for (CaptureBuffer* buffer : buffers) callback_(CaptureNotice::kData, buffer);
}

std::error_code PulseCaptureDevice::WaitReady(bool for_stream) {
  for (;;) {
    const pa_context_state_t context_state = pa_context_get_state(context_);
    if (!PA_CONTEXT_IS_GOOD(context_state)) return ErrorFromPulse(pa_context_errno(context_));
    if (context_state == PA_CONTEXT_READY) {
      if (!for_stream) return {};
      const pa_stream_state_t stream_state = pa_stream_get_state(stream_);
      if (stream_state == PA_STREAM_READY) return {};
      if (!PA_STREAM_IS_GOOD(stream_state)) return ErrorFromPulse(pa_context_errno(context_));
    }
    if (timed_out_) return std::make_error_code(std::errc::timed_out);
    pa_threaded_mainloop_wait(mainloop_);
  }
}

std::error_code PulseCaptureDevice::Open(const CaptureFormat& format, CaptureCallback callback) {
  if (mainloop_ != nullptr) return std::make_error_code(std::errc::device_or_resource_busy);
  if (!IsSupportedCaptureFormat(format) || !callback) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  format_ = format;
  callback_ = std::move(callback);
  bytes_captured_ = 0;
  timed_out_ = false;

  pa_sample_spec sample_spec{};
  sample_spec.format = format.sample_format == SampleFormat::kU8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
  sample_spec.rate = format.samples_per_sec;
  sample_spec.channels = static_cast<std::uint8_t>(format.channels);

  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ == nullptr) return std::make_error_code(std::errc::not_enough_memory);
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Voxtape");
  if (context_ == nullptr) {
    Teardown();
    return std::make_error_code(std::errc::not_enough_memory);
  }
  pa_context_set_state_callback(context_, &OnContextState, this);
  // No autospawn: with no server running, the open fails instead of starting one.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    const std::error_code error = ErrorFromPulse(pa_context_errno(context_));
    Teardown();
    return error;
  }
  if (pa_threaded_mainloop_start(mainloop_) < 0) {
    Teardown();
    return std::make_error_code(std::errc::resource_unavailable_try_again);
  }

  pa_threaded_mainloop_lock(mainloop_);
  pa_time_event* timer =
      pa_context_rttime_new(context_, pa_rtclock_now() + kOpenTimeoutUsec, &OnTimeout, this);
  std::error_code error = WaitReady(false);
  if (!error) {
    stream_ = pa_stream_new(context_, "Recording", &sample_spec, nullptr);
    if (stream_ == nullptr) {
      error = ErrorFromPulse(pa_context_errno(context_));
    } else {
      pa_stream_set_state_callback(stream_, &OnStreamState, this);
      pa_stream_set_read_callback(stream_, &OnReadable, this);
      pa_stream_set_moved_callback(stream_, &OnStreamMoved, this);
      pa_stream_set_suspended_callback(stream_, &OnStreamSuspended, this);
      pa_buffer_attr attr{};
      attr.maxlength = static_cast<std::uint32_t>(-1);
      attr.tlength = static_cast<std::uint32_t>(-1);
      attr.prebuf = static_cast<std::uint32_t>(-1);
      attr.minreq = static_cast<std::uint32_t>(-1);
      attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &sample_spec));
      // Not corked: the stream runs from here to the close and Start only lets its sound into
      // the buffers. A record stream that is uncorked on PipeWire may hand over a stale first
      // fragment, a jump in the sound at the start of every take.
      const auto flags = PA_STREAM_ADJUST_LATENCY;
      // The source the user chose in the source list; none: the server's default source.
      const std::string source = ChosenSourceName();
      if (pa_stream_connect_record(stream_, source.empty() ? nullptr : source.c_str(), &attr,
                                   flags) < 0) {
        error = ErrorFromPulse(pa_context_errno(context_));
      } else {
        error = WaitReady(true);
      }
      // A server may connect a stream whose source has gone to another one (PipeWire does):
      // that would be a take of an input nobody chose.
      if (!error && !source.empty()) {
        const char* device = pa_stream_get_device_name(stream_);
        if (device == nullptr || source != device)
          error = std::make_error_code(std::errc::no_such_device);
      }
      // While it runs, a new choice of source moves the stream.
      if (!error) SetRecordingStreamIndex(pa_stream_get_index(stream_));
      // The input's removal is told as a server event (PipeWire leaves the stream connected to
      // nothing and hands over silence).
      if (!error) {
        pa_context_set_subscribe_callback(context_, &OnServerEvent, this);
        if (pa_operation* subscribe =
                pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr))
          pa_operation_unref(subscribe);
      }
    }
  }
  if (timer != nullptr) pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
  if (!error) {
    std::lock_guard lock(queue_mutex_);
    open_ = true;
    failed_ = false;
    filling_ = false;
  }
  pa_threaded_mainloop_unlock(mainloop_);

  if (error) {
    Teardown();
    return error;
  }
  callback_(CaptureNotice::kOpen, nullptr);
  return {};
}

std::error_code PulseCaptureDevice::AddBuffer(CaptureBuffer* buffer) {
  if (buffer == nullptr || buffer->data == nullptr) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  std::lock_guard lock(queue_mutex_);
  if (!open_) return std::make_error_code(std::errc::bad_file_descriptor);
  if (failed_) return std::make_error_code(std::errc::connection_aborted);
  buffer->bytes_recorded = 0;
  queue_.push_back(buffer);
  return {};
}

std::error_code PulseCaptureDevice::Start() {
  if (mainloop_ == nullptr) return std::make_error_code(std::errc::bad_file_descriptor);
  pa_threaded_mainloop_lock(mainloop_);
  bool failed = false;
  {
    std::lock_guard lock(queue_mutex_);
    failed = failed_;
    if (!failed_) filling_ = true;
  }
  pa_threaded_mainloop_unlock(mainloop_);
  return failed ? std::make_error_code(std::errc::connection_aborted) : std::error_code{};
}

std::error_code PulseCaptureDevice::Stop() {
  if (mainloop_ == nullptr) return std::make_error_code(std::errc::bad_file_descriptor);
  pa_threaded_mainloop_lock(mainloop_);
  {
    std::lock_guard lock(queue_mutex_);
    filling_ = false;
  }
  pa_threaded_mainloop_unlock(mainloop_);
  return {};
}

std::error_code PulseCaptureDevice::Reset() {
  if (mainloop_ == nullptr) return std::make_error_code(std::errc::bad_file_descriptor);
  std::deque<CaptureBuffer*> queued;
  // Holding the loop lock means no read callback is half way through handing buffers back, so
  // the buffers below come back after every buffer returned before them.
  pa_threaded_mainloop_lock(mainloop_);
  {
    std::lock_guard lock(queue_mutex_);
    filling_ = false;
    queued.swap(queue_);
    front_handed_ = 0;
  }
  pa_threaded_mainloop_unlock(mainloop_);
  ReturnAll(std::move(queued));
  return {};
}

std::error_code PulseCaptureDevice::Close() {
  if (mainloop_ == nullptr) return std::make_error_code(std::errc::bad_file_descriptor);
  Reset();
  Teardown();
  CaptureCallback callback = std::move(callback_);
  callback_ = nullptr;
  callback(CaptureNotice::kClose, nullptr);
  return {};
}

void PulseCaptureDevice::Teardown() {
  if (mainloop_ == nullptr) return;
  pa_threaded_mainloop_lock(mainloop_);
  {
    std::lock_guard lock(queue_mutex_);
    open_ = false;
    filling_ = false;
    queue_.clear();
  }
  if (stream_ != nullptr) SetRecordingStreamIndex(std::nullopt);
  CloseStream(stream_);
  CloseContext(context_);
  pa_threaded_mainloop_unlock(mainloop_);
  FreeThreadedMainLoop(mainloop_);
}

}  // namespace

std::unique_ptr<CaptureDevice> MakePulseCaptureDevice() {
  return std::make_unique<PulseCaptureDevice>();
}

}  // namespace vt::audio
