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

// Creates or truncates the file at the UTF-8 path for binary writing. Returns null, with errno
// saying why, when the path is null or empty (EINVAL), longer than kMaxPathUnits (ENAMETOOLONG)
// or cannot be opened. Close the result with fclose.
std::FILE *openForWriting(const char *utf8Path);

// Moves the file at one UTF-8 path over another, replacing it in one step. Returns 0 or the
// system's error number.
int replaceFile(const char *fromUtf8, const char *toUtf8);

// Removes the file at the UTF-8 path; a failure is ignored.
void removeFile(const char *utf8Path);

} // namespace ek::platform
