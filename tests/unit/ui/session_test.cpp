// The recording session as the buttons and keys drive it: flags, button texts, the working file.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/recorder_app.h"
#include "recorder_fixture.h"

namespace vt::testing {
namespace {

using Dlg = CAudioRecorderDlg;

constexpr Dlg::ControlId kFormatRadios[] = {Dlg::kMono,      Dlg::kStereo,    Dlg::kRate8000,
                                            Dlg::kRate11025, Dlg::kRate22050, Dlg::kRate44100,
                                            Dlg::kBits8,     Dlg::kBits16};

class Session_ : public RecorderFixture {
 protected:
  bool RadiosEnabled() const {
    int enabled = 0;
    for (auto id : kFormatRadios) enabled += window_->Radio(id).Enabled();
    EXPECT_TRUE(enabled == 0 || enabled == 8) << "radios enabled one by one";
    return enabled == 8;
  }
  void ExpectTexts(Dlg::ControlId id, const std::string& label, const std::string& tip) {
    EXPECT_EQ(window_->ButtonLabel(id), label);
    EXPECT_EQ(window_->Button(id).TipText(), tip);
  }
  // Data chunk size and the file's length agree with the bytes recorded.
  std::uint32_t DataBytes() {
    const std::string wav = ReadAll(WorkingFile());
    EXPECT_GE(wav.size(), 46u);
    std::uint32_t data = 0;
    std::memcpy(&data, wav.data() + 42, 4);
    EXPECT_EQ(wav.size(), 46u + data + (data & 1));
    return data;
  }
};

TEST_F(Session_, StartsIdleWithTheDefaultFormatChecked) {
  EXPECT_EQ(engine_->GetFormatChoice().channels, 2);
  EXPECT_EQ(engine_->GetFormatChoice().samples_per_sec, 44100);
  EXPECT_EQ(engine_->GetFormatChoice().bits_per_sample, 16);
  for (auto id : kFormatRadios) {
    const bool default_choice = id == Dlg::kStereo || id == Dlg::kRate44100 || id == Dlg::kBits16;
    EXPECT_EQ(window_->Radio(id).Checked(), default_choice) << id;
  }
  EXPECT_TRUE(RadiosEnabled());
  ExpectTexts(Dlg::kPlay, "Play Sound", "Play last recorded");
  EXPECT_EQ(window_->RecordVolume().GetPos(), 100);
  EXPECT_EQ(window_->PlayVolume().GetPos(), 100);
}

TEST_F(Session_, FormatRadiosSetOnlyTheirOwnValue) {
  struct Case {
    Dlg::ControlId radio;
    audio::FormatChoice expected;
  };
  const Case cases[] = {
      {Dlg::kRate8000, {2, 8000, 16}}, {Dlg::kMono, {1, 8000, 16}},
      {Dlg::kBits8, {1, 8000, 8}},     {Dlg::kRate22050, {1, 22050, 8}},
      {Dlg::kStereo, {2, 22050, 8}},   {Dlg::kRate11025, {2, 11025, 8}},
      {Dlg::kBits16, {2, 11025, 16}},  {Dlg::kRate44100, {2, 44100, 16}},
  };
  for (const auto& c : cases) {
    window_->Radio(c.radio).Click();
    const auto choice = engine_->GetFormatChoice();
    EXPECT_EQ(choice.channels, c.expected.channels) << c.radio;
    EXPECT_EQ(choice.samples_per_sec, c.expected.samples_per_sec) << c.radio;
    EXPECT_EQ(choice.bits_per_sample, c.expected.bits_per_sample) << c.radio;
    EXPECT_TRUE(window_->Radio(c.radio).Checked());
  }
  // Each group keeps exactly one radio checked.
  EXPECT_FALSE(window_->Radio(Dlg::kMono).Checked());
  EXPECT_FALSE(window_->Radio(Dlg::kRate8000).Checked());
  EXPECT_FALSE(window_->Radio(Dlg::kBits8).Checked());
}

TEST_F(Session_, RecordPauseResumeStopWalksTheStatesWithTheirTexts) {
  window_->OnRecordStop();
  EXPECT_EQ(Session().recording, 1);
  EXPECT_FALSE(RadiosEnabled());
  ExpectTexts(Dlg::kRecord, "Stop Recording", "Stop recording");
  Feed(0.5, 0x11);

  window_->OnPauseResume();
  EXPECT_EQ(Session().recording_paused, 1);
  ExpectTexts(Dlg::kPause, "Resume", "Resume recording");
  Feed(0.5, 0x22);  // left out

  window_->OnPauseResume();
  EXPECT_EQ(Session().recording_paused, 0);
  ExpectTexts(Dlg::kPause, "Pause", "Pause recording");
  Feed(0.25, 0x33);

  window_->OnRecordStop();
  EXPECT_EQ(Session().recording, 0);
  EXPECT_TRUE(RadiosEnabled());
  ExpectTexts(Dlg::kRecord, "Record Sound", "Start recording sound");
  EXPECT_EQ(DataBytes(), static_cast<std::uint32_t>(0.75 * 176400));
  const std::string wav = ReadAll(WorkingFile());
  EXPECT_EQ(wav.find('\x22', 46), std::string::npos) << "sound of the pause was kept";
}

TEST_F(Session_, PauseDoesNothingWhenIdleAndRecordClearsAPause) {
  window_->OnPauseResume();
  EXPECT_EQ(Session().recording_paused, 0);
  window_->OnRecordStop();
  window_->OnPauseResume();
  window_->OnRecordStop();  // stop while paused
  EXPECT_EQ(Session().recording_paused, 0);
  EXPECT_EQ(DataBytes(), 0u);
  window_->OnRecordStop();  // the next recording starts unpaused
  Feed(0.1);
  window_->OnRecordStop();
  EXPECT_EQ(DataBytes(), static_cast<std::uint32_t>(0.1 * 176400));
}

TEST_F(Session_, PlayAndSaveDoNothingWhileTheWriterHoldsTheFile) {
  window_->OnRecordStop();
  Feed(0.2);
  save_choice_ = (folder_ / "copy.wav").string();
  window_->OnSaveRecording();
  window_->OnPlayStop();
  EXPECT_EQ(save_dialogs_, 0);
  EXPECT_EQ(Session().recording, 1);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "copy.wav"));
}

