#include "text_lines.h"

namespace ekrender {

bool nextLine(std::string_view text, size_t &position, std::string_view &line) {
  if (position >= text.size())
    return false;
  const size_t end = text.find_first_of("\r\n", position);
  line = text.substr(position,
                     end == std::string_view::npos ? std::string_view::npos : end - position);
  if (end == std::string_view::npos)
    position = text.size();
  else
    position = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  return true;
}

std::string lineProblem(std::string_view line) {
  const std::string_view looked = line.substr(0, kMaxTextLine);
  if (looked.find('\0') != std::string_view::npos)
    return "a NUL byte, which no text file holds (a binary or damaged file?)";
  if (line.size() > kMaxTextLine)
    return "a line longer than " + std::to_string(kMaxTextLine >> 20) +
           " MiB (a binary or damaged file?)";
  return std::string();
}

bool checkTextLines(std::string_view text, size_t position, size_t firstLine,
                    const std::string &name, std::string &error) {
  std::string_view line;
  for (size_t number = firstLine; nextLine(text, position, line); ++number)
    if (const std::string problem = lineProblem(line); !problem.empty()) {
      error = name + ":" + std::to_string(number) + ": " + problem;
      return false;
    }
  return true;
}

} // namespace ekrender
