#include "description.h"

#include <charconv>
#include <fstream>

namespace vt::skingen {

namespace {

bool ToInt(const std::string& s, int& v) {
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size();
}

bool HexByte(const std::string& s, size_t at, std::uint8_t& v) {
  unsigned value = 0;
  auto [end, ec] = std::from_chars(s.data() + at, s.data() + at + 2, value, 16);
  v = static_cast<std::uint8_t>(value);
  return ec == std::errc() && end == s.data() + at + 2;
}

}  // namespace

bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error) {
  words.clear();
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#' && (words.empty() || i + 1 == line.size() || line[i + 1] == ' ')) {
      break;  // a comment; "#rrggbb" later in a line is a colour
    } else if (c == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) {
        error = "unterminated quoted text";
        return false;
      }
      words.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = line.find_first_of(" \t\r", i);
      if (end == std::string::npos) end = line.size();
      words.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return true;
}

bool ParseColour(const Description& d, const std::string& word, Rgb& out) {
  if (word.size() == 7 && word[0] == '#') {
    return HexByte(word, 1, out.r) && HexByte(word, 3, out.g) && HexByte(word, 5, out.b);
  }
  auto it = d.colours.find(word);
  if (it == d.colours.end()) return false;
  out = it->second;
  return true;
}

bool ReadDescription(const std::string& path, Description& out, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::string text;
  std::vector<std::string> w;
  int number = 0;
  auto fail = [&](const std::string& why) {
    error = path + ":" + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, text)) {
    ++number;
    std::string why;
    if (!SplitWords(text, w, why)) return fail(why);
    if (w.empty()) continue;
    if (w[0] == "colour") {
      Rgb c;
      if (w.size() != 3 || !ParseColour(out, w[2], c)) return fail("expected: colour NAME #rrggbb");
      out.colours[w[1]] = c;
    } else if (w[0] == "image") {
      ImagePlan img;
      img.line = number;
      if (w.size() != 6 || !ToInt(w[2], img.width) || !ToInt(w[3], img.height) || img.width <= 0 ||
          img.height <= 0) {
        return fail("expected: image NAME WIDTH HEIGHT KEY MATTE");
      }
      img.name = w[1];
      if (w[4] == "window") {
        img.key = KeyKind::kWindow;
      } else if (w[4] == "display") {
        img.key = KeyKind::kDisplay;
      } else if (w[4] != "none") {
        return fail("key must be window, display or none");
      }
      img.matte = w[5];
      for (const auto& other : out.images) {
        if (other.name == img.name) return fail("image " + img.name + " is made twice");
      }
      out.images.push_back(std::move(img));
    } else {
      if (out.images.empty()) return fail("drawing before the first image");
      out.images.back().ops.push_back({number, w});
    }
  }
  return true;
}

}  // namespace vt::skingen
