#include "ui/save_recording.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vt {
namespace {

TEST(SaveRecording, TypedExtensionDecidesTheTypeElseTheChosenFilterAddsItsOwn) {
  constexpr std::optional<SaveType> kNoneSaid;
  const struct {
    const char* chosen;
    std::optional<SaveType> filter;
    const char* path;
    SaveType type;
  } cases[] = {
      {"/a/take", kNoneSaid, "/a/take.wav", SaveType::kWav},
      {"/a/take.wav", kNoneSaid, "/a/take.wav", SaveType::kWav},
      {"/a/Loud.WAV", kNoneSaid, "/a/Loud.WAV", SaveType::kWav},
      {"/a/take.wave", kNoneSaid, "/a/take.wave.wav", SaveType::kWav},
      {"wav", kNoneSaid, "wav.wav", SaveType::kWav},
      {"/a/flac/.flac", kNoneSaid, "/a/flac/.flac.wav", SaveType::kWav},
      {"/a/take.FLAC", kNoneSaid, "/a/take.FLAC", SaveType::kFlac},
      {"/a/take.Opus", SaveType::kMp3, "/a/take.Opus", SaveType::kOggOpus},
      {"/a/take.ogg", kNoneSaid, "/a/take.ogg", SaveType::kOggOpus},
      {"/a/take.mp3", SaveType::kFlac, "/a/take.mp3", SaveType::kMp3},
      {"/a/take", SaveType::kFlac, "/a/take.flac", SaveType::kFlac},
      {"/a/take", SaveType::kOggOpus, "/a/take.opus", SaveType::kOggOpus},
      {"/a/take.2026", SaveType::kMp3, "/a/take.2026.mp3", SaveType::kMp3},
  };
  for (const auto& c : cases) {
    const SaveTarget target = SaveTargetFor(c.chosen, c.filter);
    EXPECT_EQ(target.path, c.path) << c.chosen;
    EXPECT_EQ(target.type, c.type) << c.chosen;
  }
}

class SaveErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("vt-save-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    working_ = (dir_ / "current.wav").string();
    std::ofstream(working_, std::ios::binary) << std::string(1000, 'x');
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path dir_;
  std::string working_;
};

TEST_F(SaveErrors, EachFailureHasTheMessageThatNamesTheFile) {
  std::filesystem::create_directories(dir_ / "folder.wav");
  const std::string missing = (dir_ / "no such folder" / "x.wav").string();
  const std::string folder = (dir_ / "folder.wav").string();
  struct Case {
    std::string target;
    std::string message;
  };
  const Case cases[] = {
      {missing, missing + " contains an invalid path."},
      {folder, "Access to " + folder + " was denied."},
      {working_, "A sharing violation occurred while accessing " + working_ + "."},
      {"/dev/full", "Disk full while accessing /dev/full."},
  };
  for (const auto& c : cases) EXPECT_EQ(CopyRecording(working_, c.target), c.message);
  EXPECT_EQ(std::filesystem::file_size(working_), 1000u);
}

TEST_F(SaveErrors, AWorkingFileHeldByTheWriterIsNotCopied) {
  const int writer = ::open(working_.c_str(), O_RDWR);
  ASSERT_EQ(::flock(writer, LOCK_EX), 0);
  const std::string target = (dir_ / "copy.wav").string();
  EXPECT_EQ(CopyRecording(working_, target),
            "A sharing violation occurred while accessing " + working_ + ".");
  ::close(writer);
  EXPECT_EQ(CopyRecording(working_, target), std::nullopt);
  EXPECT_EQ(std::filesystem::file_size(target), 1000u);
}

}  // namespace
}  // namespace vt
