#include "ui/save_recording.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace vt {
namespace {

std::string Replace1(const char* pattern, const std::string& file) {
  std::string text = pattern;
  text.replace(text.find("%1"), 2, file);
  return text;
}

}  // namespace

std::string FileErrorText(int error, const std::string& file) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return Replace1("Access to %1 was denied.", file);
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
      return Replace1("%1 contains an invalid path.", file);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return Replace1("Disk full while accessing %1.", file);
    case EWOULDBLOCK:
      return Replace1("A sharing violation occurred while accessing %1.", file);
    default:
      return Replace1("An error occurred while accessing %1.", file);
  }
}

namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

std::string WithWavExtension(const std::string& chosen) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  if (chosen.size() >= 4 && std::equal(chosen.end() - 4, chosen.end(), ".wav",
                                       [&](char a, char b) { return lower(a) == b; })) {
    return chosen;
  }
  return chosen + ".wav";
}

std::optional<std::string> CopyRecording(const std::string& working_file,
                                         const std::string& target) {
  // Never blocking: a FIFO in place of the working file or the target must not hold the window.
  Fd source(::open(working_file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (source.get() < 0) return FileErrorText(errno, working_file);
  // Held shared while copying, so no recording can start writing it underneath.
  if (::flock(source.get(), LOCK_SH | LOCK_NB) != 0)
    return FileErrorText(EWOULDBLOCK, working_file);
  struct stat source_stat {};
  if (::fstat(source.get(), &source_stat) != 0) return FileErrorText(errno, working_file);
  if (!S_ISREG(source_stat.st_mode)) return FileErrorText(EACCES, working_file);

  // Opening the target without emptying it first: it might be the working file itself.
  Fd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  if (out.get() < 0) return FileErrorText(errno, target);
  struct stat target_stat {};
  if (::fstat(out.get(), &target_stat) != 0) return FileErrorText(errno, target);
  if (target_stat.st_dev == source_stat.st_dev && target_stat.st_ino == source_stat.st_ino)
    return FileErrorText(EWOULDBLOCK, target);
  if (::flock(out.get(), LOCK_EX | LOCK_NB) != 0) return FileErrorText(EWOULDBLOCK, target);
  if (S_ISREG(target_stat.st_mode) && ::ftruncate(out.get(), 0) != 0)
    return FileErrorText(errno, target);

  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(source.get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return FileErrorText(errno, working_file);
    }
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      const ssize_t wrote =
          ::write(out.get(), buffer.data() + done, static_cast<size_t>(got - done));
      if (wrote < 0) {
        if (errno == EINTR) continue;
        return FileErrorText(errno, target);
      }
      done += wrote;
    }
  }
  if (::fsync(out.get()) != 0 && errno != EINVAL) return FileErrorText(errno, target);
  if (::close(out.release()) != 0) return FileErrorText(errno, target);
  return std::nullopt;
}

}  // namespace vt
