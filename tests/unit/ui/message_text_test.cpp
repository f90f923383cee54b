// Message boxes a person can read: the program's messages wrapped to lines that fit a screen.
#include "platform/window/message_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gfx/text.h"
#include "ui/recording_errors.h"

namespace vt {
namespace {

using win::kMessageLineLength;
using win::WrapMessageText;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(MessageText, WrapsAtSpacesAndInsideLongPathsKeepingEveryCharacter) {
  struct Case {
    std::string text;
    std::size_t width;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"short one", 10, {"short one"}},
      {"aaaa bbbb cccc", 9, {"aaaa bbbb", "cccc"}},
      {"aaa bb\ncc", 10, {"aaa bb", "cc"}},
      {"in /home/someone/sounds/x.wav now", 10, {"in /home/", "someone/", "sounds/", "x.wav now"}},
      {"abcdefghijk", 6, {"abcdef", "ghijk"}},
      // Characters are counted, not bytes (11 here).
      {"\xc3\xa9\xc3\xa9\xc3\xa9 \xc3\xa9\xc3\xa9",
       6,
       {"\xc3\xa9\xc3\xa9\xc3\xa9 \xc3\xa9\xc3\xa9"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Lines(WrapMessageText(c.text, c.width)), c.lines);
  }
}

TEST(MessageText, TheLongestMessageFitsASmallScreen) {
  // The longest message the program shows, with a long but ordinary recording path.
  const std::string file =
      "/home/a-person-with-a-long-name/.local/share/voxtape/sounds/current.wav";
  const std::string text = RecordingFailureText(audio::CAviFile::Failure::kDeviceLost, {}, file);
  ASSERT_GT(text.size(), 200u);
  const std::string wrapped = WrapMessageText(text);
  std::string joined;
  for (const std::string& line : Lines(wrapped)) {
    EXPECT_LE(line.size(), kMessageLineLength) << line;
    joined += line;
  }
  // Nothing is lost but the spaces turned into line breaks.
  std::string bare = text;
  std::erase(bare, ' ');
  std::erase(joined, ' ');
  EXPECT_EQ(joined, bare);

  // Drawn in the desktop's sans font at a large message-box size, with the box's margins, the
  // widest line fits a 1024 pixels wide screen.
  const auto font = gfx::Font::OpenSans(16);
  ASSERT_NE(font, nullptr);
  int widest = 0;
  for (const std::string& line : Lines(wrapped)) widest = std::max(widest, font->Measure(line).w);
  EXPECT_LE(widest + 2 * 40, 1024) << widest;
}

}  // namespace
}  // namespace vt
