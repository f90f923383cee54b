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
  std::string id;    // the server's own name of the source, the same for as long as it exists
  int channels = 0;
  bool has_volume = true;

  bool operator==(const MixerLine&) const = default;
};

// The largest volume value of a channel: the server's normal volume (100 %). 0 is silence; the
// values in between map linearly onto the server's volume.
inline constexpr std::uint32_t kMixerVolumeMax = 65535;

class MixerDevice {
 public:
  virtual ~MixerDevice() = default;

  // Connects to the sound server and takes the list of its sources, which then stays as it is
  // until TakeSourceChanges (a source that goes away keeps its line until then; acting on it
  // fails). Fails with std::errc::connection_refused when no server can be reached.
  virtual std::error_code Open() = 0;
  virtual void Close() = 0;

  // Takes in, without waiting, what the server said since the last call: sources that came, went
  // or changed their description. True when the lines changed; their indices are then those of
  // the new list. A connection that broke counts as a change (every query then fails).
  virtual bool TakeSourceChanges() = 0;

  // The capture destination: how many source lines it has.
  virtual std::error_code QueryDestination(int* source_count) = 0;
  // Source line `index` (0 ... source_count - 1).
  virtual std::error_code QuerySource(int index, MixerLine* line) = 0;

  // The multiplexer: one value per item; item k stands for source line (item count - 1 - k),
  // that is the items run in the reverse order of the lines. The true item is the source the
  // recorder records from (the server's default source until the recorder chooses one, or when
  // the chosen one has gone).
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
