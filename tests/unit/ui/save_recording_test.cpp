#include "ui/save_recording.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vt {
namespace {

TEST(SaveRecording, WavExtensionIsAddedOnceInAnyCase) {
  const std::pair<std::string, std::string> cases[] = {
      {"/a/take", "/a/take.wav"},           {"/a/take.wav", "/a/take.wav"},
      {"/a/Loud.WAV", "/a/Loud.WAV"},       {"/a/take.Wav", "/a/take.Wav"},
      {"/a/take.wave", "/a/take.wave.wav"}, {"wav", "wav.wav"},
  };
  for (const auto& [chosen, expected] : cases) EXPECT_EQ(WithWavExtension(chosen), expected);
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
