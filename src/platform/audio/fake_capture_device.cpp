#include "platform/audio/fake_capture_device.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vt::audio {

FakeCaptureDevice::FakeCaptureDevice(std::error_code open_error)
    : open_error_(open_error), thread_([this] { DeviceThread(); }) {}

FakeCaptureDevice::~FakeCaptureDevice() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void FakeCaptureDevice::DeviceThread() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
    ++jobs_done_;
    wake_.notify_all();
  }
}

void FakeCaptureDevice::RunOnDeviceThread(const std::function<void()>& job) {
  std::unique_lock lock(mutex_);
  jobs_.push_back(job);
  const std::uint64_t ticket = ++jobs_posted_;
  wake_.notify_all();
  wake_.wait(lock, [&] { return jobs_done_ >= ticket; });
}

int FakeCaptureDevice::NumberOf(CaptureBuffer* buffer) {
  auto it = std::find(seen_.begin(), seen_.end(), buffer);
  if (it == seen_.end()) {
    seen_.push_back(buffer);
    return static_cast<int>(seen_.size()) - 1;
  }
  return static_cast<int>(it - seen_.begin());
}

void FakeCaptureDevice::Deliver(CaptureNotice notice, CaptureBuffer* buffer) {
  CaptureCallback callback;
  {
    std::lock_guard lock(mutex_);
    callback = callback_;
    if (notice == CaptureNotice::kData || notice == CaptureNotice::kProgress) {
      log_.push_back((notice == CaptureNotice::kData ? "data " : "progress ") +
                     std::to_string(NumberOf(buffer)) + " " +
                     std::to_string(buffer->bytes_recorded));
    } else if (notice == CaptureNotice::kFailed) {
      log_.push_back("failed");
    } else if (notice == CaptureNotice::kInputLost) {
      log_.push_back("input lost");
    }
  }
  if (callback) callback(notice, buffer);
}

std::error_code FakeCaptureDevice::Open(const CaptureFormat& format, CaptureCallback callback) {
  {
    std::lock_guard lock(mutex_);
    log_.push_back("open");
    if (open_) return std::make_error_code(std::errc::device_or_resource_busy);
    if (open_error_) return open_error_;
    if (!IsSupportedCaptureFormat(format) || !callback) {
      return std::make_error_code(std::errc::invalid_argument);
    }
    format_ = format;
    callback_ = std::move(callback);
    open_ = true;
  }
  RunOnDeviceThread([this] { Deliver(CaptureNotice::kOpen, nullptr); });
  return {};
}

std::error_code FakeCaptureDevice::AddBuffer(CaptureBuffer* buffer) {
  if (buffer == nullptr || buffer->data == nullptr) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  std::lock_guard lock(mutex_);
  log_.push_back("add " + std::to_string(NumberOf(buffer)));
  if (!open_) return std::make_error_code(std::errc::bad_file_descriptor);
  if (failed_) return std::make_error_code(std::errc::connection_aborted);
  buffer->bytes_recorded = 0;
  queue_.push_back(buffer);
  return {};
}

std::error_code FakeCaptureDevice::Start() {
  std::lock_guard lock(mutex_);
  log_.push_back("start");
  if (!open_) return std::make_error_code(std::errc::bad_file_descriptor);
  if (failed_) return std::make_error_code(std::errc::connection_aborted);
  started_ = true;
  return {};
}

std::error_code FakeCaptureDevice::Stop() {
  std::lock_guard lock(mutex_);
  log_.push_back("stop");
  if (!open_) return std::make_error_code(std::errc::bad_file_descriptor);
  started_ = false;
  return {};
}

std::error_code FakeCaptureDevice::Reset() {
  std::deque<CaptureBuffer*> queued;
  {
    std::lock_guard lock(mutex_);
    log_.push_back("reset");
    if (!open_) return std::make_error_code(std::errc::bad_file_descriptor);
    started_ = false;
    queued.swap(queue_);
    front_handed_ = 0;
  }
  RunOnDeviceThread([&] {
    for (CaptureBuffer* buffer : queued) Deliver(CaptureNotice::kData, buffer);
  });
  return {};
}

std::error_code FakeCaptureDevice::Close() {
  {
    std::lock_guard lock(mutex_);
    if (!open_) {
      log_.push_back("close");
      return std::make_error_code(std::errc::bad_file_descriptor);
    }
  }
  Reset();
  {
    std::lock_guard lock(mutex_);
    log_.push_back("close");
  }
  RunOnDeviceThread([this] { Deliver(CaptureNotice::kClose, nullptr); });
  std::lock_guard lock(mutex_);
  open_ = false;
  callback_ = nullptr;
  return {};
}

std::uint64_t FakeCaptureDevice::FramesCaptured() const {
  std::lock_guard lock(mutex_);
  return bytes_captured_ / format_.BytesPerFrame();
}

void FakeCaptureDevice::Feed(std::span<const std::uint8_t> bytes) {
  RunOnDeviceThread([&] {
    std::vector<CaptureBuffer*> full;
    CaptureBuffer* progress = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (!started_ || failed_) return;
      const std::uint32_t frame = format_.BytesPerFrame();
      std::size_t done = 0;
      while (done < bytes.size() && !queue_.empty()) {
        CaptureBuffer* buffer = queue_.front();
        const std::uint32_t usable = UsableBufferBytes(buffer->length, frame);
        const std::size_t take =
            std::min<std::size_t>(usable - buffer->bytes_recorded, bytes.size() - done);
        std::memcpy(buffer->data + buffer->bytes_recorded, bytes.data() + done, take);
        buffer->bytes_recorded += static_cast<std::uint32_t>(take);
        bytes_captured_ += take;
        done += take;
        if (buffer->bytes_recorded == usable) {
          full.push_back(buffer);
          queue_.pop_front();
          front_handed_ = 0;
        }
      }
      // Each feed is one piece from the source, as the server's are: the buffer being filled is
      // handed over once enough has come in since its last hand-over.
      if (!queue_.empty() &&
          queue_.front()->bytes_recorded - front_handed_ >= format_.HandOverBytes()) {
        progress = queue_.front();
        front_handed_ = progress->bytes_recorded;
      }
    }
    // One buffer at a time, as a device would: the callback may queue it again meanwhile.
    for (CaptureBuffer* buffer : full) Deliver(CaptureNotice::kData, buffer);
    if (progress != nullptr) Deliver(CaptureNotice::kProgress, progress);
  });
}

void FakeCaptureDevice::HandOver() {
  RunOnDeviceThread([this] {
    CaptureBuffer* progress = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (!started_ || failed_ || queue_.empty()) return;
      progress = queue_.front();
      front_handed_ = progress->bytes_recorded;
    }
    Deliver(CaptureNotice::kProgress, progress);
  });
}

void FakeCaptureDevice::Fail(CaptureNotice why) {
  RunOnDeviceThread([this, why] {
    std::deque<CaptureBuffer*> held;
    {
      std::lock_guard lock(mutex_);
      if (!open_ || failed_) return;
      failed_ = true;
      started_ = false;
      held.swap(queue_);
      front_handed_ = 0;
    }
    for (CaptureBuffer* buffer : held) Deliver(CaptureNotice::kData, buffer);
    Deliver(why, nullptr);
  });
}

std::vector<std::string> FakeCaptureDevice::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

CaptureFormat FakeCaptureDevice::Format() const {
  std::lock_guard lock(mutex_);
  return format_;
}

std::size_t FakeCaptureDevice::QueuedBuffers() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

bool FakeCaptureDevice::IsStarted() const {
  std::lock_guard lock(mutex_);
  return started_;
}

}  // namespace vt::audio
