#include "audio/wav_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <numeric>

#include "test_files.h"

namespace vt::audio {
namespace {

using testutil::IsWavHolding;
using testutil::ReadAll;
using testutil::TempDir;

std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t first = 1) {
  std::vector<std::uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

std::vector<std::uint8_t> Concat(std::initializer_list<std::string_view> parts) {
  std::vector<std::uint8_t> bytes;
  for (std::string_view part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

struct HeaderCase {
  const char* name;
  WaveFormat format;
  std::string_view format_bytes;  // offsets 20 to 37
};

TEST(WaveWriterTest, EmptyRecordingHeaderBytes) {
  const HeaderCase cases[] = {
      {"stereo 44.1 kHz 16-bit", MakeWaveFormat(2, 44100, 16),
       std::string_view("\x01\x00\x02\x00\x44\xAC\x00\x00\x10\xB1\x02\x00\x04\x00\x10\x00\x00\x00",
                        18)},
      {"mono 8 kHz 8-bit", MakeWaveFormat(1, 8000, 8),
       std::string_view("\x01\x00\x01\x00\x40\x1F\x00\x00\x40\x1F\x00\x00\x01\x00\x08\x00\x00\x00",
                        18)},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WaveWriter writer;
    ASSERT_FALSE(writer.OpenWaveFile(dir.File("a.wav"), c.format));
    ASSERT_FALSE(writer.CloseWaveFile());
    // RIFF size 38, fmt size 18, data size 0: 46 bytes in all.
    const std::vector<std::uint8_t> want =
        Concat({std::string_view("RIFF\x26\x00\x00\x00WAVEfmt \x12\x00\x00\x00", 20),
                c.format_bytes, std::string_view("data\x00\x00\x00\x00", 8)});
    EXPECT_EQ(ReadAll(dir.File("a.wav")), want);
  }
}

TEST(WaveWriterTest, OddDataIsFollowedByAPadByteCountedOnlyInTheRiffSize) {
  TempDir dir;
  WaveWriter writer;
  ASSERT_FALSE(writer.OpenWaveFile(dir.File("a.wav"), MakeWaveFormat(1, 8000, 8)));
  ASSERT_FALSE(writer.AppendWaveData(Counting(3)));
  ASSERT_FALSE(writer.CloseWaveFile());
  const std::vector<std::uint8_t> bytes = ReadAll(dir.File("a.wav"));
  ASSERT_EQ(bytes.size(), 50u);
  EXPECT_EQ(testutil::Le32(bytes, 4), 42u);
  EXPECT_EQ(testutil::Le32(bytes, 42), 3u);
  EXPECT_EQ(bytes[49], 0);
}

// A program killed at any moment leaves a complete file: the header is brought up to date, and
// everything appended is in the file, after every append.
TEST(WaveWriterTest, FileIsCompleteAfterEveryAppend) {
  TempDir dir;
  const std::string path = dir.File("a.wav");
  WaveWriter writer;
  ASSERT_FALSE(writer.OpenWaveFile(path, MakeWaveFormat(1, 8000, 8)));
  std::vector<std::uint8_t> all;
  EXPECT_TRUE(IsWavHolding(path, all));
  // Odd then even sizes (the pad byte comes and is overwritten), and pieces larger than the
  // 8 KiB I/O buffer.
  for (std::size_t n : {4u, 3u, 1u, 5u, 20000u, 8192u, 7u}) {
    const std::vector<std::uint8_t> piece = Counting(n, static_cast<std::uint8_t>(all.size()));
    ASSERT_FALSE(writer.AppendWaveData(piece));
    all.insert(all.end(), piece.begin(), piece.end());
    EXPECT_TRUE(IsWavHolding(path, all)) << "after " << all.size() << " bytes";
  }
  ASSERT_FALSE(writer.CloseWaveFile());
  EXPECT_TRUE(IsWavHolding(path, all));
}

TEST(WaveWriterTest, FileIsHeldExclusivelyWhileOpen) {
  TempDir dir;
  const std::string path = dir.File("a.wav");
  WaveWriter writer;
  ASSERT_FALSE(writer.OpenWaveFile(path, MakeWaveFormat(1, 8000, 8)));
  ASSERT_FALSE(writer.AppendWaveData(Counting(10)));

  // A second writer is refused and leaves the file as it is.
  WaveWriter second;
  EXPECT_EQ(second.OpenWaveFile(path, MakeWaveFormat(2, 44100, 16)),
            std::errc::resource_unavailable_try_again);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(IsWavHolding(path, Counting(10)));

  // Play and Save test readability with a non-blocking shared lock.
  const auto can_share = [&] {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return locked;
  };
  EXPECT_FALSE(can_share());
  ASSERT_FALSE(writer.CloseWaveFile());
  EXPECT_TRUE(can_share());
}

TEST(WaveWriterTest, NewRecordingReplacesTheOldOneCompletely) {
  TempDir dir;
  const std::string path = dir.File("a.wav");
  WaveWriter writer;
  ASSERT_FALSE(writer.OpenWaveFile(path, MakeWaveFormat(1, 8000, 8)));
  ASSERT_FALSE(writer.AppendWaveData(Counting(1000)));
  ASSERT_FALSE(writer.CloseWaveFile());
  ASSERT_FALSE(writer.OpenWaveFile(path, MakeWaveFormat(1, 8000, 8)));
  ASSERT_FALSE(writer.AppendWaveData(Counting(2, 7)));
  ASSERT_FALSE(writer.CloseWaveFile());
  EXPECT_TRUE(IsWavHolding(path, Counting(2, 7)));
}

TEST(WaveWriterTest, WritingStopsAtTheSizeLimitWithWholeFrames) {
  // The real limit: the largest data chunk whose RIFF size still fits in 32 bits, in whole
  // frames of every format.
  EXPECT_LE(38 + kMaxWaveDataBytes, 0xFFFFFFFFull);
  EXPECT_GT(38 + kMaxWaveDataBytes + 4, 0xFFFFFFFFull);
  EXPECT_EQ(kMaxWaveDataBytes % 4, 0u);

  TempDir dir;
  const std::string path = dir.File("a.wav");
  WaveWriter writer(14);  // 3 stereo 16-bit frames and a half
  ASSERT_FALSE(writer.OpenWaveFile(path, MakeWaveFormat(2, 44100, 16)));
  ASSERT_FALSE(writer.AppendWaveData(Counting(8)));
  EXPECT_EQ(writer.AppendWaveData(Counting(8, 9)), std::errc::file_too_large);
  EXPECT_TRUE(writer.LimitReached());
  EXPECT_EQ(writer.AppendWaveData(Counting(4)), std::errc::file_too_large);
  EXPECT_TRUE(IsWavHolding(path, Counting(12)));
  ASSERT_FALSE(writer.CloseWaveFile());
  EXPECT_TRUE(IsWavHolding(path, Counting(12)));
}

TEST(WaveWriterTest, ErrorsAreReturned) {
  TempDir dir;
  WaveWriter writer;
  EXPECT_EQ(writer.AppendWaveData(Counting(4)), std::errc::bad_file_descriptor);
  EXPECT_EQ(writer.CloseWaveFile(), std::errc::bad_file_descriptor);
  EXPECT_EQ(writer.OpenWaveFile(dir.File("missing/a.wav"), MakeWaveFormat(1, 8000, 8)),
            std::errc::no_such_file_or_directory);
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_TRUE(writer.OpenWaveFile(dir.File(""), MakeWaveFormat(1, 8000, 8)));  // a folder
  EXPECT_FALSE(writer.IsOpen());
  // A FIFO that nobody reads, put in the file's place: refused at once, never waited on.
  ASSERT_EQ(::mkfifo(dir.File("fifo.wav").c_str(), 0600), 0);
  EXPECT_TRUE(writer.OpenWaveFile(dir.File("fifo.wav"), MakeWaveFormat(1, 8000, 8)));
  EXPECT_FALSE(writer.IsOpen());
}

// A full disk in the middle of an append: the append fails and the file stays complete, holding
// the appends before it. The process's file size limit stands in for the full disk.
TEST(WaveWriterTest, FullDiskLeavesTheFileComplete) {
  TempDir dir;
  const std::string path = dir.File("a.wav");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

  WaveWriter writer;
  std::error_code open_error = writer.OpenWaveFile(path, MakeWaveFormat(1, 8000, 8));
  std::error_code first = writer.AppendWaveData(Counting(3001));
  std::error_code second = writer.AppendWaveData(Counting(3000));
  std::error_code small_one = writer.AppendWaveData(Counting(10));

  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  ASSERT_FALSE(open_error);
  EXPECT_FALSE(first);
  EXPECT_EQ(second, std::errc::file_too_large);  // EFBIG, as the kernel reports it
  EXPECT_FALSE(small_one);                       // room again for a small one
  std::vector<std::uint8_t> want = Counting(3001);
  const std::vector<std::uint8_t> tail = Counting(10);
  want.insert(want.end(), tail.begin(), tail.end());
  EXPECT_TRUE(IsWavHolding(path, want));
  EXPECT_FALSE(writer.CloseWaveFile());
  EXPECT_TRUE(IsWavHolding(path, want));
}

}  // namespace
}  // namespace vt::audio

namespace vt::audio {
namespace {

// Runs `append` with the process's file size limit at `limit` bytes: a write past it fails as
// on a full disk.
std::error_code AppendWithFileSizeLimit(WaveWriter& writer, std::span<const std::uint8_t> bytes,
                                        rlim_t limit) {
  rlimit saved{};
  if (::getrlimit(RLIMIT_FSIZE, &saved) != 0) return {errno, std::generic_category()};
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = limit;
  ::setrlimit(RLIMIT_FSIZE, &small);
  const std::error_code error = writer.AppendWaveData(bytes);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  return error;
}

struct Append {
  std::size_t size;
  bool fails;
};

struct FailedAppendCase {
  const char* name;
  WaveFormat format;
  std::vector<Append> appends;  // consecutive pieces of one stream of bytes
  // The file afterwards: these [begin, end) spans of the stream, in order.
  std::vector<std::pair<std::size_t, std::size_t>> kept;
};

// The appends are one stream of frames: a failed append loses its bytes, and the rest of a frame
// it cut is dropped too, so every frame after the gap is still a whole frame in its place (no
// byte shifted, no channels swapped).
TEST(WaveWriterTest, FailedAppendNeverShiftsTheFramesAfterIt) {
  const FailedAppendCase cases[] = {
      {"mono 16-bit, an odd append fails",
       MakeWaveFormat(1, 11025, 16),
       {{4, false}, {5001, true}, {7, false}},
       {{0, 4}, {5006, 5012}}},
      {"stereo 16-bit, frames split across appends",
       MakeWaveFormat(2, 22050, 16),
       {{6, false}, {3, true}, {7, false}, {5, false}},
       {{0, 4}, {12, 20}}},
      {"stereo 8-bit, two failures in a row",
       MakeWaveFormat(2, 11025, 8),
       {{3, false}, {101, true}, {2, true}, {9, false}},
       {{0, 2}, {106, 114}}},
  };
  for (const FailedAppendCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("a.wav");
    std::size_t total = 0;
    for (const Append& a : c.appends) total += a.size;
    const std::vector<std::uint8_t> stream = Counting(total);

    WaveWriter writer;
    ASSERT_FALSE(writer.OpenWaveFile(path, c.format));
    std::size_t at = 0;
    for (const Append& a : c.appends) {
      const std::span<const std::uint8_t> piece(stream.data() + at, a.size);
      at += a.size;
      if (a.fails) {
        const std::uint64_t before = writer.DataBytes();
        const auto length = static_cast<rlim_t>(46 + before + (before & 1));
        EXPECT_EQ(AppendWithFileSizeLimit(writer, piece, length), std::errc::file_too_large);
        EXPECT_EQ(writer.DataBytes(), before);
      } else {
        EXPECT_FALSE(writer.AppendWaveData(piece));
      }
      // The file ends at a whole frame after every append, failed or not.
      EXPECT_EQ(writer.DataBytes() % c.format.nBlockAlign, 0u);
      EXPECT_EQ(testutil::ReadWav(path).data_size, writer.DataBytes());
    }
    ASSERT_FALSE(writer.CloseWaveFile());
    std::vector<std::uint8_t> want;
    for (const auto& [begin, end] : c.kept) {
      want.insert(want.end(), stream.begin() + static_cast<std::ptrdiff_t>(begin),
                  stream.begin() + static_cast<std::ptrdiff_t>(end));
    }
    EXPECT_TRUE(IsWavHolding(path, want));
  }
}

}  // namespace
}  // namespace vt::audio
