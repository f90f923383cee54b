// The skin description: named colours and, per image, its size, transparency key, matte and the
// list of drawing operations that make it. Plain text, one statement per line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vt::skingen {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// One statement: its words (quoted strings arrive without their quotes) and where it was written.
struct Statement {
  int line = 0;
  std::vector<std::string> words;
};

enum class KeyKind { kNone, kWindow, kDisplay };

struct ImagePlan {
  int line = 0;
  std::string name;
  int width = 0;
  int height = 0;
  KeyKind key = KeyKind::kNone;
  std::string matte;  // colour, or crop:<image>:<x>:<y> of an image made earlier
  std::vector<Statement> ops;
};

struct Description {
  std::map<std::string, Rgb> colours;
  std::vector<ImagePlan> images;
};

// Splits one line into words: blanks separate, "..." keeps blanks, and a # that opens the line or
// stands alone starts a comment.
bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error);

// Reads the whole description; on failure gives false and says where in `error`.
bool ReadDescription(const std::string& path, Description& out, std::string& error);

// A colour word: a name from the description or #rrggbb.
bool ParseColour(const Description& d, const std::string& word, Rgb& out);

}  // namespace vt::skingen
