// The player's position as the display shows it while something plays.
#pragma once

#include <string>

namespace vt {

class PlayerPosition {
 public:
  virtual ~PlayerPosition() = default;
  // "MM:SS", or "HH:MM:SS" beyond an hour; empty when nothing is open. Safe from any thread.
  virtual std::string PositionText() const = 0;
};

}  // namespace vt
