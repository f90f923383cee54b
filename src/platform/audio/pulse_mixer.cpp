// The recording mixer on a PulseAudio (or pipewire-pulse) server. Every call runs on the caller's
// thread: a plain main loop is driven until the server has answered or a time-out passed, so a
// server that has gone or hangs can never block the window for long.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/mixer_device.h"
#include "platform/audio/pulse_connection.h"
#include "platform/audio/recording_route.h"

namespace vt::audio {
namespace {

constexpr pa_usec_t kConnectTimeoutUsec = 3 * PA_USEC_PER_SEC;
constexpr pa_usec_t kAnswerTimeoutUsec = 2 * PA_USEC_PER_SEC;

std::uint32_t ToMixerVolume(pa_volume_t volume) {
  const double v = std::round(static_cast<double>(volume) * kMixerVolumeMax / PA_VOLUME_NORM);
  return static_cast<std::uint32_t>(std::min<double>(v, kMixerVolumeMax));
}

pa_volume_t ToPulseVolume(std::uint32_t value) {
  value = std::min(value, kMixerVolumeMax);
  return static_cast<pa_volume_t>(
      std::round(static_cast<double>(value) * PA_VOLUME_NORM / kMixerVolumeMax));
}

// What the server said about one source.
struct SourceFacts {
  bool found = false;
  std::uint32_t index = PA_INVALID_INDEX;
  std::string name;
  std::string description;
  pa_cvolume volume{};
  bool has_volume = true;
};

SourceFacts FactsOf(const pa_source_info& info) {
  SourceFacts facts;
  facts.found = true;
  facts.index = info.index;
  facts.name = info.name ? info.name : "";
  facts.description = info.description && *info.description ? info.description : facts.name;
  facts.volume = info.volume;
  facts.has_volume = info.volume.channels > 0;
  return facts;
}

class PulseMixer final : public MixerDevice {
 public:
  PulseMixer() = default;
  PulseMixer(const PulseMixer&) = delete;
  PulseMixer& operator=(const PulseMixer&) = delete;
  ~PulseMixer() override { Close(); }

  std::error_code Open() override;
  void Close() override;
  bool TakeSourceChanges() override;
  std::error_code QueryDestination(int* source_count) override;
  std::error_code QuerySource(int index, MixerLine* line) override;
  std::error_code GetMux(std::vector<bool>* items) override;
  std::error_code SetMux(const std::vector<bool>& items) override;
  std::error_code GetVolume(int index, std::vector<std::uint32_t>* channels) override;
  std::error_code SetVolume(int index, const std::vector<std::uint32_t>& channels) override;

 private:
  bool Connected() const {
    return context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY;
  }
  // Drives the loop until done() holds; false when the time-out passed or the connection broke.
  template <class Done>
  bool RunUntil(Done done, pa_usec_t timeout);
  // Waits for an operation to complete; cancels it on a time-out.
  bool Await(pa_operation* operation);
  std::optional<SourceFacts> SourceByName(const std::string& name);
  std::optional<std::string> DefaultSourceName();
  // The server's sources in its order; none when it did not answer.
  std::optional<std::vector<MixerLine>> ListSources();
  bool ValidLine(int index) const { return index >= 0 && index < static_cast<int>(lines_.size()); }
  static std::error_code Gone() { return std::make_error_code(std::errc::connection_aborted); }

  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  std::vector<MixerLine> lines_;  // the server's sources as last listed
  // The server has told of sources that came, went or changed since the lines were listed.
  bool sources_changed_ = false;
  bool broken_reported_ = false;
};

template <class Done>
bool PulseMixer::RunUntil(Done done, pa_usec_t timeout) {
  const pa_usec_t deadline = pa_rtclock_now() + timeout;
  while (!done()) {
    if (context_ == nullptr || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return false;
    const pa_usec_t now = pa_rtclock_now();
    if (now >= deadline) return false;
    const pa_usec_t left = deadline - now;
    if (pa_mainloop_prepare(loop_, static_cast<int>(std::min<pa_usec_t>(left, 100000))) < 0 ||
        pa_mainloop_poll(loop_) < 0 || pa_mainloop_dispatch(loop_) < 0) {
      return false;
    }
  }
  return true;
}

bool PulseMixer::Await(pa_operation* operation) {
  if (operation == nullptr) return false;
  const bool done =
      RunUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
               kAnswerTimeoutUsec);
  if (!done) pa_operation_cancel(operation);
  const bool completed = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
  pa_operation_unref(operation);
  return completed;
}

std::error_code PulseMixer::Open() {
  if (loop_ != nullptr) return {};
  loop_ = pa_mainloop_new();
  if (loop_ == nullptr) return std::make_error_code(std::errc::not_enough_memory);
  context_ = pa_context_new(pa_mainloop_get_api(loop_), "Voxtape");
  if (context_ == nullptr) {
    Close();
    return std::make_error_code(std::errc::not_enough_memory);
  }
  // No autospawn: without a running server there is no mixer, and none is started for us.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      !RunUntil([this] { return Connected(); }, kConnectTimeoutUsec)) {
    Close();
    return std::make_error_code(std::errc::connection_refused);
  }

