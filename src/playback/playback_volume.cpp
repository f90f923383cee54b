#include "playback/playback_volume.h"

#include <algorithm>

namespace vt {

double PlaybackGain(int slider_pos) {
  const int pos = std::clamp(slider_pos, 0, kPlaybackVolumeMax);
  // The desktop's volume: 1.0 at the normal level, 1.5 at the slider's end.
  const double volume = pos <= kPlaybackVolumeNormal
                            ? pos / double(kPlaybackVolumeNormal)
                            : 1.0 + 0.5 * (pos - kPlaybackVolumeNormal) /
                                        double(kPlaybackVolumeMax - kPlaybackVolumeNormal);
  return volume * volume * volume;
}

}  // namespace vt
