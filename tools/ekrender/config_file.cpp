#include "config_file.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

namespace ekrender {

namespace {

// More than any settings file needs; a larger one is a wrong name, not settings.
constexpr std::uintmax_t kMaxConfigBytes = 1 << 20;

std::string hexByte(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// The length of the UTF-8 sequence starting at text[i], or 0 when the bytes there are not one.
size_t utf8Length(const std::string &text, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (length == 0 || i + length > text.size())
    return 0;
  for (size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
      return 0;
  return length;
}

// Refuses control bytes (tabs and line ends aside) and bytes that are not UTF-8: a file holding
// them is not a settings file, whatever its name.
bool checkText(const std::string &text, ConfigProblem &problem) {
  int line = 1;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = 1;
    if (c == '\n')
      ++line;
    else if (c >= 0x80)
      length = utf8Length(text, i);
    else if ((c < 0x20 && c != '\t' &&
              !(c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) ||
             c == 0x7F)
      length = 0;
    if (length == 0) {
      problem = {line, "not a text file (byte " + hexByte(c) + " is not text)"};
      return false;
    }
    i += length;
  }
  return true;
}

void appendUtf8(std::string &out, unsigned long code) {
  if (code < 0x80) {
    out += char(code);
  } else if (code < 0x800) {
    out += char(0xC0 | (code >> 6));
    out += char(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += char(0xE0 | (code >> 12));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  } else {
    out += char(0xF0 | (code >> 18));
    out += char(0x80 | ((code >> 12) & 0x3F));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  }
}

std::string trimmedRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.pop_back();
  return text;
}

// A hand-written reader over the whole text, so that a list may run over several lines and every
// problem knows its line.
class Parser {
public:
  Parser(const std::string &text, ConfigSyntax syntax, const std::string &section)
      : text_(text), toml_(syntax == ConfigSyntax::Toml), section_(section) {}

  bool run(std::vector<ConfigEntry> &entries, ConfigProblem &problem) {
    while (at_ < text_.size()) {
      skipSpaces();
      bool ok = true;
      if (atLineEnd())
        nextLine();
      else if (atComment())
        skipToLineEnd();
      else if (peek() == '[')
        ok = header();
      else
        ok = keyValue(entries);
      if (!ok) {
        problem = problem_;
        return false;
      }
    }
    return true;
  }

private:
  char peek(size_t ahead = 0) const {
    return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
  }
  bool atLineEnd() const {
    return at_ >= text_.size() || peek() == '\n' || (peek() == '\r' && peek(1) == '\n');
  }
  // TOML comments start at any #; INI ones at any ; and at a # that begins a line or follows a
  // space, so that frame patterns (cache.####.ply) stay values.
  bool atComment() const {
    if (peek() == '#')
      return toml_ || at_ == 0 || text_[at_ - 1] == ' ' || text_[at_ - 1] == '\t' ||
             text_[at_ - 1] == '\n';
    return !toml_ && peek() == ';';
  }
  void skipSpaces() {
    while (peek() == ' ' || peek() == '\t')
      ++at_;
  }
  void skipToLineEnd() {
    while (!atLineEnd())
      ++at_;
  }
  void nextLine() {
    if (peek() == '\r')
      ++at_;
    if (peek() == '\n') {
      ++at_;
      ++line_;
    }
  }
  bool fail(const std::string &message) { return failAt(line_, message); }
  bool failAt(int line, const std::string &message) {
    problem_ = {line, message};
    return false;
  }
  // What is left of the line before a comment, for messages.
  std::string restOfLine() const {
    size_t end = at_;
    while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r' &&
           !(text_[end] == '#' && end > at_ && text_[end - 1] == ' '))
      ++end;
    return trimmedRight(text_.substr(at_, end - at_));
  }

  // After a section name or a value only spaces and a comment may follow on the line.
  bool endLine() {
    skipSpaces();
    if (atComment())
      skipToLineEnd();
    if (!atLineEnd())
      return fail("unexpected \"" + restOfLine() + "\" at the end of the line");
    nextLine();
    return true;
  }

  bool header() {
    ++at_;
    const bool arrayOfTables = toml_ && peek() == '[';
    if (arrayOfTables)
      ++at_;
    size_t close = at_;
    while (close < text_.size() && text_[close] != ']' && text_[close] != '\n')
      ++close;
    if (close >= text_.size() || text_[close] != ']')
      return fail("the section name is not closed with ]");
    std::string name = trimmedRight(text_.substr(at_, close - at_));
    name.erase(0, name.find_first_not_of(" \t"));
    at_ = close + 1;
    if (arrayOfTables && peek() != ']')
      return fail("the section name is not closed with ]]");
    if (arrayOfTables)
      ++at_;
    if (arrayOfTables || name != section_) {
      const std::string shown = arrayOfTables ? "[[" + name + "]]" : "[" + name + "]";
      return fail("unknown section " + shown + ": settings go at the top of the file or under [" +
                  section_ + "]");
    }
    if (toml_ && sectionOpened_)
      return fail("[" + section_ + "] is opened a second time");
    sectionOpened_ = true;
    return endLine();
  }

  bool keyValue(std::vector<ConfigEntry> &entries) {
    ConfigEntry entry;
    entry.line = line_;
    if (!(toml_ ? tomlKey(entry.key) : iniKey(entry.key)))
      return false;
    if (peek() != '=') {
      if (toml_)
        return fail("expected = after \"" + entry.key + "\"");
      entries.push_back(entry); // an INI name alone: a flag that is on
      return endLine();
    }
    if (entry.key.empty())
      return fail("a value without a name");
    ++at_;
    skipSpaces();
    if (atLineEnd() || atComment()) {
      if (toml_)
        return fail("no value after \"" + entry.key + " =\"");
      entry.values.push_back("");
    } else if (peek() == '[') {
      entry.list = true;
      if (!list(entry.values))
        return false;
    } else {
      std::string value;
      if (!scalar(false, value))
        return false;
      entry.values.push_back(value);
    }
    entries.push_back(entry);
    return endLine();
  }

  bool tomlKey(std::string &key) {
    if (peek() == '"' || peek() == '\'') {
      if (!quoted(key))
        return false;
    } else {
      const size_t start = at_;
      while (std::isalnum(static_cast<unsigned char>(peek())) || peek() == '_' || peek() == '-')
        ++at_;
      key = text_.substr(start, at_ - start);
      if (key.empty())
        return fail("expected a name, found \"" + restOfLine() + "\"");
    }
    skipSpaces();
    if (peek() == '.')
      return fail("dotted names are not read: settings go at the top of the file or under [" +
                  section_ + "]");
    return true;
  }

  // An INI name runs to the =, the line end or a comment.
  bool iniKey(std::string &key) {
    const size_t start = at_;
    while (!atLineEnd() && !atComment() && peek() != '=')
      ++at_;
    key = trimmedRight(text_.substr(start, at_ - start));
    return true;
  }

  bool list(std::vector<std::string> &values) {
    const int opened = line_;
    ++at_;
    for (bool expectItem = true;; expectItem = false) {
      if (!skipListSpace(opened))
        return false;
      if (peek() == ']') {
        ++at_;
        return true;
      }
      if (!expectItem) {
        if (peek() != ',')
          return fail("expected , or ] in the list, found \"" + restOfLine() + "\"");
        ++at_;
        if (!skipListSpace(opened))
          return false;
        if (peek() == ']') {
          ++at_;
          return true;
        }
      }
      if (peek() == '[')
        return fail("lists inside lists are not read");
      std::string value;
      if (!scalar(true, value))
        return false;
      values.push_back(value);
    }
  }

  // Spaces, comments and line ends between the items of a list.
  bool skipListSpace(int opened) {
    for (;;) {
      skipSpaces();
      if (atComment())
        skipToLineEnd();
      if (at_ >= text_.size())
        return failAt(opened, "the list is not closed with ]");
      if (!atLineEnd())
        return true;
      nextLine();
    }
  }

  bool scalar(bool inList, std::string &value) {
    if (peek() == '"' || peek() == '\'')
      return quoted(value);
    return toml_ ? tomlBare(value) : iniBare(inList, value);
  }

  // An unquoted INI value runs to the line end or a comment, in a list to the next , or ].
  bool iniBare(bool inList, std::string &value) {
    const size_t start = at_;
    while (!atLineEnd() && !atComment() && !(inList && (peek() == ',' || peek() == ']')))
      ++at_;
    value = trimmedRight(text_.substr(start, at_ - start));
    if (inList && value.empty())
      return fail("an empty item in the list");
    return true;
  }

  // Bare TOML values are booleans and numbers; they are passed on as written, less the digit
  // separators (1_000 is 1000).
  bool tomlBare(std::string &value) {
    static const std::regex number("[+-]?(inf|nan|0x[0-9A-Fa-f_]+|0o[0-7_]+|0b[01_]+|[0-9_]+(\\.[0-"
                                   "9_]+)?([eE][+-]?[0-9_]+)?)");
    const size_t start = at_;
    while (!atLineEnd() && peek() != ' ' && peek() != '\t' && peek() != ',' && peek() != ']' &&
           peek() != '#')
      ++at_;
    const std::string token = text_.substr(start, at_ - start);
    if (token == "true" || token == "false") {
      value = token;
      return true;
    }
    if (!token.empty() && std::regex_match(token, number)) {
      value.clear();
      for (char c : token)
        if (c != '_')
          value += c;
      return true;
    }
    at_ = start;
    return fail("text values are written in quotes in TOML: \"" + restOfLine() + "\"");
  }

  // "..." (with escapes) or '...' (as written). INI knows only \" and \\ as escapes, so that
  // Windows paths keep their backslashes.
  bool quoted(std::string &value) {
    const char quote = peek();
    if (toml_ && peek(1) == quote && peek(2) == quote)
      return fail("multi-line strings are not read");
    ++at_;
    value.clear();
    for (;;) {
      if (atLineEnd())
        return fail(std::string("the quote ") + quote + " is not closed on its line");
      const char c = text_[at_++];
      if (c == quote)
        return true;
      if (c != '\\' || quote == '\'') {
        value += c;
      } else if (!toml_) {
        const bool escape = peek() == '"' || peek() == '\\';
        value += escape ? text_[at_++] : c;
      } else if (!tomlEscape(value)) {
        return false;
      }
    }
  }

  bool tomlEscape(std::string &value) {
    const char c = peek();
    static const std::string from = "btnfr\"\\", to = "\b\t\n\f\r\"\\";
    const size_t simple = from.find(c);
    if (c != '\0' && simple != std::string::npos) {
      value += to[simple];
      ++at_;
      return true;
    }
    const int digits = c == 'u' ? 4 : c == 'U' ? 8 : 0;
    const std::string hex = text_.substr(at_ + 1, digits);
    bool ok = digits > 0 && int(hex.size()) == digits;
    for (char h : hex)
      ok = ok && std::isxdigit(static_cast<unsigned char>(h));
    const unsigned long code = ok ? std::strtoul(hex.c_str(), nullptr, 16) : 0;
    if (!ok || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return fail("unknown escape \"\\" + (digits ? c + hex : std::string(1, c)) +
                  "\" in a string");
    appendUtf8(value, code);
    at_ += 1 + digits;
    return true;
  }

  const std::string &text_;
  const bool toml_;
  const std::string section_;
  size_t at_ = 0;
  int line_ = 1;
  bool sectionOpened_ = false;
  ConfigProblem problem_;
};

} // namespace

ConfigSyntax configSyntaxFor(const std::string &path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char &c : extension)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".toml" ? ConfigSyntax::Toml : ConfigSyntax::Ini;
}

bool parseConfigText(const std::string &text, ConfigSyntax syntax, const std::string &section,
                     std::vector<ConfigEntry> &entries, ConfigProblem &problem) {
  entries.clear();
  // A byte-order mark, as some Windows editors write, is not part of the first line.
  const std::string body = text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
  return checkText(body, problem) && Parser(body, syntax, section).run(entries, problem);
}

bool readConfigFile(const std::string &path, const std::string &section,
                    std::vector<ConfigEntry> &entries, std::string &error) {
  namespace fs = std::filesystem;
  std::error_code code;
  const fs::file_status status = fs::status(path, code);
  if (code) {
    error = path + ": cannot open the file (" + code.message() + ")";
    return false;
  }
  if (!fs::is_regular_file(status)) {
    error = path + ": not a settings file (" +
            (fs::is_directory(status) ? "a folder" : "not a regular file") + ")";
    return false;
  }
  const std::uintmax_t size = fs::file_size(path, code);
  if (!code && size > kMaxConfigBytes) {
    error = path + ": not a settings file (" + std::to_string(size) + " bytes)";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.is_open() || file.bad()) {
    error = path + ": cannot read the file";
    return false;
  }
  ConfigProblem problem;
  if (!parseConfigText(text, configSyntaxFor(path), section, entries, problem)) {
    error = path + ":" + std::to_string(problem.line) + ": " + problem.message;
    return false;
  }
  return true;
}

} // namespace ekrender
