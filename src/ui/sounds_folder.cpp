#include "ui/sounds_folder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

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
  const char* home = std::getenv("HOME");
  // A relative XDG_DATA_HOME is invalid and ignored.
  const std::string base = data_home && data_home[0] == '/' ? std::string(data_home)
                           : home && *home                  ? std::string(home) + "/.local/share"
                                                            : std::string("/tmp");
  return base + "/voxtape/sounds/";
}

bool SoundsFolderUsable(const std::string& folder) {
  if (!MakeFolder(folder) || ::access(folder.c_str(), W_OK | X_OK) != 0) return false;
  const std::string working = folder + "current.wav";
  return ::access(working.c_str(), F_OK) != 0 || ::access(working.c_str(), W_OK) == 0;
}

std::string ChooseSoundsFolder(const std::string& program_folder) {
  const std::string own = program_folder + "sounds/";
  if (SoundsFolderUsable(own)) return own;
  const std::string fallback = FallbackSoundsFolder();
  MakeFolder(fallback);
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
  if (!MakeFolder(fallback)) return error;
  sounds_folder = fallback;
  return open(sounds_folder + "current.wav");
}

}  // namespace vt
