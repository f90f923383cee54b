// Where recordings go: `sounds/` in the program folder, or, when that cannot take them (a
// system-wide install, a `sounds` that is a plain file, a working file of another user), the
// user's own data folder, so a recording is never lost for want of a place.
#pragma once

#include <functional>
#include <string>
#include <system_error>

namespace vt {

// $XDG_DATA_HOME/voxtape/sounds/, else ~/.local/share/voxtape/sounds/ (ends with '/'), the home
// taken from the user database when HOME is unset. Without any home: $XDG_RUNTIME_DIR/voxtape/
// sounds/, else /tmp/voxtape-UID/sounds/.
std::string FallbackSoundsFolder();

// Makes the fall-back folder with its missing parents, each private to the user (0700); false
// when it cannot be made, or when its voxtape folder is not the user's (made private if it is).
bool MakeFallbackFolder(const std::string& folder);

// True when recordings can be written into `folder` (ending with '/'): it is a folder, made if
// missing (with its parents), that can be written, and its current.wav, if any, too.
bool SoundsFolderUsable(const std::string& folder);

// The sounds folder to start with: the program folder's when usable, else the fall-back (made
// with its parents when it can be).
std::string ChooseSoundsFolder(const std::string& program_folder);

// Opens the working file of `sounds_folder` with `open`. When that is refused for want of
// access (the folder went away, became read-only, or the file belongs to someone else), the
// folder is made again and, failing that, the fall-back folder is made and used: sounds_folder
// then names it. Returns the last error.
std::error_code OpenWorkingFileWithFallback(
    std::string& sounds_folder, const std::function<std::error_code(const std::string&)>& open);

}  // namespace vt
