// Every way a recording can fail to start or to go on: the user is told in words, and the window
// is back in the Idle state with the working file complete up to the failure.
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "recorder_fixture.h"
#include "ui/sounds_folder.h"

namespace vt::testing {
namespace {

using Dlg = CAudioRecorderDlg;

class RecordingFailure : public RecorderFixture {
 protected:
  void SetUp() override {
    RecorderFixture::SetUp();
    const char* xdg = std::getenv("XDG_DATA_HOME");
    saved_xdg_ = xdg ? std::optional<std::string>(xdg) : std::nullopt;
    ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
  }
  void TearDown() override {
    if (saved_xdg_)
      ::setenv("XDG_DATA_HOME", saved_xdg_->c_str(), 1);
    else
      ::unsetenv("XDG_DATA_HOME");
    RecorderFixture::TearDown();
  }

  // Runs posted events until the recording has stopped (failures arrive from other threads).
  void RunUntilIdle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Session().recording && std::chrono::steady_clock::now() < deadline) {
      win::RunPendingWork();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  void ExpectIdle() {
    EXPECT_EQ(Session().recording, 0);
    EXPECT_EQ(Session().recording_paused, 0);
    for (auto id : {Dlg::kMono, Dlg::kStereo, Dlg::kRate8000, Dlg::kRate11025, Dlg::kRate22050,
                    Dlg::kRate44100, Dlg::kBits8, Dlg::kBits16}) {
      EXPECT_TRUE(window_->Radio(id).Enabled()) << id;
    }
    EXPECT_EQ(window_->ButtonLabel(Dlg::kRecord), "Record Sound");
    EXPECT_EQ(window_->Button(Dlg::kRecord).TipText(), "Start recording sound");
  }

  // The working file's data chunk, checked against its length.
  std::uint32_t DataBytes(const std::string& path) {
    const std::string wav = ReadAll(path);
    EXPECT_GE(wav.size(), 46u);
    if (wav.size() < 46) return 0;
    std::uint32_t data = 0;
    std::memcpy(&data, wav.data() + 42, 4);
    EXPECT_EQ(wav.size(), 46u + data + (data & 1));
    return data;
  }

  std::optional<std::string> saved_xdg_;
};

TEST_F(RecordingFailure, NoSoundServerOrNoInputWhenRecordIsPressed) {
  struct Case {
    std::errc error;
    const char* words;
  };
  const Case cases[] = {
      {std::errc::connection_refused, "no sound server is running"},
      {std::errc::timed_out, "no sound server is running"},
      {std::errc::no_such_device, "has no input to record from"},
      {std::errc::io_error, "the sound input could not be opened"},
  };
  // An unsaved take that a refused Record must not touch.
  window_->OnRecordStop();
  Feed(0.2, 0x33);
  window_->OnRecordStop();
  const std::string last_take = ReadAll(WorkingFile());
  ASSERT_EQ(DataBytes(WorkingFile()), static_cast<std::uint32_t>(0.2 * 176400));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    errors_.clear();
    device_open_error_ = std::make_error_code(c.error);
    window_->OnRecordStop();
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find(c.words), std::string::npos) << errors_[0];
    ExpectIdle();
    EXPECT_EQ(ReadAll(WorkingFile()), last_take);
  }
  // The server is back: the next Record works.
  device_open_error_.clear();
  errors_.clear();
  window_->OnRecordStop();
  Feed(0.1);
  window_->OnRecordStop();
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(DataBytes(WorkingFile()), static_cast<std::uint32_t>(0.1 * 176400));
}

TEST_F(RecordingFailure, SoundServerLostInTheMiddle) {
  window_->OnRecordStop();
  window_->OnPauseResume();
  window_->OnPauseResume();
  Feed(0.5);
  window_->OnPauseResume();            // paused when the server goes
  window_->Display().RefreshValues();  // the panel's last refresh shows the recording
  device_->Fail();
  RunUntilIdle();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_FALSE(panel_recording_at_errors_[0]) << "the panel still shows the recording";
  EXPECT_NE(errors_[0].find("The sound server stopped during the recording"), std::string::npos)
      << errors_[0];
  ExpectIdle();
  EXPECT_EQ(window_->Button(Dlg::kPause).TipText(), "Pause recording");
  EXPECT_EQ(DataBytes(WorkingFile()), static_cast<std::uint32_t>(0.5 * 176400));
  // A failure that comes after the stop changes nothing.
  window_->OnRecordStop();
  Feed(0.1);
  win::RunPendingWork();
  EXPECT_EQ(Session().recording, 1);
  window_->OnRecordStop();
  EXPECT_EQ(errors_.size(), 1u);
}

