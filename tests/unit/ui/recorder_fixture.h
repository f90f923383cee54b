// A recorder window without a display, on a fake capture device and a scratch program folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/capture_engine.h"
#include "platform/audio/fake_capture_device.h"
#include "platform/audio/fake_player.h"
#include "skin/skin_archive.h"
#include "ui/recorder_window.h"
#include "ui/session_state.h"

namespace vt::testing {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class RecorderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("vt-ui-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ / "sounds");
    Paths().program_folder = folder_.string() + "/";
    Paths().sounds_folder = folder_.string() + "/sounds/";
    Session().Reset();
    ResetSkin();

    engine_ = std::make_unique<audio::CAviFile>([this] {
      auto device = std::make_unique<audio::FakeCaptureDevice>(device_open_error_);
      device_ = device.get();
      return device;
    });
    RecorderServices services;
    services.confirm_exit = [this](gfx::Rect) {
      ++confirmations_;
      return confirm_answer_;
    };
    services.choose_save_file = [this]() -> std::optional<SaveChoice> {
      ++save_dialogs_;
      if (!save_choice_) return std::nullopt;
      return SaveChoice{*save_choice_, save_type_choice_};
    };
    services.confirm_stop_saving = [this](const std::string& question) {
      stop_saving_questions_.push_back(question);
      return stop_saving_answer_;
    };
    services.show_notice = [this](const std::string& text) { notices_.push_back(text); };
    services.confirm_replace = [this](const std::string& file) {
      replace_questions_.push_back(file);
      return replace_answer_;
    };
    services.open_help = [this](const std::string& page) { help_pages_.push_back(page); };
    services.show_error = [this](const std::string& text) {
      errors_.push_back(text);
      panel_recording_at_errors_.push_back(window_->Display().Values().session.recording);
    };
    services.make_player = [this]() -> std::unique_ptr<audio::Player> {
      if (!with_player_) return nullptr;
      auto player = std::make_unique<audio::FakePlayer>();
      player_ = player.get();
      return player;
    };
    window_ = std::make_unique<CAudioRecorderDlg>(*engine_, services);
    window_->InitDialog();
    // What the window does once it is on screen (the sources).
    win::RunPendingWork();
  }

  void TearDown() override {
    if (Session().recording) window_->OnRecordStop();
    window_.reset();
    engine_.reset();
    Session().Reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // The source produces `seconds` of the current format's sound.
  void Feed(double seconds, std::uint8_t value = 0x40) {
    const auto& format = engine_->DeviceFormat();
    const auto bytes = static_cast<std::size_t>(seconds * format.nAvgBytesPerSec);
    std::vector<std::uint8_t> sound(bytes - bytes % format.nBlockAlign, value);
    device_->Feed(sound);
  }

  std::string WorkingFile() const { return Paths().WorkingFile(); }

  std::filesystem::path folder_;
  std::unique_ptr<audio::CAviFile> engine_;
  audio::FakeCaptureDevice* device_ = nullptr;
  std::error_code device_open_error_;  // what the next device's Open gives
  bool with_player_ = true;            // false: the window runs without a player
  audio::FakePlayer* player_ = nullptr;
  std::unique_ptr<CAudioRecorderDlg> window_;
  bool confirm_answer_ = true;
  int confirmations_ = 0;
  std::optional<std::string> save_choice_;
  std::optional<SaveType> save_type_choice_;  // the type the dialog says was left chosen
  int save_dialogs_ = 0;
  std::vector<std::string> stop_saving_questions_;
  bool stop_saving_answer_ = false;
  std::vector<std::string> notices_;
  std::vector<std::string> replace_questions_;  // files the window asked to replace
  bool replace_answer_ = false;
  std::vector<std::string> help_pages_;
  std::vector<std::string> errors_;
  std::vector<bool> panel_recording_at_errors_;  // what the panel showed as each error came
};

}  // namespace vt::testing
