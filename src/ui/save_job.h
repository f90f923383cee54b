// Saving the take in a compressed format. Encoding takes a while (a minute of sound is a second or
// more of work), so it runs on a thread of its own while the window goes on answering; it writes
// a hidden file beside the chosen one, which takes the chosen name only once it is complete, so a
// failure or a stop never leaves half a file under that name.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "ui/save_recording.h"

namespace vt {

class SaveJob {
 public:
  // How far the running save has come, 0 ... 100, or -1 while none runs; the job writes it, the
  // display reads it from its refresh thread.
  using Progress = std::shared_ptr<std::atomic<int>>;
  // Hears, on the job's own thread, the message for the user (none: saved, or stopped).
  using Finished = std::function<void(std::optional<std::string> message)>;

  // Starts saving the working file as `target` (not a WAV: that is a plain copy). None when no
  // thread could be started; *message then says why.
  static std::unique_ptr<SaveJob> Start(const std::string& working_file, SaveTarget target,
                                        Progress progress, Finished finished, std::string* message);
  // Start's part: a job with no thread yet.
  SaveJob(SaveTarget target, Progress progress)
      : target_(std::move(target)), progress_(std::move(progress)) {}
  // Stops a save still running and waits for its thread.
  ~SaveJob();
  SaveJob(const SaveJob&) = delete;
  SaveJob& operator=(const SaveJob&) = delete;

  const std::string& TargetPath() const { return target_.path; }
  int Percent() const { return progress_->load(); }
  // Stops the encoding and waits for it; the chosen name is left as it was.
  void Stop();

 private:
  void Run(const std::string& working_file, const Finished& finished);

  const SaveTarget target_;
  const Progress progress_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vt
