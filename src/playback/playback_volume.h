// What the playback volume slider's position does to the sound.
#pragma once

namespace vt {

inline constexpr int kPlaybackVolumeMax = 200;
inline constexpr int kPlaybackVolumeNormal = 100;

// The factor on the recording's amplitude for a slider position (0 ... 200): 0 is silence, 100
// the recording's own level. Up to 100 it follows the desktop's volume scale (its percent, a
// cubic curve, so that equal steps sound like equal steps); from 100 to 200 it amplifies up to
// the desktop's own ceiling of 150 percent (x 3.375, about +10.6 dB). Positions beyond the range
// count as its ends.
double PlaybackGain(int slider_pos);

}  // namespace vt
