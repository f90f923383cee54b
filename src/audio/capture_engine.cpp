#include "audio/capture_engine.h"

#include <algorithm>
#include <limits>
#include <new>
#include <span>

namespace vt::audio {

namespace {

constexpr std::uint64_t kOpenEnded = std::numeric_limits<std::uint64_t>::max();

}  // namespace

WaveFormat MakeWaveFormat(const FormatChoice& choice) {
  return MakeWaveFormat(static_cast<std::uint16_t>(choice.channels),
                        static_cast<std::uint32_t>(choice.samples_per_sec),
                        static_cast<std::uint16_t>(choice.bits_per_sample));
}

CAviFile::CAviFile(CaptureDeviceFactory factory, std::uint64_t data_limit)
    : factory_(std::move(factory)), wave_file_(data_limit) {}

CAviFile::~CAviFile() {
  if (device_ || writer_thread_.joinable() || file_open_.load()) (void)StopCapture();
}

std::error_code CAviFile::OpenWaveFile(const std::string& path) {
  file_format_ = MakeWaveFormat(format_choice_);
  std::lock_guard lock(file_mutex_);
  write_error_.clear();
  failure_ = Failure::kNone;
  const std::error_code error = wave_file_.OpenWaveFile(path, file_format_);
  file_open_ = wave_file_.IsOpen();
  return error;
}

std::error_code CAviFile::OpenCaptureDevice() {
  if (device_) return std::make_error_code(std::errc::device_or_resource_busy);
  device_format_ = MakeWaveFormat(format_choice_);
  capture_buffer_bytes_ = CaptureBufferBytesFor(device_format_.nSamplesPerSec);
  requeue_count_ = 0;
  handed_over_.fill(0);
  paused_ = false;
  {
    std::lock_guard lock(cut_mutex_);
    cuts_.clear();
  }
  SetLatest({});

  CaptureFormat format;
  format.channels = device_format_.nChannels;
  format.samples_per_sec = device_format_.nSamplesPerSec;
  if (device_format_.wBitsPerSample == 8) {
    format.sample_format = SampleFormat::kU8;
  } else if (device_format_.wBitsPerSample == 16) {
    format.sample_format = SampleFormat::kS16Le;
  } else {
    return std::make_error_code(std::errc::invalid_argument);
  }
  if (factory_) device_ = factory_();
  if (!device_) return std::make_error_code(std::errc::no_such_device);

  requeue_enabled_ = true;
  const std::error_code error = device_->Open(
      format,
      [this](CaptureNotice notice, CaptureBuffer* header) { WaveInCallback(notice, header); });
  if (error) {
    requeue_enabled_ = false;
    device_.reset();
    return error;
  }
  StartWriter();
  for (int k = 0; k < kCaptureBufferCount; ++k) {
    try {
      blocks_[k] = std::make_unique_for_overwrite<std::uint8_t[]>(capture_buffer_bytes_);
    } catch (const std::bad_alloc&) {
      continue;  // the device runs with fewer buffers
    }
    headers_[k] = CaptureBuffer{blocks_[k].get(), capture_buffer_bytes_, 0};
    (void)device_->AddBuffer(&headers_[k]);
  }
  return {};
}

std::error_code CAviFile::StartCapture() {
  if (!device_) return std::make_error_code(std::errc::bad_file_descriptor);
  return device_->Start();
}

std::uint64_t CAviFile::StreamPosition() const {
  if (!device_) return 0;
  return device_->FramesCaptured() * device_format_.nBlockAlign;
}

void CAviFile::PauseCapture() {
  if (paused_) return;
  const std::uint64_t position = StreamPosition();
  {
    std::lock_guard lock(cut_mutex_);
    cuts_.push_back({position, kOpenEnded});
  }
  paused_ = true;
}

void CAviFile::ResumeCapture() {
  if (!paused_) return;
  const std::uint64_t position = StreamPosition();
  {
    std::lock_guard lock(cut_mutex_);
    if (!cuts_.empty() && cuts_.back().end == kOpenEnded) {
      cuts_.back().end = std::max(position, cuts_.back().begin);
    }
  }
  paused_ = false;
}

std::error_code CAviFile::StopCapture() {
  requeue_enabled_ = false;
  if (device_) {
    (void)device_->Stop();
    (void)device_->Reset();  // the partly filled buffer comes back with its bytes
  }
  StopWriter();  // every copy the reset produced is in the file now
  if (device_) {
    (void)device_->Close();  // the close notice frees the blocks and closes the file
    device_.reset();
  }
  // Also when no close notice came: the device never opened.
  FreeCaptureBlocks();
  CloseWaveFile();
  requeue_count_ = 0;
  paused_ = false;
  {
    std::lock_guard lock(cut_mutex_);
    cuts_.clear();
  }
  return WriteError();
}

void CAviFile::WaveInCallback(CaptureNotice notice, CaptureBuffer* header) {
  const std::ptrdiff_t index = header != nullptr ? header - headers_.data() : -1;
  const bool ours = index >= 0 && index < kCaptureBufferCount;
  switch (notice) {
    case CaptureNotice::kOpen:
      SetLatest({});
      break;
    case CaptureNotice::kProgress: {
      // The part of the buffer being filled that the writer has not had yet, in whole frames.
      if (!ours) break;
      const std::uint32_t frame = std::max<std::uint16_t>(device_format_.nBlockAlign, 1);
      std::uint32_t recorded = std::min(header->bytes_recorded, header->length);
      recorded -= recorded % frame;
      std::uint32_t& handed = handed_over_[static_cast<std::size_t>(index)];
      if (recorded <= handed) break;
      std::shared_ptr<const std::vector<std::uint8_t>> copy;
      try {
        copy = std::make_shared<const std::vector<std::uint8_t>>(header->data + handed,
                                                                 header->data + recorded);
      } catch (const std::bad_alloc&) {
        break;  // left for the data notice
      }
      QueueForWriter(std::move(copy), 0, recorded - handed);
      handed = recorded;
      break;
    }
    case CaptureNotice::kData: {
      if (header == nullptr) break;
      const std::uint32_t recorded = std::min(header->bytes_recorded, header->length);
      std::uint32_t handed = 0;
      if (ours) {
        handed = std::min(handed_over_[static_cast<std::size_t>(index)], recorded);
        handed_over_[static_cast<std::size_t>(index)] = 0;
      }
      std::shared_ptr<const std::vector<std::uint8_t>> copy;
      try {
        copy = std::make_shared<const std::vector<std::uint8_t>>(header->data,
                                                                 header->data + recorded);
      } catch (const std::bad_alloc&) {
        // The bytes are lost; the writer still counts them so later cuts stay in place.
      }
      SetLatest({ours ? static_cast<int>(index) : -1, copy, device_format_});
      // Copied first, then handed back: the device may refill it at once.
      if (file_open_ && requeue_enabled_) RequeueCaptureBuffer(requeue_count_.load());
      // Only what progress notices have not already given the writer.
      QueueForWriter(std::move(copy), handed, recorded - handed);
      break;
    }
    case CaptureNotice::kFailed:
      Fail(Failure::kDeviceLost);
      break;
    case CaptureNotice::kInputLost:
      Fail(Failure::kInputLost);
      break;
    case CaptureNotice::kClose:
      FreeCaptureBlocks();
      SetLatest({});
      CloseWaveFile();
      break;
  }
}

void CAviFile::QueueForWriter(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                              std::uint32_t offset, std::uint32_t size) {
  if (size == 0) return;
  {
    std::lock_guard lock(queue_mutex_);
    queue_.push_back({std::move(bytes), offset, size});
  }
  queue_ready_.notify_one();
}

void CAviFile::Fail(Failure failure) {
  Failure none = Failure::kNone;
  if (!failure_.compare_exchange_strong(none, failure)) return;
  std::function<void()> notify;
  {
    std::lock_guard lock(file_mutex_);
    notify = on_failure_;
  }
  if (notify) notify();
}

int CAviFile::RequeueCaptureBuffer(int n) {
  const int k = ((n % kCaptureBufferCount) + kCaptureBufferCount) % kCaptureBufferCount;
  if (device_ && blocks_[k]) {
    // On failure the buffer stays out of the queue for the rest of the recording.
    (void)device_->AddBuffer(&headers_[k]);
  }
  requeue_count_.fetch_add(1);
  return 0;
}

LatestCapture CAviFile::LatestCaptureBuffer() const {
  std::lock_guard lock(latest_mutex_);
  return latest_;
}

void CAviFile::SetLatest(LatestCapture latest) {
  std::lock_guard lock(latest_mutex_);
  latest_ = std::move(latest);
}

void CAviFile::SetFailureCallback(std::function<void()> on_failure) {
  std::lock_guard lock(file_mutex_);
  on_failure_ = std::move(on_failure);
}

std::error_code CAviFile::WriteError() const {
  std::lock_guard lock(file_mutex_);
  return write_error_;
}

void CAviFile::StartWriter() {
  {
    std::lock_guard lock(queue_mutex_);
    queue_.clear();
    writer_stopping_ = false;
  }
  writer_thread_ = std::thread([this] { WriterThread(); });
}

void CAviFile::StopWriter() {
  if (!writer_thread_.joinable()) return;
  {
    std::lock_guard lock(queue_mutex_);
    writer_stopping_ = true;
  }
  queue_ready_.notify_one();
  writer_thread_.join();
}

void CAviFile::WriterThread() {
  std::uint64_t position = 0;  // of the next byte of the device's stream
  for (;;) {
    Pending item;
    {
      std::unique_lock lock(queue_mutex_);
      queue_ready_.wait(lock, [this] { return writer_stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    if (item.bytes) {
      Write(std::span<const std::uint8_t>(*item.bytes).subspan(item.offset, item.size), position);
    }
    position += item.size;
  }
}

void CAviFile::Write(std::span<const std::uint8_t> bytes, std::uint64_t stream_position) {
  // The parts of these bytes that lie outside every pause, as offsets into `bytes`.
  std::vector<std::pair<std::size_t, std::size_t>> kept;
  const std::uint64_t end = stream_position + bytes.size();
  {
    std::lock_guard lock(cut_mutex_);
    std::uint64_t cursor = stream_position;
    for (const Cut& cut : cuts_) {
      if (cut.end <= cursor) continue;
      if (cut.begin >= end) break;
      if (cut.begin > cursor) kept.emplace_back(cursor - stream_position, cut.begin - cursor);
      cursor = std::min(cut.end, end);
    }
    if (cursor < end) kept.emplace_back(cursor - stream_position, end - cursor);
    // Pauses wholly behind us are done with.
    std::erase_if(cuts_, [end](const Cut& cut) { return cut.end <= end; });
  }

  std::vector<std::uint8_t> joined;
  std::span<const std::uint8_t> out(bytes);
  if (kept.size() != 1 || kept[0].second != bytes.size()) {
    for (const auto& [offset, size] : kept) {
      const auto piece = bytes.subspan(offset, size);
      joined.insert(joined.end(), piece.begin(), piece.end());
    }
    out = joined;
  }
  if (out.empty()) return;

  Failure failure = Failure::kNone;
  {
    std::lock_guard lock(file_mutex_);
    // After the file failed it ends where the failure was: nothing later is written. A device
    // that went away has still handed over sound captured before it did, which is kept.
    const Failure failed = failure_.load();
    if (!wave_file_.IsOpen() || failed == Failure::kFileFull || failed == Failure::kWriteFailed)
      return;
    const std::error_code error = wave_file_.AppendWaveData(out);
    if (wave_file_.LimitReached()) {
      failure = Failure::kFileFull;
    } else if (error) {
      if (!write_error_) write_error_ = error;
      failure = Failure::kWriteFailed;
    }
  }
  if (failure != Failure::kNone) Fail(failure);
}

void CAviFile::FreeCaptureBlocks() {
  for (int k = 0; k < kCaptureBufferCount; ++k) {
    blocks_[k].reset();
    headers_[k] = CaptureBuffer{};
  }
}

void CAviFile::CloseWaveFile() {
  std::lock_guard lock(file_mutex_);
  if (!wave_file_.IsOpen()) return;
  const std::error_code error = wave_file_.CloseWaveFile();
  if (error && !write_error_) write_error_ = error;
  file_open_ = false;
}

}  // namespace vt::audio