TEST_F(RecordingFailure, InputTakenAwayInTheMiddle) {
  window_->OnRecordStop();
  Feed(0.5);
  device_->Fail(audio::CaptureNotice::kInputLost);
  RunUntilIdle();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find("went away during the recording, so the recording was stopped"),
            std::string::npos)
      << errors_[0];
  EXPECT_EQ(errors_[0].find("sound server"), std::string::npos) << errors_[0];
  ExpectIdle();
  EXPECT_EQ(DataBytes(WorkingFile()), static_cast<std::uint32_t>(0.5 * 176400));
}

TEST_F(RecordingFailure, DiskFullInTheMiddle) {
  window_->OnRecordStop();
  Feed(0.5);
  window_->OnRecordStop();
  const std::uint32_t before = DataBytes(WorkingFile());
  window_->OnRecordStop();
  Feed(0.2);
  // A full disk for the writer: the process may not make the file any longer.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 46 + before;  // a little more than 0.2 s already written
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Feed(0.5);
  RunUntilIdle();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);

  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "Disk full while accessing " + WorkingFile() + ".");
  ExpectIdle();
  const std::uint32_t kept = DataBytes(WorkingFile());
  EXPECT_GE(kept, static_cast<std::uint32_t>(0.2 * 176400));
  EXPECT_LE(kept, before);
  EXPECT_EQ(kept % 4, 0u);
}

TEST_F(RecordingFailure, UnwritableSoundsFolderFallsBackToTheUsersDataFolder) {
  // `sounds` is a plain file: the recording goes to $XDG_DATA_HOME/voxtape/sounds/, made anew.
  std::filesystem::remove_all(folder_ / "sounds");
  std::ofstream(folder_ / "sounds") << "not a folder";
  window_->OnRecordStop();
  Feed(0.1);
  window_->OnRecordStop();
  EXPECT_TRUE(errors_.empty());
  const std::string fallback = (folder_ / "data" / "voxtape" / "sounds").string() + "/";
  EXPECT_EQ(Paths().sounds_folder, fallback);
  EXPECT_EQ(DataBytes(fallback + "current.wav"), static_cast<std::uint32_t>(0.1 * 176400));
  EXPECT_EQ(ReadAll((folder_ / "sounds").string()), "not a folder");
}

TEST_F(RecordingFailure, NoFolderAtAllCanTakeTheRecording) {
  std::filesystem::remove_all(folder_ / "sounds");
  std::ofstream(folder_ / "sounds") << "not a folder";
  std::ofstream(folder_ / "data") << "not a folder either";
  const std::string working = WorkingFile();
  window_->OnRecordStop();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "Access to " + working + " was denied.");
  ExpectIdle();
}

TEST(SoundsFolder, StartsInTheProgramFolderUnlessItCannotTakeRecordings) {
  const auto root =
      std::filesystem::temp_directory_path() / ("vt-sounds-" + std::to_string(::getpid()));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root / "program");
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const std::optional<std::string> saved = xdg ? std::optional<std::string>(xdg) : std::nullopt;
  ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  const std::string program = (root / "program").string() + "/";
  const std::string fallback = (root / "data" / "voxtape" / "sounds").string() + "/";

  EXPECT_EQ(FallbackSoundsFolder(), fallback);
  EXPECT_EQ(ChooseSoundsFolder(program), program + "sounds/");
  EXPECT_TRUE(std::filesystem::is_directory(program + "sounds"));
  std::filesystem::remove(program + "sounds");
  std::ofstream(program + "sounds") << "a file";
  EXPECT_EQ(ChooseSoundsFolder(program), fallback);
  EXPECT_TRUE(std::filesystem::is_directory(fallback));
  // What the program made outside its folder only the user may enter.
  for (const auto& made :
       {root / "data", root / "data" / "voxtape", root / "data" / "voxtape" / "sounds"}) {
    EXPECT_EQ(std::filesystem::status(made).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all)
        << made;
  }

  ::unsetenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  const std::optional<std::string> saved_home =
      home ? std::optional<std::string>(home) : std::nullopt;
  ::setenv("HOME", (root / "home").c_str(), 1);
  EXPECT_EQ(FallbackSoundsFolder(), (root / "home").string() + "/.local/share/voxtape/sounds/");
  // Without HOME the user database knows the home; never a shared folder.
  ::unsetenv("HOME");
  const passwd* user = ::getpwuid(::getuid());
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(FallbackSoundsFolder(), std::string(user->pw_dir) + "/.local/share/voxtape/sounds/");
  if (saved_home) ::setenv("HOME", saved_home->c_str(), 1);
  if (saved) ::setenv("XDG_DATA_HOME", saved->c_str(), 1);
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace vt::testing
