// Lines of the text particle files (CSV, ASCII PLY), and the checks that tell a text file from a
// damaged or binary one at its first line, before the rest of it is read or parsed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ekrender {

// The longest line a text particle file may hold, and the longest PLY header. Real files stay far
// below it; a longer line is a binary or damaged file.
constexpr size_t kMaxTextLine = size_t(1) << 20;

// The line from `position` on, without its end: "\n", "\r\n" or a lone "\r" (as old Mac programs
// write them). Moves `position` past the end. False at the end of the text.
bool nextLine(std::string_view text, size_t &position, std::string_view &line);

// Why `line` cannot be a line of a text file: it holds a NUL byte, or it is longer than
// kMaxTextLine. Empty when it can. Only its first kMaxTextLine + 1 bytes are looked at, so that
// the start of a long line gets the same answer as the whole.
std::string lineProblem(std::string_view line);

// Checks every line of `text` from `position` on, numbered from `firstLine`. False with
// "NAME:LINE: problem" in `error` at the first line that cannot be text. A line cut short at the
// end of `text` is only refused for what its part shows, so the check applies to the start of a
// file as well as to the whole.
bool checkTextLines(std::string_view text, size_t position, size_t firstLine,
                    const std::string &name, std::string &error);

} // namespace ekrender
