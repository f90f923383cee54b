// A player for tests: it plays nothing, keeps a log of what it was asked, and ends a playback
// when the test says the sound has been played out.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/player.h"

namespace vt::audio {

class FakePlayer final : public Player {
 public:
  std::error_code Play(const std::string& path, std::function<void()> on_played_out) override;
  void Close() override;
  void Pause() override;
  void Resume() override;
  void Rewind() override;
  void SetVolume(double gain) override;
  std::string PositionText() const override;
  std::error_code LastError() const override;
  // The open playback ends early for `why` (its end notice is called); false when nothing is open.
  bool Fail(std::error_code why);

  // What Play returns from now on (no error: it plays).
  void SetPlayError(std::error_code error) { play_error_ = error; }
  // The open playback reaches its end: its end notice is called (on the caller's thread). False
  // when nothing is open.
  bool PlayOut();
  void SetPositionSeconds(double seconds);
  // Called with each log entry as it is made, for tests that check what else holds at that
  // moment.
  void SetObserver(std::function<void(const std::string& call)> observer);

  // "play <path>", "close", "pause", "resume", "rewind", "volume <gain>" (two decimals), in order.
  std::vector<std::string> Log() const;
  void ClearLog();
  bool IsOpen() const;
  bool IsPaused() const;
  double Volume() const;

 private:
  void Record(std::string call);

  mutable std::mutex mutex_;
  std::function<void(const std::string&)> observer_;
  std::error_code play_error_;
  std::error_code last_error_;           // guarded by mutex_
  std::function<void()> on_played_out_;  // guarded by mutex_
  bool open_ = false;                    // guarded by mutex_
  bool paused_ = false;                  // guarded by mutex_
  double volume_ = 1.0;                  // guarded by mutex_
  double position_ = 0;                  // guarded by mutex_
  std::vector<std::string> log_;         // guarded by mutex_
};

}  // namespace vt::audio
