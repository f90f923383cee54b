// The words of a message box, laid out for reading.
#pragma once

#include <cstddef>
#include <string>

namespace vt::win {

// About as many characters as a line of a message box should hold: a box that puts a long
// message on one line can be wider than the screen.
inline constexpr std::size_t kMessageLineLength = 60;

// Breaks `text` into lines of at most `line_length` characters (UTF-8 sequences count as one):
// at spaces, and inside a longer word (a file's path) after a '/'; a word longer still is cut.
// Line breaks already in the text stay.
std::string WrapMessageText(const std::string& text, std::size_t line_length = kMessageLineLength);

}  // namespace vt::win
