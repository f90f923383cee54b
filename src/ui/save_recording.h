// Saving the working file under a name the user chose.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace vt {

// The kinds of file a take can be saved as. WAV is the working file's own copy; the others are
// encoded from it.
enum class SaveType { kWav, kFlac, kOggOpus, kMp3 };

struct SaveTypeEntry {
  SaveType type;
  const char* filter_name;  // as the save dialog lists it
  const char* pattern;      // the dialog's filter
  const char* extension;    // what a name without one gets
  const char* also;         // another extension that means the same type, or ""
};
// In the order the save dialog offers them; the first is the default.
std::span<const SaveTypeEntry> SaveTypes();

// What the user chose in the save dialog.
struct SaveChoice {
  std::string path;
  std::optional<SaveType> type;  // the type left chosen in the dialog; none when it does not tell
};

struct SaveTarget {
  std::string path;
  SaveType type = SaveType::kWav;
};
// What a name chosen in the save dialog is saved as. A name ending in one of the types' extensions
// (in any case: "take.FLAC") keeps it and is saved as that type; any other name gets the extension
// of the type chosen in the dialog (WAV when the dialog does not say) and is saved as that type.
SaveTarget SaveTargetFor(const std::string& chosen, std::optional<SaveType> chosen_type);

// Copies the working file byte for byte to `target` (created or emptied). None on success,
// otherwise the message for the user, naming the file. The working file itself, or a file a
// recording is writing, is never emptied: that is a sharing violation.
std::optional<std::string> CopyRecording(const std::string& working_file,
                                         const std::string& target);

// The program's standard text for a file error (an errno value), naming the file: "Access to %1
// was denied.", "Disk full while accessing %1." and so on.
std::string FileErrorText(int error, const std::string& file);

}  // namespace vt
