// The player's stopped report on its way to the recorder window.
#pragma once

namespace vt {

// The window that ends playback when the player has stopped.
class PlayerStopListener {
 public:
  virtual void OnPlayerStopped() = 0;

 protected:
  ~PlayerStopListener() = default;
};

// The recorder window registers itself early in its set-up, before the player exists, and takes
// itself off when it goes. User-interface thread only.
void RegisterRecorderWindow(PlayerStopListener* window);
PlayerStopListener* RegisteredRecorderWindow();

// Receives the player's reports on the user-interface thread.
class CPlayerEventSink {
 public:
  // The player has stopped (played to the end, or could go on no longer): the registered window,
  // if any, runs its stop path.
  void PlayerStopped();
};

}  // namespace vt
