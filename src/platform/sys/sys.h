// The operating system's services the program needs: its own folder, the single-instance lock,
// starting helper programs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vt::sys {

// Folder of the running program file (from /proc/self/exe), ending with '/'; empty if unknown.
std::string ProgramFolder();
bool SetCurrentDirectory(const std::string& folder);
// Creates a folder; an existing one is left as it is. False when it cannot be made.
bool CreateFolder(const std::string& path);
bool FolderWritable(const std::string& path);
// Creates a folder and its missing parents, each made readable by its owner only (0700); existing
// ones are left as they are. False when it cannot be made.
bool CreatePrivateFolders(const std::string& path);
// Makes a folder of this user's private (0700) when it is not yet; false when it is not a folder
// of this user's (then it is left alone).
bool MakeFolderPrivate(const std::string& path);
// The user's home folder: $HOME, else the user database's; empty when neither knows one.
std::string HomeFolder();
// True when the user's date format (LC_TIME, as LC_ALL, LC_TIME and LANG name it) writes the
// month before the day (en_US: 12/10/2026). False for the C locale and for one not installed.
bool DateMonthFirst();

// A lock named after a marker that the system releases when the process dies, however it dies.
class InstanceLock {
 public:
  enum class Result { kAcquired, kHeldElsewhere, kUnavailable };
  // Takes the lock "<marker>.lock" in $XDG_RUNTIME_DIR (else /tmp with the user id in the name).
  static std::unique_ptr<InstanceLock> Acquire(const std::string& marker, Result* result);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  static std::string PathFor(const std::string& marker);

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_;
};

// Starts a program without waiting for it (its output goes nowhere); false when it cannot start.
bool StartDetached(const std::vector<std::string>& argv);
// Runs a program, waits for it and gives its standard output; false when it could not run or
// ended with a non-zero status. `environment_overrides` ("NAME=value") replace those variables
// of this process's environment for the program.
bool RunAndCapture(const std::vector<std::string>& argv, std::string* output,
                   const std::vector<std::string>& environment_overrides = {});
bool ProgramOnPath(const std::string& name);

}  // namespace vt::sys

namespace vt::sys {

// True when the file can be opened for reading and no writer holds it (the recording's writer
// keeps an exclusive lock on the working file). Never blocks: anything but a plain file (a FIFO
// someone put in its place) counts as not readable.
bool FileReadableUnlocked(const std::string& path);

// True when anything (a file, a folder, a FIFO) stands at `path`.
bool PathExists(const std::string& path);

// True when something that is not a plain file (a FIFO, a device, a folder) stands at `path`.
// Looked up without opening it, so it cannot block.
bool IsSpecialFile(const std::string& path);

// A file type the save dialog offers: "Sound Files (*.wav)" with the pattern "*.wav".
struct SaveFileFilter {
  std::string name;
  std::string pattern;
};
struct SaveFileChoice {
  std::string path;
  int filter = -1;  // the type the user left chosen; -1 when the dialog does not tell
};

// The desktop's save-file dialog with the given file types (the first one chosen at the start) and
// overwrite confirmation: the portal's when one runs, else zenity, else kdialog. None when
// cancelled or when no dialog is available. parent_window: the X window id the dialog belongs to
// (kept above it), 0 for none.
std::optional<SaveFileChoice> ChooseSaveFile(const std::string& title, unsigned long parent_window,
                                             const std::vector<SaveFileFilter>& filters);

}  // namespace vt::sys
