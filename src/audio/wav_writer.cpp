#include "audio/wav_writer.h"

#include <algorithm>
#include <cstring>

namespace vt::audio {

namespace {

constexpr std::uint64_t kRiffSizeOffset = 4;
constexpr std::uint64_t kDataSizeOffset = 42;

void PutLe16(std::uint8_t* out, std::uint16_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::error_code WriteLe32At(sys::File& file, std::uint32_t value, std::uint64_t offset) {
  std::uint8_t bytes[4];
  PutLe32(bytes, value);
  return file.WriteAt(bytes, offset);
}

std::uint32_t RiffSize(std::uint64_t data_bytes) {
  return static_cast<std::uint32_t>(38 + data_bytes + (data_bytes & 1));
}

}  // namespace

WaveFormat MakeWaveFormat(std::uint16_t channels, std::uint32_t samples_per_sec,
                          std::uint16_t bits_per_sample) {
  WaveFormat format;
  format.wFormatTag = 1;
  format.nChannels = channels;
  format.nSamplesPerSec = samples_per_sec;
  const std::uint16_t bytes_per_sample = bits_per_sample == 8 ? 1 : 2;
  format.nBlockAlign = static_cast<std::uint16_t>(channels * bytes_per_sample);
  format.nAvgBytesPerSec = format.nBlockAlign * samples_per_sec;
  format.wBitsPerSample = bits_per_sample;
  format.cbSize = 0;
  return format;
}

WaveWriter::WaveWriter(std::uint64_t data_limit)
    : data_limit_(std::min(data_limit, kMaxWaveDataBytes)) {}

WaveWriter::~WaveWriter() {
  if (IsOpen()) (void)CloseWaveFile();
}

std::error_code WaveWriter::OpenWaveFile(const std::string& path, const WaveFormat& format) {
  if (IsOpen()) return std::make_error_code(std::errc::device_or_resource_busy);
  if (format.nBlockAlign > kMaxFrameBytes) return std::make_error_code(std::errc::invalid_argument);
  std::error_code error;
  std::unique_ptr<sys::File> file =
      sys::File::OpenForWriting(path, sys::File::Lock::kExclusive, &error);
  if (!file) return error;
  // Emptied only once it is ours.
  error = file->Truncate(0);

  std::uint8_t header[kWaveHeaderBytes];
  std::memcpy(header + 0, "RIFF", 4);
  PutLe32(header + 4, RiffSize(0));
  std::memcpy(header + 8, "WAVEfmt ", 8);
  PutLe32(header + 16, 18);
  PutLe16(header + 20, format.wFormatTag);
  PutLe16(header + 22, format.nChannels);
  PutLe32(header + 24, format.nSamplesPerSec);
  PutLe32(header + 28, format.nAvgBytesPerSec);
  PutLe16(header + 32, format.nBlockAlign);
  PutLe16(header + 34, format.wBitsPerSample);
  PutLe16(header + 36, format.cbSize);
  std::memcpy(header + 38, "data", 4);
  PutLe32(header + 42, 0);
  if (!error) error = file->WriteAt(header, 0);
  if (error) return error;
  file_ = std::move(file);
  format_ = format;
  data_bytes_ = 0;
  pending_bytes_ = 0;
  buffered_ = 0;
  partial_size_ = 0;
  skip_ = 0;
  limit_reached_ = false;
  return {};
}

std::error_code WaveWriter::Flush() {
  if (buffered_ == 0) return {};
  const std::uint64_t offset = kWaveHeaderBytes + data_bytes_ + pending_bytes_;
  const std::error_code error = file_->WriteAt(std::span(buffer_.data(), buffered_), offset);
  if (!error) pending_bytes_ += buffered_;
  buffered_ = 0;
  return error;
}

std::error_code WaveWriter::Write(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    if (buffered_ == 0 && bytes.size() >= buffer_.size()) {
      // Large pieces go straight to the file rather than through the buffer.
      const std::uint64_t offset = kWaveHeaderBytes + data_bytes_ + pending_bytes_;
      const std::error_code error = file_->WriteAt(bytes, offset);
      if (error) return error;
      pending_bytes_ += bytes.size();
      return {};
    }
    const std::size_t take = std::min(bytes.size(), buffer_.size() - buffered_);
    std::memcpy(buffer_.data() + buffered_, bytes.data(), take);
    buffered_ += take;
    bytes = bytes.subspan(take);
    if (buffered_ == buffer_.size()) {
      if (const std::error_code error = Flush()) return error;
    }
  }
  return {};
}

std::error_code WaveWriter::UpdateHeader() {
  if (data_bytes_ & 1) {
    const std::uint8_t pad = 0;
    const std::uint64_t offset = kWaveHeaderBytes + data_bytes_;
    if (const std::error_code error = file_->WriteAt(std::span(&pad, 1), offset)) return error;
  }
  if (const std::error_code error = WriteLe32At(*file_, RiffSize(data_bytes_), kRiffSizeOffset)) {
    return error;
  }
  return WriteLe32At(*file_, static_cast<std::uint32_t>(data_bytes_), kDataSizeOffset);
}

void WaveWriter::RollBack() {
  pending_bytes_ = 0;
  buffered_ = 0;
  const std::uint64_t length = kWaveHeaderBytes + data_bytes_ + (data_bytes_ & 1);
  // Best effort: cutting a file short and rewriting bytes it already has do not need free space.
  (void)file_->Truncate(length);
  (void)UpdateHeader();
}

std::error_code WaveWriter::AppendWaveData(std::span<const std::uint8_t> bytes) {
  if (!IsOpen()) return std::make_error_code(std::errc::bad_file_descriptor);
  if (limit_reached_) return std::make_error_code(std::errc::file_too_large);

  const std::size_t block_align = std::max<std::uint16_t>(format_.nBlockAlign, 1);
  // The rest of a frame that a failed append broke is never written: it would shift every frame
  // after it.
  const std::size_t dropped = std::min(skip_, bytes.size());
  bytes = bytes.subspan(dropped);
  skip_ -= dropped;

  // A frame begun by the previous append is completed by the first bytes of this one.
  std::array<std::uint8_t, kMaxFrameBytes> head{};
  std::size_t head_size = 0;
  if (partial_size_ > 0) {
    const std::size_t take = std::min(block_align - partial_size_, bytes.size());
    std::copy_n(bytes.begin(), take, partial_.begin() + partial_size_);
    partial_size_ += take;
    bytes = bytes.subspan(take);
    if (partial_size_ < block_align) return {};
    head = partial_;
    head_size = block_align;
    partial_size_ = 0;
  }
  const std::size_t whole = bytes.size() - bytes.size() % block_align;
  const std::span<const std::uint8_t> tail = bytes.subspan(whole);
  bytes = bytes.first(whole);

  const std::uint64_t max_data = data_limit_ - data_limit_ % block_align;
  const std::uint64_t room = max_data > data_bytes_ ? max_data - data_bytes_ : 0;
  const bool at_limit = head_size + whole > room;
  const std::size_t head_take = static_cast<std::size_t>(std::min<std::uint64_t>(head_size, room));
  const std::size_t body_take =
      static_cast<std::size_t>(std::min<std::uint64_t>(whole, room - head_take));

  const std::uint64_t before = data_bytes_;
  pending_bytes_ = 0;
  buffered_ = 0;
  std::error_code error = Write(std::span<const std::uint8_t>(head.data(), head_take));
  if (!error) error = Write(bytes.first(body_take));
  if (!error) error = Flush();
  if (!error) {
    data_bytes_ += pending_bytes_;
    pending_bytes_ = 0;
    error = UpdateHeader();
  }
  if (error) {
    data_bytes_ = before;
    RollBack();
    // These bytes are lost, the frame begun by the last of them too.
    if (!tail.empty()) skip_ = block_align - tail.size();
    return error;
  }
  if (at_limit) {
    limit_reached_ = true;
    return std::make_error_code(std::errc::file_too_large);
  }
  std::copy(tail.begin(), tail.end(), partial_.begin());
  partial_size_ = tail.size();
  return {};
}

std::error_code WaveWriter::CloseWaveFile() {
  if (!IsOpen()) return std::make_error_code(std::errc::bad_file_descriptor);
  std::error_code error = UpdateHeader();
  const std::error_code closed = file_->Close();
  file_.reset();
  if (!error) error = closed;
  return error;
}

}  // namespace vt::audio
