// The player on a PulseAudio (or pipewire-pulse) playback stream, reading the file with
// libsndfile.
//
// Each playback has a connection of its own, so one that failed never spoils the next. The
// stream gets the file's own rate, channels and, where the server has it, sample format; the
// server converts to the sink's. Threads: the stream's callbacks run on the threaded main loop's
// thread with the loop's lock held; they read the file, write the stream and, at the end, call
// the playback's end notice, which only posts. The player's mutex guards which playback is open,
// for PositionText from other threads. Lock order: the player's mutex, then the loop lock; no
// callback takes the player's mutex.
#include <pulse/pulseaudio.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/audio/player.h"
#include "platform/audio/pulse_connection.h"

namespace vt::audio {

namespace {

// What is heard lags what the server mixes by the sink's own buffer, which the stream asks to
// be as short as one request: Play and Stop are heard at once. Ahead of it the server holds a
// longer queue of the file, so a busy machine that is late to refill it leaves no gap; Stop drops
// the queue unheard.
constexpr pa_usec_t kQueueUsec = 250 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kRequestUsec = 20 * PA_USEC_PER_MSEC;
// A server that does not answer within this time counts as gone.
constexpr pa_usec_t kConnectTimeoutUsec = 5 * PA_USEC_PER_SEC;

enum class ReadAs { kRawU8, kShort, kInt, kFloat };

// One playback: the open file and a connection of its own to the server.
class Playback {
 public:
  Playback(SNDFILE* file, const SF_INFO& info, std::function<void()> on_played_out)
      : file_(file), info_(info), on_played_out_(std::move(on_played_out)) {}
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;
  ~Playback() { Teardown(); }

  // Picks the stream's format for the file; false for a file the server cannot play.
  bool ChooseFormat();
  // Connects and starts the loop; the stream follows once the server has answered.
  std::error_code Start(double gain);

  void SetPaused(bool paused);
  void Rewind();
  void SetVolume(double gain);
  double PositionSeconds();
  // Why it ended early (see Player::LastError); set on the loop's thread before the end notice.
  std::error_code Failure() const {
    const int why = failure_.load();
    return why == 0 ? std::error_code{} : std::make_error_code(static_cast<std::errc>(why));
  }

 private:
  static void OnContextState(pa_context* context, void* self);
  static void OnStreamState(pa_stream* stream, void* self);
  static void OnWritable(pa_stream* stream, size_t nbytes, void* self);
  static void OnDrained(pa_stream* stream, int success, void* self);
  static void OnPlayedOut(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                          void* self);
  static void OnConnectTimeout(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                               void* self);

  // All below run with the loop lock held.
  void ConnectStream();
  void Fill(size_t nbytes);
  sf_count_t ReadFrames(void* target, sf_count_t frames);
  bool StreamReady() const {
    return stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY;
  }
  pa_cvolume Volume() const;
  void ApplyVolume();
  void Cork(bool cork);
  void CancelEnd();
  // The end notice, once per playback.
  void Report();
  void Fail(std::errc why);
  void Teardown();