  // Told of every source event from now on, so the list can follow sources that come and go.
  pa_context_set_subscribe_callback(
      context_,
      [](pa_context*, pa_subscription_event_type_t event, std::uint32_t, void* data) {
        if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SOURCE)
          static_cast<PulseMixer*>(data)->sources_changed_ = true;
      },
      this);
  std::optional<std::vector<MixerLine>> listed;
  if (!Await(pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr)) ||
      !(listed = ListSources())) {
    Close();
    return std::make_error_code(std::errc::io_error);
  }
  lines_ = std::move(*listed);
  sources_changed_ = false;
  broken_reported_ = false;
  return {};
}

std::optional<std::vector<MixerLine>> PulseMixer::ListSources() {
  std::vector<MixerLine> lines;
  auto on_source = [](pa_context*, const pa_source_info* info, int eol, void* data) {
    if (eol != 0 || info == nullptr) return;
    const SourceFacts facts = FactsOf(*info);
    MixerLine line;
    line.name = facts.description;
    line.id = facts.name;
    line.channels = facts.volume.channels;
    line.has_volume = facts.has_volume;
    static_cast<std::vector<MixerLine>*>(data)->push_back(std::move(line));
  };
  if (!Await(pa_context_get_source_info_list(context_, on_source, &lines))) return std::nullopt;
  return lines;
}

bool PulseMixer::TakeSourceChanges() {
  if (loop_ == nullptr) return false;
  // Only what has already come in: the window must not wait for the server here.
  for (int i = 0; i < 64 && Connected(); ++i)
    if (pa_mainloop_iterate(loop_, 0, nullptr) <= 0) break;
  if (!Connected()) {
    if (broken_reported_) return false;
    broken_reported_ = true;
    lines_.clear();
    return true;
  }
  if (!sources_changed_) return false;
  sources_changed_ = false;
  std::optional<std::vector<MixerLine>> listed = ListSources();
  if (!listed) {
    sources_changed_ = true;  // asked again on the next call
    return false;
  }
  if (*listed == lines_) return false;  // a volume or a state changed, not the list
  lines_ = std::move(*listed);
  return true;
}

void PulseMixer::Close() {
  CloseContext(context_);
  if (loop_ != nullptr) {
    pa_mainloop_free(loop_);
    loop_ = nullptr;
  }
  lines_.clear();
}

std::error_code PulseMixer::QueryDestination(int* source_count) {
  if (!Connected()) return Gone();
  *source_count = static_cast<int>(lines_.size());
  return {};
}

std::error_code PulseMixer::QuerySource(int index, MixerLine* line) {
  if (!Connected()) return Gone();
  if (!ValidLine(index)) return std::make_error_code(std::errc::invalid_argument);
  *line = lines_[index];
  return {};
}

std::optional<SourceFacts> PulseMixer::SourceByName(const std::string& name) {
  if (!Connected()) return std::nullopt;
  SourceFacts facts;
  auto on_source = [](pa_context*, const pa_source_info* info, int eol, void* data) {
    if (eol == 0 && info != nullptr) *static_cast<SourceFacts*>(data) = FactsOf(*info);
  };
  if (!Await(pa_context_get_source_info_by_name(context_, name.c_str(), on_source, &facts)) ||
      !facts.found) {
    return std::nullopt;
  }
  return facts;
}

