#include "ui/recording_errors.h"

#include <cerrno>

#include "ui/save_recording.h"

namespace vt {
namespace {

bool IsErrno(const std::error_code& error) {
  return error.category() == std::generic_category() || error.category() == std::system_category();
}

}  // namespace

std::string OpenWorkingFileErrorText(const std::error_code& error, const std::string& file) {
  if (IsErrno(error)) {
    switch (error.value()) {
      case ENOSPC:
      case EDQUOT:
      case EFBIG:
      case EWOULDBLOCK:
        return FileErrorText(error.value(), file);
      default:
        break;
    }
  }
  return FileErrorText(EACCES, file);
}

std::string OpenCaptureErrorText(const std::error_code& error, const std::string& input) {
  if (error == std::errc::connection_refused || error == std::errc::timed_out ||
      error == std::errc::connection_aborted) {
    return "Nothing can be recorded: no sound server is running (PulseAudio or PipeWire). "
           "Start it and press Record again.";
  }
  if (error == std::errc::no_such_device && !input.empty()) {
    return "Nothing can be recorded: the input \"" + input +
           "\" is not there any more. Choose another input, then press Record again.";
  }
  if (error == std::errc::no_such_device) {
    return "Nothing can be recorded: the sound server has no input to record from. Connect a "
           "microphone or choose an input, then press Record again.";
  }
  return "Nothing can be recorded: the sound input could not be opened (" + error.message() + ").";
}

std::string PlaybackErrorText(const std::error_code& error, const std::string& file) {
  if (!error) return {};
  if (error == std::errc::connection_refused || error == std::errc::timed_out) {
    return "Nothing can be played: no sound server is running (PulseAudio or PipeWire). "
           "Start it and press Play again.";
  }
  if (error == std::errc::connection_aborted) {
    return "The sound server stopped during playback, so playback was stopped.";
  }
  return "The recording in " + file + " cannot be played.";
}

std::string RecordingFailureText(audio::CAviFile::Failure failure,
                                 const std::error_code& write_error, const std::string& file,
                                 const std::string& input) {
  using Failure = audio::CAviFile::Failure;
  switch (failure) {
    case Failure::kDeviceLost:
      return "The sound server stopped during the recording, so the recording was stopped. "
             "The sound up to that moment is kept in " +
             file + "; save it before you record again.";
    case Failure::kInputLost:
      return (input.empty() ? std::string("The input") : "The input \"" + input + "\"") +
             " went away during the recording, so the recording was stopped. The sound up to "
             "that moment is kept in " +
             file + "; save it before you record again.";
    case Failure::kFileFull:
      return "The recording reached the largest size a WAV file can hold (4 GB) and was "
             "stopped. It is complete in " +
             file + ".";
    case Failure::kWriteFailed:
    case Failure::kNone:
      break;
  }
  if (!write_error) return {};
  return FileErrorText(IsErrno(write_error) ? write_error.value() : EIO, file);
}

}  // namespace vt
