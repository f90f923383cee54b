// An open file of the system's, for the recording's writer and the copy that saves it. Errors are
// the system's (std::generic_category), so callers can tell a full disk from a denied folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <system_error>

namespace vt::sys {

class File {
 public:
  // kShared lets other readers in and keeps writers out; kExclusive keeps everyone out. A lock
  // that someone else holds is not waited for: the open fails with
  // std::errc::resource_unavailable_try_again. The lock goes with the file's closing.
  enum class Lock { kShared, kExclusive };

  // Neither open blocks (a FIFO put in a file's place must not hold the window) nor empties the
  // file: one that someone else holds must be left as it is.
  static std::unique_ptr<File> OpenForReading(const std::string& path, Lock lock,
                                              std::error_code* error);
  // Creates the file when it is missing.
  static std::unique_ptr<File> OpenForWriting(const std::string& path, Lock lock,
                                              std::error_code* error);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // False for a FIFO, a device or a folder.
  bool IsPlainFile() const;
  bool IsSameFileAs(const File& other) const;

  std::error_code Truncate(std::uint64_t length);
  // All of the bytes or an error.
  std::error_code WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset);
  std::error_code Append(std::span<const std::uint8_t> bytes);
  // *got is 0 at the end of the file.
  std::error_code Read(std::span<std::uint8_t> into, std::size_t* got);
  // Onto the disk; a file that cannot be synced (a FIFO) is not an error.
  std::error_code Sync();
  // Closing can report the last write's failure, so it is not left to the destructor.
  std::error_code Close();

 private:
  struct OpenedFd {
    int fd;
  };

 public:
  explicit File(OpenedFd opened) : fd_(opened.fd) {}

 private:
  static std::unique_ptr<File> Open(const std::string& path, int flags, Lock lock,
                                    std::error_code* error);
  int fd_;
};

// True when the file exists and may be written, or does not exist.
bool FileWritableOrAbsent(const std::string& path);
// This user's number, for names of folders of the user's own in shared places.
std::string UserIdText();

// Creates a new, empty, hidden file in the folder of `target`, named after it; its path goes to
// *created. For writing a file whole before it takes the target's name.
std::error_code CreateUniqueFileBeside(const std::string& target, std::string* created);
// Replaces `to` with `from` in one step.
std::error_code RenameFile(const std::string& from, const std::string& to);
void RemoveFile(const std::string& path);
// When the file was last written, in local time as "2026-12-11T09:30:00"; empty when unknown.
std::string ModificationTimeText(const std::string& path);

}  // namespace vt::sys
