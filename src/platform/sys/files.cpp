#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/sys/sys.h"

namespace vt::sys {

bool FileReadableUnlocked(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat kind {};
  const bool free =
      ::fstat(fd, &kind) == 0 && S_ISREG(kind.st_mode) && ::flock(fd, LOCK_SH | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

bool PathExists(const std::string& path) {
  struct stat kind {};
  return ::lstat(path.c_str(), &kind) == 0;
}

bool IsSpecialFile(const std::string& path) {
  struct stat kind {};
  return ::stat(path.c_str(), &kind) == 0 && !S_ISREG(kind.st_mode);
}

}  // namespace vt::sys
