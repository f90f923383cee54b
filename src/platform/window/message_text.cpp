#include "platform/window/message_text.h"

#include <vector>

namespace vt::win {
namespace {

// Characters, not bytes: continuation bytes of a UTF-8 sequence do not count.
std::size_t Length(const std::string& text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// Byte offset just past the first `count` characters of `text`.
std::size_t Prefix(const std::string& text, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t n = 0; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && n++ == count) break;
  }
  return at;
}

// A word longer than a line, in pieces that fit: after a '/' where there is one.
std::vector<std::string> Pieces(std::string word, std::size_t line_length) {
  std::vector<std::string> pieces;
  while (Length(word) > line_length) {
    const std::size_t fits = Prefix(word, line_length);
    std::size_t cut = word.rfind('/', fits - 1);
    cut = cut == std::string::npos || cut == 0 ? fits : cut + 1;
    pieces.push_back(word.substr(0, cut));
    word.erase(0, cut);
  }
  pieces.push_back(word);
  return pieces;
}

std::string WrapLine(const std::string& line, std::size_t line_length) {
  std::string out;
  std::string current;
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    const std::string word = line.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    bool first_piece = true;
    for (const std::string& piece : Pieces(word, line_length)) {
      // A word's first piece follows a space; the rest of a cut word follows without one.
      const std::size_t gap = first_piece && !current.empty() ? 1 : 0;
      if (!current.empty() && Length(current) + gap + Length(piece) > line_length) {
        out += current + '\n';
        current.clear();
      } else if (gap != 0) {
        current += ' ';
      }
      current += piece;
      first_piece = false;
    }
  }
  return out + current;
}

}  // namespace

std::string WrapMessageText(const std::string& text, std::size_t line_length) {
  if (line_length == 0) return text;
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    out += WrapLine(text.substr(start, end == std::string::npos ? std::string::npos : end - start),
                    line_length);
    if (end == std::string::npos) break;
    out += '\n';
    start = end + 1;
  }
  return out;
}

}  // namespace vt::win
