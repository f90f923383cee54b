// The sound file player: plays one file from its beginning on the sound server's default output,
// pauses, resumes, rewinds, sets its volume and tells its position. The header is free of
// PulseAudio and libsndfile so every area can use it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <system_error>

namespace vt::audio {

class Player {
 public:
  virtual ~Player() = default;

  // Closes what was open, opens `path` and starts playing it from its beginning (not paused).
  // `on_played_out` is called once, on a thread of the player's own, when this
  // playback has been heard to its end or can go on no longer (the sound server went away); it
  // must only hand the news on (post it), and it is not called after Close or the next Play
  // have returned. An error means nothing plays and no call will come: the file cannot be read
  // or is no sound file (invalid_argument, no_such_file_or_directory), or no sound server can
  // be reached (connection_refused).
  virtual std::error_code Play(const std::string& path, std::function<void()> on_played_out) = 0;
  // Ends the playback at once and lets go of the file; nothing when nothing is open.
  virtual void Close() = 0;
  // Holds the playback where it is; Resume goes on from exactly there.
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  // Back to the file's beginning, playing or paused as before.
  virtual void Rewind() = 0;
  // A factor on the file's amplitude: 0 is silence, 1 the file's own level. Kept for the next
  // playback when nothing plays.
  virtual void SetVolume(double gain) = 0;
  // Why the last playback ended early or never started: none when it played to its end (or is
  // still playing); connection_refused when no sound server could be reached; connection_aborted
  // when the server went away while it played; the error Play returned otherwise.
  virtual std::error_code LastError() const = 0;
  // Where the playback is, as "MM:SS" ("HH:MM:SS" from an hour on); empty when nothing is open.
  // Safe from any thread.
  virtual std::string PositionText() const = 0;
};

// "MM:SS", or "HH:MM:SS" from an hour on, of whole seconds (a fraction is dropped).
std::string FormatPosition(double seconds);

// A player on the PulseAudio (or pipewire-pulse) server's default sink. Making one needs no
// server; each Play connects anew.
std::unique_ptr<Player> MakePulsePlayer();

}  // namespace vt::audio
