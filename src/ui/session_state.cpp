#include "ui/session_state.h"

namespace vt {

SessionFlags& Session() {
  static SessionFlags flags;
  return flags;
}

void ElapsedTiming::Reset() {
  std::lock_guard lock(timing_mutex_);
  counter_base_ = Clock::now();
  elapsed_base_seconds_ = 0;
  paused_ = false;
}

void ElapsedTiming::Pause() {
  std::lock_guard lock(timing_mutex_);
  if (paused_) return;
  elapsed_base_seconds_ += std::chrono::duration<double>(Clock::now() - counter_base_).count();
  paused_ = true;
}

void ElapsedTiming::Resume() {
  std::lock_guard lock(timing_mutex_);
  if (!paused_) return;
  counter_base_ = Clock::now();
  paused_ = false;
}

double ElapsedTiming::ElapsedSeconds() const {
  std::lock_guard lock(timing_mutex_);
  if (paused_) return elapsed_base_seconds_;
  return elapsed_base_seconds_ +
         std::chrono::duration<double>(Clock::now() - counter_base_).count();
}

ElapsedTiming& Timing() {
  static ElapsedTiming timing;
  return timing;
}

AppPaths& Paths() {
  static AppPaths paths;
  return paths;
}

PlatformAbilities& Abilities() {
  static PlatformAbilities abilities;
  return abilities;
}

}  // namespace vt
