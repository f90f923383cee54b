// A mixer with named sources for tests: the test lists the sources, can make any step fail, and
// reads back what the recorder wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/mixer_device.h"

namespace vt::audio {

struct FakeSource {
  std::string name;
  std::vector<std::uint32_t> volume{kMixerVolumeMax, kMixerVolumeMax};  // one per channel
  bool has_volume = true;
  bool present = true;       // false: the source has gone; acting on it fails
  bool query_fails = false;  // querying its line fails
};

class FakeMixer final : public MixerDevice {
 public:
  // What the fake holds; a test keeps a pointer to it across the mixer's life.
  struct State {
    std::vector<FakeSource> sources;
    int current = -1;  // the source line the multiplexer points at; -1: none
    bool open_fails = false;
    bool destination_fails = false;
    bool mux_fails = false;
    bool volume_write_fails = false;
    bool open = false;
    int opens = 0;
    int closes = 0;
    std::vector<std::vector<bool>> mux_writes;
    // Set by a test that changed `sources` while the mixer is open, as the server's news of it.
    bool sources_changed = false;
  };

  explicit FakeMixer(State* state) : state_(state) {}

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
  bool Valid(int index) const {
    return index >= 0 && index < static_cast<int>(state_->sources.size());
  }
  State* state_;
};

}  // namespace vt::audio
