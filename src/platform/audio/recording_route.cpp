#include "platform/audio/recording_route.h"

#include <mutex>
#include <utility>

namespace vt::audio {
namespace {

struct Route {
  std::mutex mutex;
  std::string source_name;                    // guarded by mutex
  std::optional<std::uint32_t> stream_index;  // guarded by mutex
};

Route& TheRoute() {
  static Route route;
  return route;
}

}  // namespace

void SetChosenSourceName(std::string name) {
  std::lock_guard lock(TheRoute().mutex);
  TheRoute().source_name = std::move(name);
}

std::string ChosenSourceName() {
  std::lock_guard lock(TheRoute().mutex);
  return TheRoute().source_name;
}

void SetRecordingStreamIndex(std::optional<std::uint32_t> index) {
  std::lock_guard lock(TheRoute().mutex);
  TheRoute().stream_index = index;
}

std::optional<std::uint32_t> RecordingStreamIndex() {
  std::lock_guard lock(TheRoute().mutex);
  return TheRoute().stream_index;
}

}  // namespace vt::audio
