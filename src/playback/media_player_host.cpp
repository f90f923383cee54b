#include "playback/media_player_host.h"

#include "platform/window/window.h"

namespace vt {

CMediaPlayerHost::CMediaPlayerHost() : self_(std::make_shared<CMediaPlayerHost*>(this)) {}

CMediaPlayerHost::~CMediaPlayerHost() {
  shared_player_ = nullptr;
  self_.reset();
  player_.reset();  // ends a playback that still runs
}

void CMediaPlayerHost::Create(const PlayerFactory& make_player) {
  if (player_ || !make_player) return;
  player_ = make_player();
  shared_player_ = player_.get();
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

std::string CMediaPlayerHost::PositionText() const {
  const audio::Player* player = shared_player_.load();
  return player ? player->PositionText() : std::string();
}

}  // namespace vt
