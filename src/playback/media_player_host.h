// The recorder window's player: made once at set-up, it plays the working file and reports, on
// the user-interface thread, when a playback has stopped by itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/audio/player.h"
#include "playback/player_event_sink.h"
#include "playback/player_position.h"

namespace vt {

class CMediaPlayerHost : public PlayerPosition {
 public:
  using PlayerFactory = std::function<std::unique_ptr<audio::Player>()>;

  CMediaPlayerHost();
  ~CMediaPlayerHost() override;
  CMediaPlayerHost(const CMediaPlayerHost&) = delete;
  CMediaPlayerHost& operator=(const CMediaPlayerHost&) = delete;

  // Makes the player and subscribes the sink to its reports. Without a factory, or when it
  // makes no player, the window goes on without playback: every later operation does nothing
  // and no report ever comes. Called once.
  void Create(const PlayerFactory& make_player);

  // Plays the file from its beginning. When it cannot be played (unreadable, no sound server)
  // the stopped report follows at once, so the window does not wait for an end that never comes.
  void PlayFile(const std::string& path);
  // Ends playback and lets go of the file. A report of the playback it ends, still on its way,
  // is dropped.
  void Close();

  // Pause, resume and rewind; null without a player.
  audio::Player* PlayerControls() const { return player_.get(); }
  // The volume; null without a player.
  audio::Player* PlayerSettings() const { return player_.get(); }

  // Safe from any thread, also before Create.
  std::string PositionText() const override;
  // The position for a reader on another thread (the display): it may keep it beyond the host's
  // life, and reads an empty text once the host is gone.
  std::shared_ptr<const PlayerPosition> SharedPosition() const;

 private:
  // A playback's report, on the user-interface thread.
  void Stopped(std::uint64_t playback);

  class Position;

  std::unique_ptr<audio::Player> player_;
  const std::shared_ptr<Position> position_;  // reads player_ for other threads
  CPlayerEventSink sink_;
  std::uint64_t playback_ = 0;  // numbers every PlayFile and Close; user-interface thread only
  // Posted reports reach the host through this while it lives.
  std::shared_ptr<CMediaPlayerHost*> self_;
};

}  // namespace vt
