// The RIFF/WAVE writer of the working recording file.
//
// Layout (little-endian): "RIFF", RIFF size, "WAVE", "fmt ", 18, the 18-byte format record (cbSize
// 0), "data", data size, the sample bytes, and one zero pad byte when the data size is odd (counted
// in the RIFF size only). The sample bytes start at offset 46.
//
// The file is kept valid at every moment: the header's sizes are brought up to date after every
// append, so a program that is killed leaves a playable file holding everything appended. The
// file is held with an exclusive flock while open, so Play and Save leave it alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <system_error>

#include "platform/sys/file.h"

namespace vt::audio {

// The format record of the fmt chunk (the layout of WAVEFORMATEX).
struct WaveFormat {
  std::uint16_t wFormatTag = 1;  // PCM
  std::uint16_t nChannels = 1;
  std::uint32_t nSamplesPerSec = 8000;
  std::uint32_t nAvgBytesPerSec = 8000;
  std::uint16_t nBlockAlign = 1;
  std::uint16_t wBitsPerSample = 8;
  std::uint16_t cbSize = 0;
  friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

// The one rule for the device's and the file's format: bytes per sample is 1 for 8 bits and 2
// for any other value; nBlockAlign = channels x bytes per sample; nAvgBytesPerSec = nBlockAlign x
// samples per second.
WaveFormat MakeWaveFormat(std::uint16_t channels, std::uint32_t samples_per_sec,
                          std::uint16_t bits_per_sample);

inline constexpr std::size_t kWaveHeaderBytes = 46;
// The largest data chunk whose RIFF size (38 + data, + 1 pad byte when odd) still fits in 32
// bits, rounded down to whole frames of every format (a multiple of 4).
inline constexpr std::uint64_t kMaxWaveDataBytes = (0xFFFFFFFFull - 38) / 4 * 4;

class WaveWriter {
 public:
  // data_limit: the largest data chunk this writer writes (tests pass a small one).
  explicit WaveWriter(std::uint64_t data_limit = kMaxWaveDataBytes);
  WaveWriter(const WaveWriter&) = delete;
  WaveWriter& operator=(const WaveWriter&) = delete;
  ~WaveWriter();  // closes an open file

  // Creates the file (or empties an existing one once it holds the lock) and writes the header
  // of an empty recording. Fails, leaving the file untouched, when another holder has it locked
  // (std::errc::resource_unavailable_try_again) or it cannot be created; also when a file is
  // already open (std::errc::device_or_resource_busy).
  std::error_code OpenWaveFile(const std::string& path, const WaveFormat& format);

  // Appends sample bytes to the data chunk and updates the header. The appends together are one
  // stream of frames, and only whole frames reach the file: a frame split between two appends is
  // written with the second. An append is all or nothing: on a write error (full disk) the file
  // is put back as it was before it, ending at a whole frame, and the bytes are lost; if they
  // ended inside a frame, the rest of that frame is dropped from the next append, so no frame
  // after the gap is shifted. At the size limit only the whole frames that fit are written and
  // std::errc::file_too_large is returned, then and for every later append; the file stays
  // valid. std::errc::bad_file_descriptor when no file is open.
  std::error_code AppendWaveData(std::span<const std::uint8_t> bytes);

  // Completes and closes the file, releasing the lock. bad_file_descriptor when none is open.
  std::error_code CloseWaveFile();

  bool IsOpen() const { return file_ != nullptr; }
  std::uint64_t DataBytes() const { return data_bytes_; }
  bool LimitReached() const { return limit_reached_; }

 private:
  // Writes at offset kWaveHeaderBytes + data_bytes_ + buffered_ through the I/O buffer.
  std::error_code Write(std::span<const std::uint8_t> bytes);
  std::error_code Flush();
  // Pad byte after odd data, then the RIFF and data sizes.
  std::error_code UpdateHeader();
  // Undoes a failed append: the file is cut back to the data chunk it had before.
  void RollBack();

  const std::uint64_t data_limit_;
  std::unique_ptr<sys::File> file_;
  WaveFormat format_;
  std::uint64_t data_bytes_ = 0;     // sample bytes in the file and counted by its header
  std::uint64_t pending_bytes_ = 0;  // bytes of the running append already in the file
  bool limit_reached_ = false;
  static constexpr std::size_t kMaxFrameBytes = 4;
  std::array<std::uint8_t, kMaxFrameBytes> partial_{};  // the start of a frame held back
  std::size_t partial_size_ = 0;
  std::size_t skip_ = 0;  // bytes of a broken frame still to drop
  std::array<std::uint8_t, 8192> buffer_{};
  std::size_t buffered_ = 0;
};

}  // namespace vt::audio
