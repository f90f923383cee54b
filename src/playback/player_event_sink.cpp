#include "playback/player_event_sink.h"

namespace vt {
namespace {

PlayerStopListener*& Registered() {
  static PlayerStopListener* window = nullptr;
  return window;
}

}  // namespace

void RegisterRecorderWindow(PlayerStopListener* window) {
  Registered() = window;
}

PlayerStopListener* RegisteredRecorderWindow() {
  return Registered();
}

void CPlayerEventSink::PlayerStopped() {
  if (PlayerStopListener* window = Registered()) window->OnPlayerStopped();
}

}  // namespace vt
