#include "platform/replacing_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "platform/file_open.h"

#include "platform/windows_api.h"

#if !defined(_WIN32)
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ek::platform {

namespace {

int errorOr(int fallback) { return errno != 0 ? errno : fallback; }

// The folder part of a path, with its separator ("" for a bare file name).
std::string folderOf(const std::string &path) {
#if defined(_WIN32)
  const std::size_t slash = path.find_last_of("/\\");
#else
  const std::size_t slash = path.find_last_of('/');
#endif
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A temporary file name in the folder that no other writer picks at the same time: the process,
// a counter and the clock, mixed into ten base-32 digits.
std::string temporaryName(const std::string &folder) {
  static std::atomic<uint64_t> counter{0};
  uint64_t mix = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
#if defined(_WIN32)
  mix ^= uint64_t(GetCurrentProcessId()) << 40;
#else
  mix ^= uint64_t(getpid()) << 40;
#endif
  mix ^= (counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ull;
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
  std::string name = folder + ".ek-write-";
  for (int i = 0; i < 10; ++i, mix >>= 5) {
    name += kDigits[mix & 31];
  }
  return name + ".tmp";
}

} // namespace

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::discard() {
  const int saved = errno;
  if (file_ != nullptr) {
    std::fclose(file_);
  }
  file_ = nullptr;
  if (!temporary_.empty()) {
    removeFile(temporary_.c_str());
  }
  temporary_.clear();
  errno = saved;
}

int ReplacingFile::open(const char *utf8Path) {
  discard();
  errno = 0;
  if (utf8Path == nullptr || utf8Path[0] == '\0') {
    return EINVAL;
  }
  if (utf16Length(utf8Path) > kMaxPathUnits) {
    return ENAMETOOLONG;
  }
  target_ = utf8Path;
  [[maybe_unused]] int mode = -1; // the mode of a replaced file, kept by its replacement
#if !defined(_WIN32)
  // A link is followed, so that the file it points to is replaced rather than the link.
  char resolved[PATH_MAX];
  if (realpath(utf8Path, resolved) != nullptr) {
    target_ = resolved;
  }
  struct stat existing {};
  if (::stat(target_.c_str(), &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) {
      errno = 0;
      file_ = std::fopen(target_.c_str(), "wb");
      return file_ != nullptr ? 0 : errorOr(EIO);
    }
    // A file that may not be written is not replaced either.
    if (::access(target_.c_str(), W_OK) != 0) {
      return errorOr(EACCES);
    }
    mode = int(existing.st_mode & 07777);
  }
#endif
  temporary_ = temporaryName(folderOf(target_));
  errno = 0;
  file_ = openForWriting(temporary_.c_str());
  if (file_ == nullptr) {
    const int error = errorOr(EIO);
    temporary_.clear();
    return error;
  }
#if !defined(_WIN32)
  if (mode >= 0) {
    ::fchmod(fileno(file_), mode_t(mode));
  }
#endif
  return 0;
}

int ReplacingFile::write(const void *data, std::size_t size) {
  if (file_ == nullptr) {
    return EBADF;
  }
  errno = 0;
  return std::fwrite(data, 1, size, file_) == size ? 0 : errorOr(EIO);
}

int ReplacingFile::commit() {
  if (file_ == nullptr) {
    return EBADF;
  }
  std::FILE *file = file_;
  file_ = nullptr;
  errno = 0;
  // Closing writes what is still buffered: a full disk often shows only here.
  if (std::fclose(file) != 0) {
    const int error = errorOr(EIO);
    discard();
    return error;
  }
  if (temporary_.empty()) {
    return 0;
  }
  const int error = replaceFile(temporary_.c_str(), target_.c_str());
  if (error != 0) {
    discard();
    return error;
  }
  temporary_.clear();
  return 0;
}

} // namespace ek::platform
