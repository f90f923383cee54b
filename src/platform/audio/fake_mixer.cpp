#include "platform/audio/fake_mixer.h"

#include <algorithm>
#include <utility>

namespace vt::audio {
namespace {

std::error_code Failed() {
  return std::make_error_code(std::errc::io_error);
}

}  // namespace

std::error_code FakeMixer::Open() {
  ++state_->opens;
  if (state_->open_fails) return std::make_error_code(std::errc::connection_refused);
  state_->open = true;
  return {};
}

void FakeMixer::Close() {
  if (state_->open) ++state_->closes;
  state_->open = false;
}

bool FakeMixer::TakeSourceChanges() {
  return std::exchange(state_->sources_changed, false);
}

std::error_code FakeMixer::QueryDestination(int* source_count) {
  if (!state_->open || state_->destination_fails) return Failed();
  *source_count = static_cast<int>(state_->sources.size());
  return {};
}

std::error_code FakeMixer::QuerySource(int index, MixerLine* line) {
  if (!state_->open || !Valid(index) || state_->sources[index].query_fails) return Failed();
  const FakeSource& source = state_->sources[index];
  line->name = source.name;
  line->id = source.name;
  line->channels = static_cast<int>(source.volume.size());
  line->has_volume = source.has_volume;
  return {};
}

std::error_code FakeMixer::GetMux(std::vector<bool>* items) {
  if (!state_->open || state_->mux_fails) return Failed();
  const int count = static_cast<int>(state_->sources.size());
  items->assign(count, false);
  if (Valid(state_->current)) (*items)[count - 1 - state_->current] = true;
  return {};
}

std::error_code FakeMixer::SetMux(const std::vector<bool>& items) {
  const int count = static_cast<int>(state_->sources.size());
  if (!state_->open || state_->mux_fails || static_cast<int>(items.size()) != count ||
      std::count(items.begin(), items.end(), true) != 1) {
    return Failed();
  }
  const int line =
      count - 1 - static_cast<int>(std::find(items.begin(), items.end(), true) - items.begin());
  if (!state_->sources[line].present) return Failed();
  state_->mux_writes.push_back(items);
  state_->current = line;
  return {};
}

std::error_code FakeMixer::GetVolume(int index, std::vector<std::uint32_t>* channels) {
  if (!state_->open || !Valid(index)) return Failed();
  const FakeSource& source = state_->sources[index];
  if (!source.present || !source.has_volume) return Failed();
  *channels = source.volume;
  return {};
}

std::error_code FakeMixer::SetVolume(int index, const std::vector<std::uint32_t>& channels) {
  if (!state_->open || !Valid(index) || state_->volume_write_fails) return Failed();
  FakeSource& source = state_->sources[index];
  if (!source.present || !source.has_volume || channels.size() != source.volume.size())
    return Failed();
  source.volume = channels;
  return {};
}

}  // namespace vt::audio
