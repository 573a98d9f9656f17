// Opening output files by UTF-8 path on every platform.
#pragma once

#include <cstddef>
#include <cstdio>

namespace ek::platform {

// Longest path accepted, in UTF-16 code units without the terminator. Windows converts the path
// into a fixed buffer of 2048 wide characters; POSIX keeps the same limit so that a path behaves
// the same everywhere.
constexpr std::size_t kMaxPathUnits = 2047;

// Number of UTF-16 code units the NUL-terminated UTF-8 text needs: one per character, two for a
// character beyond U+FFFF, and one for every byte that is not part of a well-formed sequence (the
// replacement character a conversion puts in its place).
std::size_t utf16Length(const char *utf8);

// Creates or truncates the file at the UTF-8 path for binary writing. Returns null when the path
// is null, empty, longer than kMaxPathUnits or cannot be opened. Close the result with fclose.
std::FILE *openForWriting(const char *utf8Path);

} // namespace ek::platform
