// Saving the working file under a name the user chose.
#pragma once

#include <optional>
#include <string>

namespace vt {

// The chosen name gets ".wav" unless it already ends in ".wav", in any case ("Loud.WAV" stays).
std::string WithWavExtension(const std::string& chosen);

// Copies the working file byte for byte to `target` (created or emptied). None on success,
// otherwise the message for the user, naming the file. The working file itself, or a file a
// recording is writing, is never emptied: that is a sharing violation.
std::optional<std::string> CopyRecording(const std::string& working_file,
                                         const std::string& target);

// The program's standard text for a file error (an errno value), naming the file: "Access to %1
// was denied.", "Disk full while accessing %1." and so on.
std::string FileErrorText(int error, const std::string& file);

}  // namespace vt