  SNDFILE* file_;
  SF_INFO info_;
  ReadAs read_as_ = ReadAs::kFloat;
  pa_sample_spec spec_{};
  pa_channel_map map_{};
  std::function<void()> on_played_out_;

  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  // Guarded by the loop lock from Start on.
  pa_stream* stream_ = nullptr;
  pa_operation* drain_ = nullptr;
  pa_time_event* played_out_timer_ = nullptr;
  double gain_ = 1.0;
  bool paused_ = false;
  bool at_end_ = false;
  bool reported_ = false;
  pa_usec_t time_base_ = 0;  // the stream time at the last rewind
  bool was_ready_ = false;   // the stream has played: a failure now is the server going away
  std::atomic<int> failure_{0};
};

bool Playback::ChooseFormat() {
  if (info_.channels < 1 || info_.channels > int{PA_CHANNELS_MAX} || info_.samplerate < 1 ||
      static_cast<unsigned>(info_.samplerate) > PA_RATE_MAX) {
    return false;
  }
  switch (info_.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
      read_as_ = ReadAs::kRawU8;
      spec_.format = PA_SAMPLE_U8;
      break;
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_16:
      read_as_ = ReadAs::kShort;
      spec_.format = PA_SAMPLE_S16NE;
      break;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
      read_as_ = ReadAs::kInt;
      spec_.format = PA_SAMPLE_S32NE;
      break;
    default:  // floats and every compressed kind: libsndfile decodes them to floats
      read_as_ = ReadAs::kFloat;
      spec_.format = PA_SAMPLE_FLOAT32NE;
      break;
  }
  spec_.rate = static_cast<std::uint32_t>(info_.samplerate);
  spec_.channels = static_cast<std::uint8_t>(info_.channels);
  return pa_sample_spec_valid(&spec_) &&
         pa_channel_map_init_extend(&map_, spec_.channels, PA_CHANNEL_MAP_DEFAULT) != nullptr;
}

std::error_code Playback::Start(double gain) {
  gain_ = gain;
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ == nullptr) return std::make_error_code(std::errc::not_enough_memory);
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Voxtape");
  if (context_ == nullptr) return std::make_error_code(std::errc::not_enough_memory);
  pa_context_set_state_callback(context_, &OnContextState, this);
  // No autospawn: with no server running, Play fails instead of starting one. A connection
  // that fails at once says so through its state callback too: that is no end notice.
  reported_ = true;
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return std::make_error_code(std::errc::connection_refused);
  }
  reported_ = false;
  pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeoutUsec, &OnConnectTimeout, this);
  if (pa_threaded_mainloop_start(mainloop_) < 0) {
    return std::make_error_code(std::errc::resource_unavailable_try_again);
  }
  return {};
}

void Playback::OnContextState(pa_context* context, void* self) {
  auto* playback = static_cast<Playback*>(self);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      playback->ConnectStream();
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      playback->Fail(playback->was_ready_ ? std::errc::connection_aborted
                                          : std::errc::connection_refused);
      break;
    default:
      break;
  }
}

void Playback::OnConnectTimeout(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                                void* self) {
  auto* playback = static_cast<Playback*>(self);
  api->time_free(event);
  if (!playback->StreamReady()) playback->Fail(std::errc::connection_refused);
}

pa_cvolume Playback::Volume() const {
  pa_cvolume volume;
  pa_cvolume_set(&volume, spec_.channels, pa_sw_volume_from_linear(gain_));
  return volume;
}

void Playback::ConnectStream() {
  stream_ = pa_stream_new(context_, "Playback", &spec_, &map_);
  if (stream_ == nullptr) {
    Report();
    return;
  }
  pa_stream_set_state_callback(stream_, &OnStreamState, this);
  pa_stream_set_write_callback(stream_, &OnWritable, this);
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kQueueUsec, &spec_));
  attr.prebuf = static_cast<std::uint32_t>(-1);
  attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequestUsec, &spec_));
  attr.fragsize = static_cast<std::uint32_t>(-1);
  // Corked until its volume is set (see OnStreamState).
  const auto flags =
      static_cast<pa_stream_flags_t>(PA_STREAM_EARLY_REQUESTS | PA_STREAM_INTERPOLATE_TIMING |
                                     PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_START_CORKED);
  const pa_cvolume volume = Volume();
  // The default sink: where the desktop sends sound now.
  if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, &volume, nullptr) < 0) Report();
}

void Playback::OnStreamState(pa_stream* stream, void* self) {
  auto* playback = static_cast<Playback*>(self);
  switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
      // Not every server takes the volume given with the connection (PipeWire's keeps its own);
      // the server handles requests in order, so the stream is heard at this volume from its
      // first sample.
      playback->was_ready_ = true;
      playback->ApplyVolume();
      if (!playback->paused_) playback->Cork(false);
      break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
      playback->Fail(playback->was_ready_ ? std::errc::connection_aborted
                                          : std::errc::connection_refused);
      break;
    default:
      break;
  }
}

void Playback::ApplyVolume() {
  const pa_cvolume volume = Volume();
  if (pa_operation* op = pa_context_set_sink_input_volume(context_, pa_stream_get_index(stream_),
                                                          &volume, nullptr, nullptr)) {
    pa_operation_unref(op);
  }
}

