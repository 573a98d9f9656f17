// Where the running program lies, and its command line as UTF-8 texts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ek::platform {

// Full path of the running program's executable file; empty when the system does not tell.
std::filesystem::path executablePath();

// The program's arguments as UTF-8 texts, the program's name first. Windows hands main() its
// arguments in the system's ANSI code page, which cannot hold every file name, so there they are
// read again from the wide command line; elsewhere they are argv as it is.
std::vector<std::string> utf8Arguments(int argc, char **argv);

// Makes standard output write every line as it is finished, also when it is a file or a pipe,
// where the C library would otherwise hold several kilobytes back: a log of a program that is
// killed then still holds every line it printed. Call before the first output.
void flushOutputByLine();

} // namespace ek::platform
