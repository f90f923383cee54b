#include "ui/save_recording.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/sys/file.h"

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
  using sys::File;
  std::error_code error;
  // Held shared while copying, so no recording can start writing it underneath.
  const std::unique_ptr<File> source =
      File::OpenForReading(working_file, File::Lock::kShared, &error);
  if (!source) return FileErrorText(error.value(), working_file);
  if (!source->IsPlainFile()) return FileErrorText(EACCES, working_file);

  // Opened without emptying it first: it might be the working file itself.
  const std::unique_ptr<File> out = File::OpenForWriting(target, File::Lock::kExclusive, &error);
  if (!out) return FileErrorText(error.value(), target);
  if (out->IsSameFileAs(*source)) return FileErrorText(EWOULDBLOCK, target);
  if (out->IsPlainFile()) {
    if (const std::error_code cut = out->Truncate(0)) return FileErrorText(cut.value(), target);
  }

  std::vector<std::uint8_t> buffer(1 << 16);
  for (;;) {
    std::size_t got = 0;
    if (const std::error_code read = source->Read(buffer, &got))
      return FileErrorText(read.value(), working_file);
    if (got == 0) break;
    if (const std::error_code wrote = out->Append(std::span(buffer.data(), got)))
      return FileErrorText(wrote.value(), target);
  }
  if (const std::error_code synced = out->Sync()) return FileErrorText(synced.value(), target);
  if (const std::error_code closed = out->Close()) return FileErrorText(closed.value(), target);
  return std::nullopt;
}

}  // namespace vt