void Playback::Cork(bool cork) {
  if (pa_operation* op = pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr)) {
    pa_operation_unref(op);
  }
}

void Playback::OnWritable(pa_stream*, size_t nbytes, void* self) {
  static_cast<Playback*>(self)->Fill(nbytes);
}

sf_count_t Playback::ReadFrames(void* target, sf_count_t frames) {
  switch (read_as_) {
    case ReadAs::kRawU8:
      return sf_read_raw(file_, target, frames * info_.channels) / info_.channels;
    case ReadAs::kShort:
      return sf_readf_short(file_, static_cast<short*>(target), frames);
    case ReadAs::kInt:
      return sf_readf_int(file_, static_cast<int*>(target), frames);
    case ReadAs::kFloat:
      return sf_readf_float(file_, static_cast<float*>(target), frames);
  }
  return 0;
}

void Playback::Fill(size_t nbytes) {
  const size_t frame_size = pa_frame_size(&spec_);
  while (!at_end_ && nbytes >= frame_size) {
    void* data = nullptr;
    size_t size = nbytes;
    if (pa_stream_begin_write(stream_, &data, &size) < 0 || data == nullptr) return;
    const sf_count_t wanted = static_cast<sf_count_t>(std::min(size, nbytes) / frame_size);
    const sf_count_t frames = wanted > 0 ? ReadFrames(data, wanted) : 0;
    if (frames <= 0) {
      pa_stream_cancel_write(stream_);
      // The whole file is with the server: it says when the last of it has been played.
      at_end_ = true;
      drain_ = pa_stream_drain(stream_, &OnDrained, this);
      if (drain_ == nullptr) Report();
      return;
    }
    const size_t bytes = static_cast<size_t>(frames) * frame_size;
    const int w = pa_stream_write(stream_, data, bytes, nullptr, 0, PA_SEEK_RELATIVE);
    if (w < 0) return;
    nbytes -= std::min(nbytes, bytes);
  }
}

void Playback::OnDrained(pa_stream* stream, int success, void* self) {
  auto* playback = static_cast<Playback*>(self);
  if (playback->drain_ != nullptr) {
    pa_operation_unref(playback->drain_);
    playback->drain_ = nullptr;
  }
  // A failed drain: the stream died (its state change reports) or the sound was rewound.
  if (!success || !playback->at_end_) return;
  // The server has mixed the last sound; the sink still holds its own latency's worth of it.
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(stream, &latency, &negative) < 0 || negative) latency = 0;
  playback->played_out_timer_ =
      pa_context_rttime_new(playback->context_, pa_rtclock_now() + latency, &OnPlayedOut, self);
  if (playback->played_out_timer_ == nullptr) playback->Report();
}

void Playback::OnPlayedOut(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                           void* self) {
  auto* playback = static_cast<Playback*>(self);
  api->time_free(event);
  playback->played_out_timer_ = nullptr;
  playback->Report();
}

void Playback::CancelEnd() {
  if (drain_ != nullptr) {
    pa_operation_cancel(drain_);
    pa_operation_unref(drain_);
    drain_ = nullptr;
  }
  if (played_out_timer_ != nullptr) {
    pa_threaded_mainloop_get_api(mainloop_)->time_free(played_out_timer_);
    played_out_timer_ = nullptr;
  }
}

void Playback::Fail(std::errc why) {
  if (!reported_) failure_ = static_cast<int>(why);
  Report();
}

void Playback::Report() {
  if (reported_) return;
  reported_ = true;
  if (on_played_out_) on_played_out_();
}

void Playback::SetPaused(bool paused) {
  pa_threaded_mainloop_lock(mainloop_);
  paused_ = paused;
  // Corked, the server holds the stream where it is, buffer and all; a drain waits meanwhile.
  if (StreamReady()) Cork(paused);
  pa_threaded_mainloop_unlock(mainloop_);
}

void Playback::Rewind() {
  pa_threaded_mainloop_lock(mainloop_);
  CancelEnd();
  if (sf_seek(file_, 0, SEEK_SET) == 0) {
    at_end_ = false;
    if (StreamReady()) {
      // Drops what was queued ahead; the server asks for the beginning next.
      if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr)) pa_operation_unref(op);
      pa_usec_t now = 0;
      time_base_ = pa_stream_get_time(stream_, &now) >= 0 ? now : 0;
    }
  }
  pa_threaded_mainloop_unlock(mainloop_);
}