TEST_F(Session_, SaveWithoutARecordingShowsNoDialog) {
  window_->OnSaveRecording();
  EXPECT_EQ(save_dialogs_, 0);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(Session_, SaveCopiesTheRecordingByteForByteUnderAWavName) {
  window_->OnRecordStop();
  Feed(0.3);
  window_->OnRecordStop();
  save_choice_ = (folder_ / "take one").string();
  window_->OnSaveRecording();
  EXPECT_EQ(save_dialogs_, 1);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(ReadAll((folder_ / "take one.wav").string()), ReadAll(WorkingFile()));

  save_choice_.reset();  // cancelled
  window_->OnSaveRecording();
  EXPECT_EQ(save_dialogs_, 2);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(Session_, SaveAsksBeforeReplacingAFileTheDialogDidNotSee) {
  window_->OnRecordStop();
  Feed(0.3);
  window_->OnRecordStop();
  const std::string take = ReadAll(WorkingFile());
  const std::string keep = (folder_ / "keep.wav").string();
  struct Case {
    std::string typed;  // what the dialog gave back (it asked about that name)
    bool exists;        // keep.wav is there before the save
    bool answer;        // Replace?
    bool asked;
    bool replaced;
  };
  const Case cases[] = {
      {(folder_ / "keep").string(), true, false, true, false},
      {(folder_ / "keep").string(), true, true, true, true},
      {keep, true, false, false, true},  // the dialog's own question covered it
      {(folder_ / "keep").string(), false, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed + (c.exists ? " over an existing file" : ""));
    std::filesystem::remove(keep);
    if (c.exists) std::ofstream(keep) << "an older take";
    replace_questions_.clear();
    replace_answer_ = c.answer;
    save_choice_ = c.typed;
    window_->OnSaveRecording();
    EXPECT_EQ(replace_questions_,
              c.asked ? std::vector<std::string>{keep} : std::vector<std::string>{});
    EXPECT_EQ(ReadAll(keep), c.replaced ? take : "an older take");
  }
  EXPECT_TRUE(errors_.empty());
}

TEST_F(Session_, ACompressedSaveRunsInTheBackgroundAndLandsWholeOrNotAtAll) {
  window_->OnRecordStop();
  Feed(0.5);
  window_->OnRecordStop();
  const auto save_and_wait = [&](const std::string& typed, SaveType type) {
    save_choice_ = typed;
    save_type_choice_ = type;
    window_->OnSaveRecording();
    for (int i = 0; i < 1000 && window_->RunningSave(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      win::RunPendingWork();
    }
    ASSERT_EQ(window_->RunningSave(), nullptr) << "the save did not end";
  };
  const auto names_in = [](const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };

  // The type the dialog says was chosen gives the extension.
  save_and_wait((folder_ / "take").string(), SaveType::kFlac);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(ReadAll((folder_ / "take.flac").string()).substr(0, 4), "fLaC");
  window_->Display().RefreshValues();
  EXPECT_EQ(window_->Display().Values().save_percent, -1);

  // Failures name the chosen file and leave nothing behind: a folder that is not there, and a
  // folder in the way of the finished file (found only when it takes its name).
  const std::string gone = (folder_ / "gone" / "take.mp3").string();
  const std::string in_the_way = (folder_ / "box.opus").string();
  std::filesystem::create_directory(in_the_way);
  save_and_wait(gone, SaveType::kWav);
  save_and_wait(in_the_way, SaveType::kWav);
  EXPECT_EQ(errors_, (std::vector<std::string>{gone + " contains an invalid path.",
                                               "Access to " + in_the_way + " was denied."}));
  EXPECT_EQ(names_in(folder_), (std::vector<std::string>{"box.opus", "sounds", "take.flac"}));
  EXPECT_TRUE(std::filesystem::is_empty(in_the_way));
  EXPECT_TRUE(notices_.empty());
}

TEST_F(Session_, SomethingElseInPlaceOfTheWorkingFileIsRefusedAtOnce) {
  std::filesystem::remove(WorkingFile());
  ASSERT_EQ(::mkfifo(WorkingFile().c_str(), 0600), 0);
  save_choice_ = (folder_ / "copy.wav").string();
  // Opening a FIFO for reading would wait for a writer: each of these would hang.
  window_->OnPlayStop();
  window_->OnSaveRecording();
  ASSERT_EQ(errors_.size(), 2u);
  for (const std::string& error : errors_)
    EXPECT_EQ(error, "Access to " + WorkingFile() + " was denied.");
  EXPECT_EQ(Session().playing, 0);
  EXPECT_EQ(save_dialogs_, 0);
}

TEST_F(Session_, SavingOntoTheWorkingFileIsASharingViolationAndKeepsIt) {
  window_->OnRecordStop();
  Feed(0.3);
  window_->OnRecordStop();
  const std::string before = ReadAll(WorkingFile());
  save_choice_ = WorkingFile();
  window_->OnSaveRecording();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "A sharing violation occurred while accessing " + WorkingFile() + ".");
  EXPECT_EQ(ReadAll(WorkingFile()), before);
}

TEST_F(Session_, CloseAsksAndCompletesARunningRecording) {
  window_->OnRecordStop();
  Feed(0.2);
  confirm_answer_ = false;
  window_->OnCloseCommand();
  EXPECT_EQ(confirmations_, 1);
  EXPECT_EQ(Session().recording, 1);
  EXPECT_FALSE(window_->ModalEnded());

  confirm_answer_ = true;
  window_->OnCloseCommand();
  EXPECT_TRUE(window_->ModalEnded());
  EXPECT_EQ(Session().recording, 0);
  EXPECT_EQ(DataBytes(), static_cast<std::uint32_t>(0.2 * 176400));
}

TEST_F(Session_, ThePlatformsCloseRequestAlsoCompletesTheRecording) {
  window_->OnRecordStop();
  Feed(0.2);
  window_->DispatchCloseRequest();
  EXPECT_TRUE(window_->ModalEnded());
  EXPECT_EQ(confirmations_, 0);
  EXPECT_EQ(DataBytes(), static_cast<std::uint32_t>(0.2 * 176400));
}

TEST_F(Session_, KeyFilterRunsTheFiveCommandsAndSwallowsEveryOtherKey) {
  using win::Key;
  const auto press = [this](Key key, bool alt = false) {
    return CRecorderApp::ProcessMessageFilter(*window_, window_.get(), {key, alt});
  };
  EXPECT_TRUE(press(Key::kF1));
  EXPECT_EQ(help_pages_, std::vector<std::string>{Paths().program_folder + "help/index.html"});
  EXPECT_TRUE(press(Key::kF5));
  EXPECT_EQ(Session().recording, 1);
  EXPECT_TRUE(press(Key::kF8));
  EXPECT_EQ(Session().recording_paused, 1);
  EXPECT_TRUE(press(Key::kF8));
  EXPECT_TRUE(press(Key::kF4));  // nothing to play while recording
  EXPECT_TRUE(press(Key::kF5));
  EXPECT_EQ(Session().recording, 0);
  confirm_answer_ = false;
  EXPECT_TRUE(press(Key::kF9));
  EXPECT_EQ(confirmations_, 1);

  for (Key key : {Key::kF2, Key::kF3, Key::kF6, Key::kF7, Key::kF11, Key::kF12, Key::kEscape,
                  Key::kReturn, Key::kTab, Key::kLeft, Key::kOther}) {
    EXPECT_TRUE(press(key)) << static_cast<int>(key);
  }
  EXPECT_FALSE(window_->ModalEnded());
  EXPECT_EQ(Session().recording, 0);
  EXPECT_EQ(confirmations_, 1);

  // Alt combinations and keys of other windows pass untouched.
  EXPECT_FALSE(press(Key::kF4, true));
  EXPECT_FALSE(CRecorderApp::ProcessMessageFilter(*window_, nullptr, {Key::kF5, false}));
  EXPECT_EQ(Session().recording, 0);

  // A focused slider keeps its arrow keys.
  window_->SetFocus(&window_->RecordVolume());
  EXPECT_FALSE(press(Key::kLeft));
  EXPECT_TRUE(press(Key::kF2));
}

}  // namespace
}  // namespace vt::testing
