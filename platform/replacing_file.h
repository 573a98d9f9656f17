// Output files that replace their target only when complete.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ek::platform {

// A temporary file of a target that has not been written to for this long belongs to a write
// that died (a process killed with SIGKILL, a machine that went down): the next write of the same
// target removes it. A live write adds to its file all the time, so it never looks this old.
constexpr std::chrono::minutes kAbandonedAfter{2};

// A file written under a temporary name in the target's folder and renamed over the target once
// it is complete and closed without error. A failure on the way (a full disk, a process killed
// half way) leaves a previous file at the target untouched; the temporary file is removed on every
// failure the program lives to see, also when the target's folder was moved away meanwhile (the
// write then fails with ENOENT rather than put its file into the moved folder). On POSIX systems a
// target that exists but is not a regular file (a device such as /dev/full, a pipe) is written in
// place, since there is nothing to keep, and a link is followed to the file it names.
//
// The temporary file is ".ek-write-NAME.PID-TOKEN.tmp": NAME is the target's file name (its first
// 64 bytes), PID the writing process. Opening a target removes the temporary files of the same
// NAME in its folder left older than kAbandonedAfter.
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
  // Moves the write position to `offset` bytes from the file's start; what was written stays.
  // For formats whose first bytes say where the later ones are, known only once those are
  // written. Fails (ESPIPE) where the target is written in place and cannot seek, such as a pipe.
  int seek(uint64_t offset);
  // Closes the file and puts it in place of the target.
  int commit();

private:
  void discard();

  std::FILE *file_ = nullptr;
  std::string folder_;    // the target's folder, with its separator ("" for the current one)
  std::string target_;    // the target's name in its folder
  std::string temporary_; // the temporary file's name in the folder; empty when writing in place
  int folderHandle_ = -1; // POSIX: the folder, open, so that a moved folder is still found
};

// Removes the temporary files that this process is writing for the target at the UTF-8 path. For
// a program that ends on a signal while it writes: call it from an ordinary thread (it is not safe
// in a signal handler), then end. The write it cuts short fails.
void removeOwnTemporaryFiles(const char *utf8Target);

} // namespace ek::platform