void Playback::SetVolume(double gain) {
  pa_threaded_mainloop_lock(mainloop_);
  gain_ = gain;
  if (StreamReady()) ApplyVolume();
  pa_threaded_mainloop_unlock(mainloop_);
}

double Playback::PositionSeconds() {
  pa_threaded_mainloop_lock(mainloop_);
  pa_usec_t now = 0;
  double seconds = 0;
  if (StreamReady() && pa_stream_get_time(stream_, &now) >= 0 && now > time_base_) {
    seconds = static_cast<double>(now - time_base_) / PA_USEC_PER_SEC;
  }
  pa_threaded_mainloop_unlock(mainloop_);
  return seconds;
}

void Playback::Teardown() {
  if (mainloop_ != nullptr) {
    pa_threaded_mainloop_lock(mainloop_);
    CancelEnd();
    CloseStream(stream_);
    CloseContext(context_);
    pa_threaded_mainloop_unlock(mainloop_);
    FreeThreadedMainLoop(mainloop_);
  }
  if (file_ != nullptr) {
    sf_close(file_);
    file_ = nullptr;
  }
}

class PulsePlayer final : public Player {
 public:
  PulsePlayer() = default;
  PulsePlayer(const PulsePlayer&) = delete;
  PulsePlayer& operator=(const PulsePlayer&) = delete;
  ~PulsePlayer() override { Close(); }

  std::error_code Play(const std::string& path, std::function<void()> on_played_out) override;
  void Close() override;
  void Pause() override {
    if (playback_) playback_->SetPaused(true);
  }
  void Resume() override {
    if (playback_) playback_->SetPaused(false);
  }
  void Rewind() override {
    if (playback_) playback_->Rewind();
  }
  void SetVolume(double gain) override;
  std::string PositionText() const override;
  std::error_code LastError() const override {
    if (play_error_) return play_error_;
    std::lock_guard lock(playback_mutex_);
    return playback_ ? playback_->Failure() : std::error_code{};
  }

 private:
  // Replaced only on the user-interface thread, under the mutex; other threads read it under
  // the mutex.
  mutable std::mutex playback_mutex_;
  std::unique_ptr<Playback> playback_;
  double gain_ = 1.0;           // user-interface thread only
  std::error_code play_error_;  // what the last Play returned; user-interface thread only
  std::error_code Open(const std::string& path, std::function<void()> on_played_out);
};

std::error_code PulsePlayer::Play(const std::string& path, std::function<void()> on_played_out) {
  Close();
  play_error_ = Open(path, std::move(on_played_out));
  return play_error_;
}

std::error_code PulsePlayer::Open(const std::string& path, std::function<void()> on_played_out) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    return sf_error(nullptr) == SF_ERR_SYSTEM
               ? std::make_error_code(std::errc::no_such_file_or_directory)
               : std::make_error_code(std::errc::invalid_argument);
  }
  auto playback = std::make_unique<Playback>(file, info, std::move(on_played_out));
  if (!playback->ChooseFormat()) return std::make_error_code(std::errc::invalid_argument);
  if (const std::error_code error = playback->Start(gain_)) return error;
  std::lock_guard lock(playback_mutex_);
  playback_ = std::move(playback);
  return {};
}

void PulsePlayer::Close() {
  std::unique_ptr<Playback> closing;
  {
    std::lock_guard lock(playback_mutex_);
    closing = std::move(playback_);
  }
  // Torn down outside the mutex: the position can be asked meanwhile and finds nothing open.
}

void PulsePlayer::SetVolume(double gain) {
  gain_ = std::max(0.0, gain);
  if (playback_) playback_->SetVolume(gain_);
}

std::string PulsePlayer::PositionText() const {
  std::lock_guard lock(playback_mutex_);
  if (!playback_) return {};
  return FormatPosition(playback_->PositionSeconds());
}

}  // namespace

std::unique_ptr<Player> MakePulsePlayer() {
  return std::make_unique<PulsePlayer>();
}

}  // namespace vt::audio
