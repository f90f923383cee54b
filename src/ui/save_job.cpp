#include "ui/save_job.h"

#include <cerrno>
#include <cmath>
#include <system_error>

#include "platform/audio/sound_encoder.h"
#include "platform/sys/file.h"

namespace vt {
namespace {

audio::EncodedType EncodedTypeFor(SaveType type) {
  switch (type) {
    case SaveType::kOggOpus:
      return audio::EncodedType::kOggOpus;
    case SaveType::kMp3:
      return audio::EncodedType::kMp3;
    default:
      return audio::EncodedType::kFlac;
  }
}

}  // namespace

std::unique_ptr<SaveJob> SaveJob::Start(const std::string& working_file, SaveTarget target,
                                        Progress progress, Finished finished,
                                        std::string* message) {
  auto job = std::make_unique<SaveJob>(std::move(target), std::move(progress));
  job->progress_->store(0);
  try {
    job->thread_ = std::thread([raw = job.get(), working_file, finished = std::move(finished)] {
      raw->Run(working_file, finished);
    });
  } catch (const std::system_error&) {
    job->progress_->store(-1);
    *message = FileErrorText(EAGAIN, job->target_.path);
    return nullptr;
  }
  return job;
}

SaveJob::~SaveJob() {
  Stop();
}

void SaveJob::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void SaveJob::Run(const std::string& working_file, const Finished& finished) {
  std::string part;
  if (const std::error_code error = sys::CreateUniqueFileBeside(target_.path, &part)) {
    finished(FileErrorText(error.value(), target_.path));
    return;
  }
  const audio::EncodedTags tags{sys::ModificationTimeText(working_file), "Voxtape"};
  const auto failure = audio::EncodeSoundFile(
      working_file, part, EncodedTypeFor(target_.type), tags, [this](double done) {
        progress_->store(static_cast<int>(std::floor(done * 100)));
        return !stop_.load();
      });
  std::optional<std::string> message;
  if (failure) {
    sys::RemoveFile(part);
    if (failure->error != ECANCELED) {
      message = FileErrorText(failure->error, failure->in_target ? target_.path : working_file);
    }
  } else if (const std::error_code error = sys::RenameFile(part, target_.path)) {
    sys::RemoveFile(part);
    message = FileErrorText(error.value(), target_.path);
  }
  finished(std::move(message));
}

}  // namespace vt
