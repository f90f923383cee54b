#include "ui/session_state.h"

#include <chrono>
#include <utility>

namespace vt {

SessionFlags& Session() {
  static SessionFlags flags;
  return flags;
}

MonotonicCounter MonotonicCounter::Steady() {
  using Clock = std::chrono::steady_clock;
  return {
      [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
      },
      1e-9};
}

ElapsedTiming::ElapsedTiming() : ElapsedTiming(MonotonicCounter::Steady()) {}

ElapsedTiming::ElapsedTiming(MonotonicCounter counter) {
  SetCounter(std::move(counter));
}

void ElapsedTiming::SetCounter(MonotonicCounter counter) {
  {
    std::lock_guard lock(timing_mutex_);
    counter_ = std::move(counter);
  }
  Reset();
}

double ElapsedTiming::SecondsSinceBase() const {
  return static_cast<double>(ReadCounter() - counter_base_) * seconds_per_count_;
}

void ElapsedTiming::Reset() {
  std::lock_guard lock(timing_mutex_);
  counter_base_ = ReadCounter();
  seconds_per_count_ = counter_.seconds_per_count;
  elapsed_base_seconds_ = 0;
  elapsed_seconds_ = 0;
  paused_ = false;
}

void ElapsedTiming::Pause() {
  std::lock_guard lock(timing_mutex_);
  if (paused_) return;
  elapsed_seconds_ = SecondsSinceBase() + elapsed_base_seconds_;
  counter_base_ = ReadCounter();
  elapsed_base_seconds_ = elapsed_seconds_;
  paused_ = true;
}

void ElapsedTiming::Resume() {
  std::lock_guard lock(timing_mutex_);
  if (!paused_) return;
  counter_base_ = ReadCounter();
  elapsed_base_seconds_ = elapsed_seconds_;
  paused_ = false;
}

double ElapsedTiming::Advance(bool paused) {
  std::lock_guard lock(timing_mutex_);
  if (paused || paused_) {
    counter_base_ = ReadCounter();
    elapsed_base_seconds_ = elapsed_seconds_;
  } else {
    elapsed_seconds_ = SecondsSinceBase() + elapsed_base_seconds_;
  }
  return elapsed_seconds_;
}

double ElapsedTiming::ElapsedSeconds() const {
  std::lock_guard lock(timing_mutex_);
  return elapsed_seconds_;
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
