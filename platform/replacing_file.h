// Output files that replace their target only when complete.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace ek::platform {

// A file written under a temporary name in the target's folder and renamed over the target once
// it is complete and closed without error. A failure on the way (a full disk, a process killed
// half way) leaves a previous file at the target untouched; the temporary file is removed on every
// failure the program lives to see. On POSIX systems a target that exists but is not a regular
// file (a device such as /dev/full, a pipe) is written in place, since there is nothing to keep,
// and a link is followed to the file it names.
//
// Every operation returns 0 or the system's error number (errno), so callers can say why.
class ReplacingFile {
public:
  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile &) = delete;
  ReplacingFile &operator=(const ReplacingFile &) = delete;
  // A file that was opened but not committed is closed and its temporary file removed.
  ~ReplacingFile();

  // Opens the file for binary writing at a NUL-terminated UTF-8 path. Refuses a null or empty
  // path (EINVAL) and one longer than kMaxPathUnits UTF-16 units (ENAMETOOLONG).
  int open(const char *utf8Path);
  // The open stream, for writing and buffering; null before open and after commit.
  std::FILE *stream() const { return file_; }
  // Writes all `size` bytes.
  int write(const void *data, std::size_t size);
  // Closes the file and puts it in place of the target.
  int commit();

private:
  void discard();

  std::FILE *file_ = nullptr;
  std::string target_;    // the path the file ends up at
  std::string temporary_; // empty when writing the target in place
};

} // namespace ek::platform
