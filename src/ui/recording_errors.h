// What the user is told when a recording cannot start or cannot go on.
#pragma once

#include <string>
#include <system_error>

#include "audio/capture_engine.h"

namespace vt {

// The working file could not be created: a full disk, a file another recorder holds, or no
// access ("Access to %1 was denied.").
std::string OpenWorkingFileErrorText(const std::error_code& error, const std::string& file);

// The capture device could not be opened when Record was pressed.
// Why a playback could not start or go on; empty when it played to its end.
std::string PlaybackErrorText(const std::error_code& error, const std::string& file);

// `input`: the description of the input chosen in the list, empty when none is.
std::string OpenCaptureErrorText(const std::error_code& error, const std::string& input = {});

// A recording ended by a failure, or a stop whose completion of the file failed (write_error).
// Empty when there is nothing to tell. `input`: the description of the input recorded from.
std::string RecordingFailureText(audio::CAviFile::Failure failure,
                                 const std::error_code& write_error, const std::string& file,
                                 const std::string& input = {});

}  // namespace vt
