#include "interruption.h"

#include "platform/replacing_file.h"

#if !defined(_WIN32)
#include <csignal>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#endif

namespace ekrender {

void WritesInProgress::begin(const std::string &target) {
  std::unique_lock<std::mutex> lock(mutex_);
  resumed_.wait(lock, [this] { return !abandoned_; });
  targets_.insert(target);
}

void WritesInProgress::end(const std::string &target) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (const auto found = targets_.find(target); found != targets_.end())
    targets_.erase(found);
}

void WritesInProgress::abandon() {
  const std::lock_guard<std::mutex> lock(mutex_);
  abandoned_ = true;
  for (const std::string &target : targets_)
    ek::platform::removeOwnTemporaryFiles(target.c_str());
}

#if defined(_WIN32)

void endCleanlyOnSignals(WritesInProgress &) {}

#else

void endCleanlyOnSignals(WritesInProgress &writes) {
  sigset_t watched;
  sigemptyset(&watched);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
      sigaddset(&watched, signal);
  }
  pthread_sigmask(SIG_BLOCK, &watched, nullptr);
  try {
    std::thread([watched, &writes] {
      int signal = 0;
      while (sigwait(&watched, &signal) != 0) {
      }
      writes.abandon();
      // Ends the process as the signal would have, so that its parent sees why.
      std::signal(signal, SIG_DFL);
      sigset_t only;
      sigemptyset(&only);
      sigaddset(&only, signal);
      pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
      raise(signal);
      _exit(128 + signal);
    }).detach();
  } catch (const std::system_error &) {
    // Without a thread to wait for them the signals end the run at once, as they do by default.
    pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
  }
}

#endif

} // namespace ekrender
