// Turning a recording (a WAV file) into a compressed sound file: FLAC, Ogg Opus or MP3, written
// with libsndfile (Opus through a libsamplerate conversion where the take's rate is not one Opus
// takes).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vt::audio {

enum class EncodedType { kFlac, kOggOpus, kMp3 };

// What the written file carries where its format has tags.
struct EncodedTags {
  std::string recorded_at;  // local time, "2026-12-11T09:30:00"
  std::string encoder;      // "Voxtape"
};

// The bit rates Opus is asked for: enough for music, generous for voice.
inline constexpr int kOpusStereoBitsPerSecond = 96000;
inline constexpr int kOpusMonoBitsPerSecond = 64000;
// The rates Opus takes; a take at another rate goes to the next one up.
int OpusRateFor(int take_rate);

struct EncodeFailure {
  int error = 0;           // an errno value; ECANCELED when `go_on` said stop
  bool in_target = false;  // the written file's fault, else the recording's
};

// Reads the WAV file `source` and writes `target` (created; an existing file is emptied) of the
// given type. `go_on` hears the share done so far (0 ... 1) after each piece and says whether to
// go on. Nothing on success; `target` is then complete and on the disk. On failure `target` may
// hold part of the sound: the caller writes to a file of its own and removes it.
std::optional<EncodeFailure> EncodeSoundFile(const std::string& source, const std::string& target,
                                             EncodedType type, const EncodedTags& tags,
                                             const std::function<bool(double done)>& go_on);

}  // namespace vt::audio
