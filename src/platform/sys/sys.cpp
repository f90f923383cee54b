#include "platform/sys/sys.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <thread>

extern char** environ;

namespace vt::sys {

std::string ProgramFolder() {
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  std::string folder = exe.parent_path().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

bool SetCurrentDirectory(const std::string& folder) {
  return ::chdir(folder.c_str()) == 0;
}

bool CreateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  struct stat st {};
  return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreatePrivateFolders(const std::string& path) {
  std::string made;
  std::size_t at = 0;
  while (at != std::string::npos) {
    at = path.find('/', at + 1);
    made = path.substr(0, at);
    if (made.empty() || made.back() == '/') continue;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolderPrivate(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
    return false;
  return (st.st_mode & 077) == 0 || ::chmod(path.c_str(), 0700) == 0;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  // HOME unset (a service, a cron job, `env -i`): the user database still knows it.
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return {};
}

bool DateMonthFirst() {
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    name = std::getenv(variable);
    if (name != nullptr && *name != '\0') break;
  }
  if (name == nullptr || *name == '\0') return false;
  const std::string_view locale_name(name);
  // The C locale's "%m/%d/%y" stands for no choice of the user's.
  if (locale_name == "C" || locale_name == "POSIX" || locale_name.starts_with("C.")) return false;
  const locale_t time_locale = ::newlocale(LC_TIME_MASK, name, static_cast<locale_t>(nullptr));
  if (time_locale == static_cast<locale_t>(nullptr)) return false;
  const std::string_view format = ::nl_langinfo_l(D_FMT, time_locale);
  const std::size_t month = format.find("%m");
  std::size_t day = format.find("%d");
  if (day == std::string_view::npos) day = format.find("%e");
  ::freelocale(time_locale);
  return month != std::string_view::npos && day != std::string_view::npos && month < day;
}

bool FolderWritable(const std::string& path) {
  return ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::string InstanceLock::PathFor(const std::string& marker) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/" + marker + ".lock";
  return "/tmp/" + marker + "-" + std::to_string(::getuid()) + ".lock";
}

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::string& marker, Result* result) {
  const std::string path = PathFor(marker);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    *result = Result::kUnavailable;
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *result = errno == EWOULDBLOCK ? Result::kHeldElsewhere : Result::kUnavailable;
    ::close(fd);
    return nullptr;
  }
  *result = Result::kAcquired;
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  ::close(fd_);
}

namespace {

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const auto& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// The process's environment with `overrides` ("NAME=value") put in place of their names' entries.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& overrides) {
  std::vector<std::string> entries(overrides);
  for (char** e = environ; e && *e; ++e) {
    const std::string_view entry = *e;
    const std::string_view name = entry.substr(0, entry.find('='));
    const bool replaced =
        std::any_of(overrides.begin(), overrides.end(), [&](const std::string& o) {
          return o.size() > name.size() && o.compare(0, name.size(), name) == 0 &&
                 o[name.size()] == '=';
        });
    if (!replaced) entries.emplace_back(entry);
  }
  return entries;
}

}  // namespace

bool StartDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group, so a signal to ours does not reach the browser.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  auto pointers = ArgvPointers(argv);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, pointers[0], &actions, &attributes, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) return false;
  // Reap it in the background so no zombie stays.
  std::thread([pid] {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }).detach();
  return true;
}

bool RunAndCapture(const std::vector<std::string>& argv, std::string* output,
                   const std::vector<std::string>& environment_overrides) {
  if (argv.empty()) return false;
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  auto pointers = ArgvPointers(argv);
  const std::vector<std::string> environment = EnvironmentWith(environment_overrides);
  auto environment_pointers = ArgvPointers(environment);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, pointers[0], &actions, nullptr, pointers.data(),
                              environment_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (rc != 0) {
    ::close(pipe_fds[0]);
    return false;
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipe_fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (output) *output = text;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ProgramOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string dirs = path;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
    if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

}  // namespace vt::sys
