#include "playback/media_player_host.h"

#include <mutex>

#include "platform/window/window.h"

namespace vt {

class CMediaPlayerHost::Position : public PlayerPosition {
 public:
  void Set(const audio::Player* player) {
    std::lock_guard lock(player_mutex_);
    player_ = player;
  }
  std::string PositionText() const override {
    std::lock_guard lock(player_mutex_);
    return player_ ? player_->PositionText() : std::string();
  }

 private:
  mutable std::mutex player_mutex_;
  const audio::Player* player_ = nullptr;  // guarded by player_mutex_
};

CMediaPlayerHost::CMediaPlayerHost()
    : position_(std::make_shared<Position>()), self_(std::make_shared<CMediaPlayerHost*>(this)) {}

CMediaPlayerHost::~CMediaPlayerHost() {
  position_->Set(nullptr);
  self_.reset();
  player_.reset();  // ends a playback that still runs
}

void CMediaPlayerHost::Create(const PlayerFactory& make_player) {
  if (player_ || !make_player) return;
  player_ = make_player();
  position_->Set(player_.get());
}

void CMediaPlayerHost::PlayFile(const std::string& path) {
  if (!player_) return;
  const std::uint64_t playback = ++playback_;
  // Runs on the player's thread: it only posts.
  auto report = [self = std::weak_ptr<CMediaPlayerHost*>(self_), playback] {
    win::PostToUi([self, playback] {
      if (auto host = self.lock()) (*host)->Stopped(playback);
    });
  };
  if (player_->Play(path, report)) report();
}

void CMediaPlayerHost::Close() {
  if (!player_) return;
  ++playback_;
  player_->Close();
}

void CMediaPlayerHost::Stopped(std::uint64_t playback) {
  if (playback == playback_) sink_.PlayerStopped();
}

std::shared_ptr<const PlayerPosition> CMediaPlayerHost::SharedPosition() const {
  return position_;
}

std::string CMediaPlayerHost::PositionText() const {
  return position_->PositionText();
}

}  // namespace vt
