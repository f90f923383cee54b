#include "ui/sounds_folder.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/sys/file.h"
#include "platform/sys/sys.h"

namespace vt {
namespace {

bool MakeFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  return std::filesystem::is_directory(folder, error);
}

// Refusals that another folder may not meet.
bool IsAccessError(const std::error_code& error) {
  if (error.category() != std::generic_category() && error.category() != std::system_category())
    return false;
  switch (error.value()) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string FallbackSoundsFolder() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  // A relative XDG_DATA_HOME is invalid and ignored.
  if (data_home && data_home[0] == '/') return std::string(data_home) + "/voxtape/sounds/";
  const std::string home = sys::HomeFolder();
  if (!home.empty()) return home + "/.local/share/voxtape/sounds/";
  // No home at all: the user's own runtime folder, else a folder of the user's own in /tmp,
  // never one that other users could have made or can read.
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
    return std::string(runtime) + "/voxtape/sounds/";
  return "/tmp/voxtape-" + sys::UserIdText() + "/sounds/";
}

bool MakeFallbackFolder(const std::string& folder) {
  // Only the user may read recordings kept outside the program folder.
  if (!sys::CreatePrivateFolders(folder)) return false;
  const std::string voxtape = folder.substr(0, folder.rfind('/', folder.size() - 2));
  return sys::MakeFolderPrivate(voxtape);
}

bool SoundsFolderUsable(const std::string& folder) {
  return MakeFolder(folder) && sys::FolderWritable(folder) &&
         sys::FileWritableOrAbsent(folder + "current.wav");
}

std::string ChooseSoundsFolder(const std::string& program_folder) {
  const std::string own = program_folder + "sounds/";
  if (SoundsFolderUsable(own)) return own;
  const std::string fallback = FallbackSoundsFolder();
  MakeFallbackFolder(fallback);
  return fallback;
}

std::error_code OpenWorkingFileWithFallback(
    std::string& sounds_folder, const std::function<std::error_code(const std::string&)>& open) {
  std::error_code error = open(sounds_folder + "current.wav");
  if (!error || !IsAccessError(error)) return error;
  // Removed since start-up: made again.
  if (MakeFolder(sounds_folder)) {
    error = open(sounds_folder + "current.wav");
    if (!error || !IsAccessError(error)) return error;
  }
  const std::string fallback = FallbackSoundsFolder();
  if (fallback == sounds_folder) return error;
  if (!MakeFallbackFolder(fallback)) return error;
  sounds_folder = fallback;
  return open(sounds_folder + "current.wav");
}

}  // namespace vt