std::optional<std::string> PulseMixer::DefaultSourceName() {
  if (!Connected()) return std::nullopt;
  std::optional<std::string> name;
  auto on_info = [](pa_context*, const pa_server_info* info, void* data) {
    if (info != nullptr && info->default_source_name != nullptr)
      *static_cast<std::optional<std::string>*>(data) = info->default_source_name;
  };
  if (!Await(pa_context_get_server_info(context_, on_info, &name))) return std::nullopt;
  return name;
}

std::error_code PulseMixer::GetMux(std::vector<bool>* items) {
  if (!Connected()) return Gone();
  std::string current = ChosenSourceName();
  const auto listed = [this](const std::string& name) {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&name](const MixerLine& line) { return line.id == name; });
  };
  if (current.empty() || !listed(current)) {
    const std::optional<std::string> fallback = DefaultSourceName();
    if (!fallback) return Gone();
    current = *fallback;
  }
  const int count = static_cast<int>(lines_.size());
  items->assign(count, false);
  for (int i = 0; i < count; ++i)
    if (lines_[i].id == current) (*items)[count - 1 - i] = true;
  return {};
}

std::error_code PulseMixer::SetMux(const std::vector<bool>& items) {
  if (!Connected()) return Gone();
  const int count = static_cast<int>(lines_.size());
  if (static_cast<int>(items.size()) != count || std::count(items.begin(), items.end(), true) != 1)
    return std::make_error_code(std::errc::invalid_argument);
  const int item = static_cast<int>(std::find(items.begin(), items.end(), true) - items.begin());
  const MixerLine& chosen = lines_[count - 1 - item];
  const std::optional<SourceFacts> source = SourceByName(chosen.id);
  if (!source) return std::make_error_code(std::errc::no_such_device);
  SetChosenSourceName(chosen.id);
  // A running recording follows from its next sound on when the server lets the stream move;
  // otherwise the choice holds from the next recording.
  if (const std::optional<std::uint32_t> stream = RecordingStreamIndex()) {
    Await(
        pa_context_move_source_output_by_index(context_, *stream, source->index, nullptr, nullptr));
  }
  return {};
}

std::error_code PulseMixer::GetVolume(int index, std::vector<std::uint32_t>* channels) {
  if (!Connected()) return Gone();
  if (!ValidLine(index)) return std::make_error_code(std::errc::invalid_argument);
  const std::optional<SourceFacts> source = SourceByName(lines_[index].id);
  if (!source) return std::make_error_code(std::errc::no_such_device);
  channels->clear();
  for (int c = 0; c < source->volume.channels; ++c)
    channels->push_back(ToMixerVolume(source->volume.values[c]));
  return {};
}

std::error_code PulseMixer::SetVolume(int index, const std::vector<std::uint32_t>& channels) {
  if (!Connected()) return Gone();
  if (!ValidLine(index) || channels.empty())
    return std::make_error_code(std::errc::invalid_argument);
  const std::optional<SourceFacts> source = SourceByName(lines_[index].id);
  if (!source) return std::make_error_code(std::errc::no_such_device);
  // The server wants one value per channel of the source as it is now.
  pa_cvolume volume{};
  volume.channels = source->volume.channels;
  for (int c = 0; c < volume.channels; ++c)
    volume.values[c] = ToPulseVolume(channels[std::min<std::size_t>(c, channels.size() - 1)]);
  if (!pa_cvolume_valid(&volume)) return std::make_error_code(std::errc::invalid_argument);
  bool accepted = false;
  auto on_done = [](pa_context*, int success, void* data) {
    *static_cast<bool*>(data) = success != 0;
  };
  if (!Await(pa_context_set_source_volume_by_name(context_, source->name.c_str(), &volume, on_done,
                                                  &accepted)) ||
      !accepted) {
    return std::make_error_code(std::errc::io_error);
  }
  return {};
}

}  // namespace

std::unique_ptr<MixerDevice> MakePulseMixer() {
  return std::make_unique<PulseMixer>();
}

}  // namespace vt::audio
