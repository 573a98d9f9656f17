// Stopping ekrender with SIGINT, SIGTERM or SIGHUP while it writes a frame: the frame's temporary
// file is removed before the program ends with the signal, as if nothing had caught it.
#pragma once

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace ekrender {

// The output files being written now, for the thread that ends the run on a signal.
class WritesInProgress {
public:
  // Call before writing `target`; once abandoned, it waits until the process has ended.
  void begin(const std::string &target);
  // Call when the write of `target` has ended, successful or not.
  void end(const std::string &target);
  // Removes the temporary files of the writes in progress and lets no other write begin.
  void abandon();

private:
  std::mutex mutex_;
  std::condition_variable resumed_; // never notified: an abandoned run does not resume
  std::multiset<std::string> targets_;
  bool abandoned_ = false;
};

// Marks the write of a file in progress for as long as it lives.
class WritingFile {
public:
  WritingFile(WritesInProgress &writes, std::string target)
      : writes_(writes), target_(std::move(target)) {
    writes_.begin(target_);
  }
  ~WritingFile() { writes_.end(target_); }
  WritingFile(const WritingFile &) = delete;
  WritingFile &operator=(const WritingFile &) = delete;

private:
  WritesInProgress &writes_;
  std::string target_;
};

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread started after
// it, and waits for them on a thread of its own: on one it abandons `writes`, then ends the
// process with that signal. A signal ignored when the program started (as a shell ignores SIGINT
// for a job it starts in the background) stays ignored. Call at the start of main, before any
// other thread starts. Windows has none of these signals, so there it does nothing: a run stopped
// with Ctrl+C may leave a temporary file, which the next write of that frame removes once it is
// abandoned.
void endCleanlyOnSignals(WritesInProgress &writes);

} // namespace ekrender
