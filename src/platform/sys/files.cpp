#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/sys/file.h"
#include "platform/sys/sys.h"

namespace vt::sys {

bool FileReadableUnlocked(const std::string& path) {
  std::error_code error;
  const std::unique_ptr<File> file = File::OpenForReading(path, File::Lock::kShared, &error);
  return file && file->IsPlainFile();
}

bool PathExists(const std::string& path) {
  struct stat kind {};
  return ::lstat(path.c_str(), &kind) == 0;
}

bool IsSpecialFile(const std::string& path) {
  struct stat kind {};
  return ::stat(path.c_str(), &kind) == 0 && !S_ISREG(kind.st_mode);
}

namespace {

std::error_code LastError() {
  return {errno, std::generic_category()};
}

}  // namespace

std::unique_ptr<File> File::Open(const std::string& path, int flags, Lock lock,
                                 std::error_code* error) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    *error = LastError();
    return nullptr;
  }
  auto file = std::make_unique<File>(OpenedFd{fd});
  if (::flock(fd, (lock == Lock::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    *error = std::make_error_code(std::errc::resource_unavailable_try_again);
    return nullptr;
  }
  *error = {};
  return file;
}

std::unique_ptr<File> File::OpenForReading(const std::string& path, Lock lock,
                                           std::error_code* error) {
  return Open(path, O_RDONLY, lock, error);
}

std::unique_ptr<File> File::OpenForWriting(const std::string& path, Lock lock,
                                           std::error_code* error) {
  return Open(path, O_WRONLY | O_CREAT, lock, error);
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

bool File::IsPlainFile() const {
  struct stat kind {};
  return ::fstat(fd_, &kind) == 0 && S_ISREG(kind.st_mode);
}

bool File::IsSameFileAs(const File& other) const {
  struct stat mine {};
  struct stat theirs {};
  return ::fstat(fd_, &mine) == 0 && ::fstat(other.fd_, &theirs) == 0 &&
         mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

std::error_code File::Truncate(std::uint64_t length) {
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) return LastError();
  return {};
}

std::error_code File::WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (written == 0) return std::make_error_code(std::errc::io_error);
    bytes = bytes.subspan(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
  return {};
}

std::error_code File::Append(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (written == 0) return std::make_error_code(std::errc::io_error);
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return {};
}

std::error_code File::Read(std::span<std::uint8_t> into, std::size_t* got) {
  for (;;) {
    const ssize_t read = ::read(fd_, into.data(), into.size());
    if (read >= 0) {
      *got = static_cast<std::size_t>(read);
      return {};
    }
    if (errno != EINTR) return LastError();
  }
}

std::error_code File::Sync() {
  if (::fsync(fd_) != 0 && errno != EINVAL) return LastError();
  return {};
}

std::error_code File::Close() {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return LastError();
  return {};
}

bool FileWritableOrAbsent(const std::string& path) {
  return ::access(path.c_str(), F_OK) != 0 || ::access(path.c_str(), W_OK) == 0;
}

std::string UserIdText() {
  return std::to_string(::getuid());
}

std::error_code CreateUniqueFileBeside(const std::string& target, std::string* created) {
  const std::size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  // Hidden, and named after the file it becomes, so a stray one is recognised.
  for (unsigned attempt = 0;; ++attempt) {
    const std::string candidate = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                                  std::to_string(attempt) + ".part";
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      *created = candidate;
      return {};
    }
    if (errno != EEXIST || attempt >= 100) return LastError();
  }
}

std::error_code RenameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return LastError();
  return {};
}

void RemoveFile(const std::string& path) {
  ::unlink(path.c_str());
}

std::string ModificationTimeText(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  struct tm local {};
  if (!::localtime_r(&st.st_mtime, &local)) return {};
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) return {};
  return text;
}

}  // namespace vt::sys
