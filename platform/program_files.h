// Where the running program lies, and its command line as UTF-8 texts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ek::platform {

// Full path of the running program's executable file; empty when the system does not tell.
std::filesystem::path executablePath();

// The program's arguments as UTF-8 texts, the program's name first, and as the array of C strings
// that option parsers take. Windows hands main() its arguments in the system's ANSI code page,
// which cannot hold every file name, so there they are read again from the wide command line;
// elsewhere they are argv as it is. The array points into the texts, so neither is copied.
class Utf8Arguments {
public:
  Utf8Arguments(int argc, char **argv);
  Utf8Arguments(const Utf8Arguments &) = delete;
  Utf8Arguments &operator=(const Utf8Arguments &) = delete;

  const std::vector<std::string> &texts() const { return texts_; }
  int count() const { return static_cast<int>(values_.size()); }
  const char *const *values() const { return values_.data(); }

private:
  std::vector<std::string> texts_;
  std::vector<const char *> values_;
};

// Makes standard output write every line as it is finished, also when it is a file or a pipe,
// where the C library would otherwise hold several kilobytes back: a log of a program that is
// killed then still holds every line it printed. Call before the first output.
void flushOutputByLine();

} // namespace ek::platform
