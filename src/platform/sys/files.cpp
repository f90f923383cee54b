#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/sys/sys.h"

namespace vt::sys {

bool FileReadableUnlocked(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

}  // namespace vt::sys
