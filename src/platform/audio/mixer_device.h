// The recording mixer of the sound server, seen the way the recorder uses it: one capture
// destination whose source lines are the server's sources (monitors included, in the server's
// order), a multiplexer that says which source the recorder records from, and a volume per source.
// The header is free of PulseAudio so every area can use it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace vt::audio {

// A source line of the capture destination.
struct MixerLine {
  std::string name;  // what the user sees (the server's description), UTF-8, not cut
  int channels = 0;
  bool has_volume = true;
};

// The largest volume value of a channel: the server's normal volume (100 %). 0 is silence; the
// values in between map linearly onto the server's volume.
inline constexpr std::uint32_t kMixerVolumeMax = 65535;

class MixerDevice {
 public:
  virtual ~MixerDevice() = default;

  // Connects to the sound server and takes the list of its sources, which then stays as it is for
  // the life of the mixer (a source that goes away keeps its line; acting on it fails). Fails with
  // std::errc::connection_refused when no server can be reached.
  virtual std::error_code Open() = 0;
  virtual void Close() = 0;

  // The capture destination: how many source lines it has.
  virtual std::error_code QueryDestination(int* source_count) = 0;
  // Source line `index` (0 ... source_count - 1).
  virtual std::error_code QuerySource(int index, MixerLine* line) = 0;

  // The multiplexer: one value per item; item k stands for source line (item count - 1 - k),
  // that is the items run in the reverse order of the lines. The true item is the source the
  // recorder records from (the server's default source until the recorder chooses one).
  virtual std::error_code GetMux(std::vector<bool>* items) = 0;
  // Makes the one true item the recorder's source: the next recording, and a running one when
  // the server lets its stream move, records from it. The desktop's default source is untouched.
  // Fails when that source has gone.
  virtual std::error_code SetMux(const std::vector<bool>& items) = 0;

  // The volume of a source line, one value per channel, 0 ... kMixerVolumeMax.
  virtual std::error_code GetVolume(int index, std::vector<std::uint32_t>* channels) = 0;
  virtual std::error_code SetVolume(int index, const std::vector<std::uint32_t>& channels) = 0;
};

using MixerDeviceFactory = std::function<std::unique_ptr<MixerDevice>()>;

// The mixer of the PulseAudio (or pipewire-pulse) server.
std::unique_ptr<MixerDevice> MakePulseMixer();

}  // namespace vt::audio
