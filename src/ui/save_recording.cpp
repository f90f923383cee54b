#include "ui/save_recording.h"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/sys/file.h"

namespace vt {
namespace {

std::string Replace1(const char* pattern, const std::string& file) {
  std::string text = pattern;
  text.replace(text.find("%1"), 2, file);
  return text;
}

constexpr SaveTypeEntry kSaveTypes[] = {
    {SaveType::kWav, "Sound Files (*.wav)", "*.wav", ".wav", ""},
    {SaveType::kFlac, "FLAC, lossless (*.flac)", "*.flac", ".flac", ""},
    {SaveType::kOggOpus, "Ogg Opus (*.opus)", "*.opus", ".opus", ".ogg"},
    {SaveType::kMp3, "MP3 (*.mp3)", "*.mp3", ".mp3", ""},
};

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithCaseBlind(const std::string& name, std::string_view ending) {
  return !ending.empty() && name.size() > ending.size() &&
         std::equal(name.end() - static_cast<std::ptrdiff_t>(ending.size()), name.end(),
                    ending.begin(), [](char a, char b) { return Lower(a) == b; }) &&
         name[name.size() - ending.size() - 1] != '/';
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

std::span<const SaveTypeEntry> SaveTypes() {
  return kSaveTypes;
}

SaveTarget SaveTargetFor(const std::string& chosen, std::optional<SaveType> chosen_type) {
  for (const SaveTypeEntry& entry : kSaveTypes) {
    if (EndsWithCaseBlind(chosen, entry.extension) || EndsWithCaseBlind(chosen, entry.also))
      return {chosen, entry.type};
  }
  const SaveType type = chosen_type.value_or(SaveType::kWav);
  for (const SaveTypeEntry& entry : kSaveTypes)
    if (entry.type == type) return {chosen + entry.extension, type};
  return {chosen + ".wav", SaveType::kWav};
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
