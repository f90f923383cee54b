#include "platform/sys/portal_save_dialog.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/sys/sys.h"

extern char** environ;

namespace vt::sys {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Debian's interpreter: the first python3 on PATH may lack the D-Bus bindings.
constexpr char kPython[] = "/usr/bin/python3";
constexpr char kTitle[] = "Save Sound As";
constexpr unsigned long kParent = 0x5a0000c;
const std::vector<SaveFileFilter> kFilters{{"Sound Files (*.wav)", "*.wav"},
                                           {"FLAC, lossless (*.flac)", "*.flac"}};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sets an environment variable for the life of the object (unset when value is null).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str()); }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A session bus of the test's own, and on demand a fake portal on it.
class PortalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ProgramOnPath("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
    const std::string check = std::string(kPython) +
                              " -c 'import dbus, dbus.mainloop.glib; from gi.repository import "
                              "GLib' 2>/dev/null";
    if (std::system(check.c_str()) != 0) GTEST_SKIP() << "python3-dbus / python3-gi missing";
    char dir_template[] = "/tmp/vt-portal-XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    dir_ = dir_template;
    std::string out;
    ASSERT_TRUE(RunAndCapture(
        {"dbus-daemon", "--session", "--fork", "--address=unix:path=" + (dir_ / "bus").string(),
         "--print-address=1", "--print-pid=1"},
        &out));
    std::istringstream lines(out);
    std::string address;
    lines >> address >> bus_pid_;
    ASSERT_FALSE(address.empty());
    ASSERT_GT(bus_pid_, 0);
    bus_env_.emplace("DBUS_SESSION_BUS_ADDRESS", address.c_str());
  }

  void TearDown() override {
    StopPortal();
    if (bus_pid_ > 0 && ::kill(bus_pid_, SIGTERM) == 0) {
      // The bus removes its socket as it goes; let it finish before the folder goes.
      for (int i = 0; i < 100 && ::kill(bus_pid_, 0) == 0; ++i) ::usleep(10'000);
    }
    bus_env_.reset();
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  fs::path Record() const { return dir_ / "call"; }

  void StartPortal(const std::string& mode) {
    fs::remove(Record());
    fs::remove(Record().string() + ".ready");
    const std::string script = VT_FAKE_PORTAL;
    const std::string record = Record().string();
    char* argv[] = {const_cast<char*>(kPython), const_cast<char*>(script.c_str()),
                    const_cast<char*>(mode.c_str()), const_cast<char*>(record.c_str()), nullptr};
    ASSERT_EQ(::posix_spawn(&portal_pid_, kPython, nullptr, nullptr, argv, environ), 0);
    for (int i = 0; i < 200 && !fs::exists(record + ".ready"); ++i) {
      ASSERT_EQ(::waitpid(portal_pid_, nullptr, WNOHANG), 0) << "the fake portal ended";
      std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(fs::exists(record + ".ready")) << "the fake portal did not take its name";
  }

  void StopPortal() {
    if (portal_pid_ <= 0) return;
    ::kill(portal_pid_, SIGTERM);
    ::waitpid(portal_pid_, nullptr, 0);
    portal_pid_ = -1;
  }

  // Asks the portal, failing rather than hanging when no answer comes.
  PortalResult Choose(SaveFileChoice* choice) {
    auto pending = std::async(std::launch::async, [choice] {
      return ChooseSaveFileWithPortal(kTitle, kParent, kFilters, choice);
    });
    if (pending.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << "no answer within 10 s";
      // Taking the bus away is what ends the wait.
      ::kill(bus_pid_, SIGTERM);
      bus_pid_ = -1;
    }
    return pending.get();
  }

  fs::path dir_;
  pid_t bus_pid_ = -1;
  pid_t portal_pid_ = -1;
  std::optional<ScopedEnv> bus_env_;
};

TEST_F(PortalTest, ChosenFileAndTypeComeBackAndTheCallOffersTheTypes) {
  // "other-handle": an older portal that picks its own request object, answers later and does not
  // tell the type.
  for (const std::string mode : {"choose", "other-handle"}) {
    SCOPED_TRACE(mode);
    StartPortal(mode);
    SaveFileChoice choice;
    EXPECT_EQ(Choose(&choice), PortalResult::kChosen);
    EXPECT_EQ(choice.path, "/tmp/x y/take.wav");
    EXPECT_EQ(choice.filter, mode == "choose" ? 1 : -1);
    EXPECT_EQ(ReadFile(Record()),
              "parent_window=x11:5a0000c\n"
              "title=Save Sound As\n"
              "options=filters,handle_token,modal\n"
              "modal=Boolean:True\n"
              "filters=(sa(us)):[('Sound Files (*.wav)', [(0, '*.wav')]), "
              "('FLAC, lossless (*.flac)', [(0, '*.flac')])]\n");
    StopPortal();
  }
}

TEST_F(PortalTest, CancelledDialogIsFinal) {
  StartPortal("cancel");
  SaveFileChoice choice{"unchanged", 7};
  EXPECT_EQ(Choose(&choice), PortalResult::kCancelled);
  EXPECT_EQ(choice.path, "unchanged");
}

TEST_F(PortalTest, PortalThatCannotAnswerLeavesItToOtherDialogs) {
  for (const std::string mode : {"", "no-chooser", "exit-before-reply", "exit-after-reply"}) {
    SCOPED_TRACE("portal: " + mode);
    if (!mode.empty()) StartPortal(mode);
    SaveFileChoice choice{"unchanged", 7};
    EXPECT_EQ(Choose(&choice), PortalResult::kNoPortal);
    EXPECT_EQ(choice.path, "unchanged");
    StopPortal();
  }
}

TEST_F(PortalTest, SaveDialogUsesThePortalFirstAndOnlyFallsBackWithoutOne) {
  // A zenity that tells that it ran.
  const fs::path bin = dir_ / "bin";
  fs::create_directory(bin);
  std::ofstream(bin / "zenity") << "#!/bin/sh\necho \"$@\" > '" << (dir_ / "zenity-ran").string()
                                << "'\necho /from/zenity.wav\n";
  fs::permissions(bin / "zenity", fs::perms::owner_all);
  ScopedEnv path_env("PATH", (bin.string() + ":/usr/bin:/bin").c_str());

  const auto chosen_path = [](const std::optional<SaveFileChoice>& choice) {
    return choice ? std::optional(choice->path) : std::nullopt;
  };
  EXPECT_EQ(chosen_path(ChooseSaveFile(kTitle, kParent, kFilters)), "/from/zenity.wav");
  // Attached to the recorder window, so it stays above it, and offering every type.
  const std::string zenity_args = ReadFile(dir_ / "zenity-ran");
  EXPECT_NE(zenity_args.find("--modal --attach=94371852"), std::string::npos);
  EXPECT_NE(zenity_args.find("--file-filter=Sound Files (*.wav) | *.wav "
                             "--file-filter=FLAC, lossless (*.flac) | *.flac"),
            std::string::npos)
      << zenity_args;
  fs::remove(dir_ / "zenity-ran");

  StartPortal("choose");
  EXPECT_EQ(chosen_path(ChooseSaveFile(kTitle, kParent, kFilters)), "/tmp/x y/take.wav");
  StopPortal();
  StartPortal("cancel");
  EXPECT_EQ(chosen_path(ChooseSaveFile(kTitle, kParent, kFilters)), std::nullopt);
  EXPECT_FALSE(fs::exists(dir_ / "zenity-ran"));
}

TEST(PortalWithoutBus, NoSessionBusMeansNoPortal) {
  char dir_template[] = "/tmp/vt-nobus-XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  ScopedEnv runtime("XDG_RUNTIME_DIR", dir_template);
  for (const char* address :
       {static_cast<const char*>(nullptr), "disabled:", "unix:path=/nonexistent/bus"}) {
    SCOPED_TRACE(address ? address : "(unset)");
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", address);
    SaveFileChoice choice;
    EXPECT_EQ(ChooseSaveFileWithPortal(kTitle, 0, kFilters, &choice), PortalResult::kNoPortal);
  }
  fs::remove_all(dir_template);
}

TEST(FileUriToPath, DecodesLocalFileUris) {
  const struct {
    const char* uri;
    const char* path;  // null: refused
  } cases[] = {
      {"file:///tmp/x%20y/take.wav", "/tmp/x y/take.wav"},
      {"file:///home/ann/%C3%A9t%c3%A9.wav", "/home/ann/\xC3\xA9t\xC3\xA9.wav"},
      {"FILE://localhost/a/b.wav", "/a/b.wav"},
      {"file:///a/100%25.wav", "/a/100%.wav"},
      {"file://server/share/a.wav", nullptr},
      {"https://example.org/a.wav", nullptr},
      {"file:/a.wav", nullptr},
      {"file:///a%2Fb.wav", nullptr},
      {"file:///a%00.wav", nullptr},
      {"file:///a%zz.wav", nullptr},
      {"file:///a%4", nullptr},
      {"file:///a.wav#part", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uri);
    std::string path = "unchanged";
    EXPECT_EQ(FileUriToPath(c.uri, &path), c.path != nullptr);
    EXPECT_EQ(path, c.path ? c.path : "unchanged");
  }
}

}  // namespace
}  // namespace vt::sys
