// Which source Voxtape's own recording stream records from. The choice belongs to this program
// alone: it never changes the desktop's default input, so other programs keep theirs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vt::audio {

// The server's name of the chosen source; empty for the server's default source. Read by the
// capture device when it opens its stream.
void SetChosenSourceName(std::string name);
std::string ChosenSourceName();

// The server's index of the recording stream while one is connected, so that a new choice can
// move the running stream. The capture device publishes it once its stream is ready and takes
// it back before the stream goes.
void SetRecordingStreamIndex(std::optional<std::uint32_t> index);
std::optional<std::uint32_t> RecordingStreamIndex();

}  // namespace vt::audio
