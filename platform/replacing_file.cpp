#include "platform/replacing_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <limits>

#include "platform/file_open.h"

#include "platform/windows_api.h"

#if !defined(_WIN32)
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ek::platform {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kNameBytes = 64; // of the target's name in a temporary name
constexpr const char *kTemporaryEnd = ".tmp";

int errorOr(int fallback) { return errno != 0 ? errno : fallback; }

unsigned long processId() {
#if defined(_WIN32)
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

// Splits a path into its folder, with the separator ("" for a bare file name), and the name.
void splitPath(const std::string &path, std::string &folder, std::string &name) {
#if defined(_WIN32)
  const std::size_t slash = path.find_last_of("/\\");
#else
  const std::size_t slash = path.find_last_of('/');
#endif
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  folder = path.substr(0, nameStart);
  name = path.substr(nameStart);
}

// Where a write of the UTF-8 path goes: a link is followed, so that the file it points to is
// replaced rather than the link.
std::string resolvedTarget(const char *utf8Path) {
#if !defined(_WIN32)
  char resolved[PATH_MAX];
  if (realpath(utf8Path, resolved) != nullptr) {
    return resolved;
  }
#endif
  return utf8Path;
}

// ".ek-write-NAME.", the start of every temporary name of the target NAME; a long NAME is cut
// before a character, not inside one.
std::string temporaryPrefix(const std::string &target) {
  std::size_t end = std::min(target.size(), kNameBytes);
  while (end < target.size() && end > 0 &&
         (static_cast<unsigned char>(target[end]) & 0xC0) == 0x80) {
    --end;
  }
  return ".ek-write-" + target.substr(0, end) + ".";
}

// The start of the temporary names this process gives the target.
std::string ownPrefix(const std::string &target) {
  return temporaryPrefix(target) + std::to_string(processId()) + "-";
}

// A temporary name for the target that no other writer picks at the same time: the process, and
// a counter and the clock mixed into eight base-32 digits.
std::string temporaryName(const std::string &target) {
  static std::atomic<uint64_t> counter{0};
  uint64_t mix = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  mix ^= (counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ull;
  mix ^= mix >> 29;
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
  std::string name = ownPrefix(target);
  for (int i = 0; i < 8; ++i, mix >>= 5) {
    name += kDigits[mix & 31];
  }
  return name + kTemporaryEnd;
}

fs::path fromUtf8(const std::string &text) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t *>(text.data()), text.size()));
}

// Removes the files of the folder whose names start with `prefix` and end in ".tmp", those last
// written at least `age` ago.
void removeTemporaryFiles(const std::string &folder, const std::string &prefix,
                          fs::file_time_type::duration age) {
  std::error_code error;
  fs::directory_iterator entry(fromUtf8(folder.empty() ? "." : folder), error);
  const fs::file_time_type now = fs::file_time_type::clock::now();
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const std::u8string wide = entry->path().filename().u8string();
    const std::string name(wide.begin(), wide.end());
    if (name.size() < prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, kTemporaryEnd) != 0) {
      continue;
    }
    std::error_code ignored;
    const fs::file_time_type written = fs::last_write_time(entry->path(), ignored);
    if (!ignored && now - written >= age) {
      fs::remove(entry->path(), ignored);
    }
  }
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
#if defined(_WIN32)
    removeFile((folder_ + temporary_).c_str());
#else
    // Relative to the folder as it was opened, which finds the file also in a moved folder.
    ::unlinkat(folderHandle_, temporary_.c_str(), 0);
#endif
  }
  temporary_.clear();
#if !defined(_WIN32)
  if (folderHandle_ >= 0) {
    ::close(folderHandle_);
  }
#endif
  folderHandle_ = -1;
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
  const std::string path = resolvedTarget(utf8Path);
  splitPath(path, folder_, target_);
  [[maybe_unused]] int mode = -1; // the mode of a replaced file, kept by its replacement
#if !defined(_WIN32)
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) {
      errno = 0;
      file_ = std::fopen(path.c_str(), "wb");
      return file_ != nullptr ? 0 : errorOr(EIO);
    }
    // A file that may not be written is not replaced either.
    if (::access(path.c_str(), W_OK) != 0) {
      return errorOr(EACCES);
    }
    mode = int(existing.st_mode & 07777);
  }
#endif
  removeTemporaryFiles(folder_, temporaryPrefix(target_), kAbandonedAfter);
  const std::string temporary = temporaryName(target_);
  if (utf16Length((folder_ + temporary).c_str()) > kMaxPathUnits) {
    return ENAMETOOLONG;
  }
  errno = 0;
#if defined(_WIN32)
  file_ = openForWriting((folder_ + temporary).c_str());
#else
  folderHandle_ =
      ::open(folder_.empty() ? "." : folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderHandle_ < 0) {
    return errorOr(EIO);
  }
  const int handle =
      ::openat(folderHandle_, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (handle >= 0) {
    temporary_ = temporary; // from here on, a failure removes it
    file_ = ::fdopen(handle, "wb");
    if (file_ == nullptr) {
      ::close(handle);
    }
  }
#endif
  if (file_ == nullptr) {
    const int error = errorOr(EIO);
    discard();
    return error;
  }
  temporary_ = temporary;
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

int ReplacingFile::seek(uint64_t offset) {
  if (file_ == nullptr) {
    return EBADF;
  }
  errno = 0;
#if defined(_WIN32)
  if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    return EOVERFLOW;
  }
  return _fseeki64(file_, static_cast<int64_t>(offset), SEEK_SET) == 0 ? 0 : errorOr(EIO);
#else
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
    return EOVERFLOW;
  }
  return ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0 ? 0 : errorOr(EIO);
#endif
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
#if defined(_WIN32)
  const int error = replaceFile((folder_ + temporary_).c_str(), (folder_ + target_).c_str());
#else
  // The folder must still be where the target's path leads: renamed within a folder that was
  // moved away meanwhile, the image would end up where nobody asked for it.
  struct stat opened {
  }, named{};
  int error = 0;
  if (::fstat(folderHandle_, &opened) != 0 ||
      ::stat(folder_.empty() ? "." : folder_.c_str(), &named) != 0 ||
      opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
    error = ENOENT;
  } else if (::renameat(folderHandle_, temporary_.c_str(), folderHandle_, target_.c_str()) != 0) {
    error = errorOr(EIO);
  }
#endif
  if (error != 0) {
    discard();
    return error;
  }
  temporary_.clear();
  discard();
  return 0;
}

void removeOwnTemporaryFiles(const char *utf8Target) {
  if (utf8Target == nullptr || utf8Target[0] == '\0') {
    return;
  }
  std::string folder, target;
  splitPath(resolvedTarget(utf8Target), folder, target);
  removeTemporaryFiles(folder, ownPrefix(target), fs::file_time_type::duration::zero());
}

} // namespace ek::platform
