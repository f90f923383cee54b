#include "platform/audio/fake_player.h"

#include <cstdio>

namespace vt::audio {

void FakePlayer::Record(std::string call) {
  {
    std::lock_guard lock(mutex_);
    log_.push_back(call);
  }
  if (observer_) observer_(call);
}

void FakePlayer::SetObserver(std::function<void(const std::string& call)> observer) {
  observer_ = std::move(observer);
}

std::error_code FakePlayer::Play(const std::string& path, std::function<void()> on_played_out) {
  Record("play " + path);
  std::lock_guard lock(mutex_);
  open_ = false;
  paused_ = false;
  position_ = 0;
  on_played_out_ = nullptr;
  last_error_ = play_error_;
  if (play_error_) return play_error_;
  open_ = true;
  on_played_out_ = std::move(on_played_out);
  return {};
}

void FakePlayer::Close() {
  Record("close");
  std::lock_guard lock(mutex_);
  open_ = false;
  paused_ = false;
  on_played_out_ = nullptr;
}

void FakePlayer::Pause() {
  Record("pause");
  std::lock_guard lock(mutex_);
  if (open_) paused_ = true;
}

void FakePlayer::Resume() {
  Record("resume");
  std::lock_guard lock(mutex_);
  paused_ = false;
}

void FakePlayer::Rewind() {
  Record("rewind");
  std::lock_guard lock(mutex_);
  position_ = 0;
}

void FakePlayer::SetVolume(double gain) {
  char text[48];
  std::snprintf(text, sizeof text, "volume %.2f", gain);
  Record(text);
  std::lock_guard lock(mutex_);
  volume_ = gain;
}

std::string FakePlayer::PositionText() const {
  std::lock_guard lock(mutex_);
  return open_ ? FormatPosition(position_) : std::string();
}

std::error_code FakePlayer::LastError() const {
  std::lock_guard lock(mutex_);
  return last_error_;
}

bool FakePlayer::Fail(std::error_code why) {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return false;
    last_error_ = why;
  }
  return PlayOut();
}

bool FakePlayer::PlayOut() {
  std::function<void()> notice;
  {
    std::lock_guard lock(mutex_);
    if (!open_) return false;
    notice = std::move(on_played_out_);
    on_played_out_ = nullptr;
  }
  if (notice) notice();
  return true;
}

void FakePlayer::SetPositionSeconds(double seconds) {
  std::lock_guard lock(mutex_);
  position_ = seconds;
}

std::vector<std::string> FakePlayer::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void FakePlayer::ClearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

bool FakePlayer::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool FakePlayer::IsPaused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

double FakePlayer::Volume() const {
  std::lock_guard lock(mutex_);
  return volume_;
}

}  // namespace vt::audio
