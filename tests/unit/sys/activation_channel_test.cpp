#include "platform/sys/activation_channel.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace vt::sys {
namespace {

constexpr const char* kMarker = "voxtape-activation-test";

class ActivationChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        std::filesystem::temp_directory_path() / ("vt-activation-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) old_runtime_ = old;
    ::setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  void TearDown() override {
    if (old_runtime_)
      ::setenv("XDG_RUNTIME_DIR", old_runtime_->c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(folder_);
  }

  std::filesystem::path folder_;
  std::optional<std::string> old_runtime_;
};

TEST_F(ActivationChannelTest, ASecondStartHandsOverItsTokenAndGetsTheAnswer) {
  std::mutex mutex;
  std::vector<std::string> tokens;
  auto channel = ActivationChannel::Listen(kMarker, [&](std::shared_ptr<ActivationRequest> r) {
    std::lock_guard lock(mutex);
    tokens.push_back(r->Token());
    r->Answer("4194309");
  });
  ASSERT_NE(channel, nullptr);
  // Only its owner may speak to the running program.
  struct stat info {};
  ASSERT_EQ(::stat(ActivationChannel::PathFor(kMarker).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  for (const std::string token : {"launcher-42_TIME12345", "_TIME7", ""})
    EXPECT_EQ(RequestActivation(kMarker, token, 2000), std::optional<std::string>("4194309"));
  std::lock_guard lock(mutex);
  EXPECT_EQ(tokens, (std::vector<std::string>{"launcher-42_TIME12345", "_TIME7", ""}));
}

TEST_F(ActivationChannelTest, NobodyListeningOrNoAnswerInTimeGivesNone) {
  // Nothing there, and a socket left by a run that crashed.
  EXPECT_EQ(RequestActivation(kMarker, "_TIME1", 500), std::nullopt);
  std::ofstream(ActivationChannel::PathFor(kMarker)) << "stale";
  EXPECT_EQ(RequestActivation(kMarker, "_TIME1", 500), std::nullopt);

  // A running program that holds the request unanswered: the second start goes on after its wait.
  std::promise<std::shared_ptr<ActivationRequest>> held;
  auto channel = ActivationChannel::Listen(
      kMarker, [&](std::shared_ptr<ActivationRequest> r) { held.set_value(std::move(r)); });
  ASSERT_NE(channel, nullptr) << "the stale socket was not replaced";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RequestActivation(kMarker, "_TIME1", 300), std::nullopt);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));

  // A token that could end early is never sent.
  EXPECT_EQ(RequestActivation(kMarker, "two\nlines", 300), std::nullopt);
  // Closing the channel removes its socket.
  channel.reset();
  EXPECT_FALSE(std::filesystem::exists(ActivationChannel::PathFor(kMarker)));
}

}  // namespace
}  // namespace vt::sys
