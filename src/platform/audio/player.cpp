#include "platform/audio/player.h"

#include <cstdio>

namespace vt::audio {

std::string FormatPosition(double seconds) {
  const long long whole = seconds > 0 ? static_cast<long long>(seconds) : 0;
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%02lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace vt::audio
