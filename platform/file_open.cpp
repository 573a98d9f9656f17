#include "platform/file_open.h"

#include <cerrno>
#include <cstdint>

#include "platform/windows_api.h"

namespace ek::platform {

namespace {

// Length of the UTF-8 sequence that starts with `lead` (0 for a byte that cannot start one) and the
// smallest code point it may encode, so that overlong forms count as malformed.
struct SequenceInfo {
  int length;
  uint32_t minimum;
};

SequenceInfo sequenceInfo(unsigned char lead) {
  if (lead < 0x80) {
    return {1, 0};
  }
  if ((lead & 0xE0) == 0xC0) {
    return {2, 0x80};
  }
  if ((lead & 0xF0) == 0xE0) {
    return {3, 0x800};
  }
  if ((lead & 0xF8) == 0xF0) {
    return {4, 0x10000};
  }
  return {0, 0};
}

} // namespace

std::size_t utf16Length(const char *utf8) {
  const auto *p = reinterpret_cast<const unsigned char *>(utf8);
  std::size_t units = 0;
  while (*p != 0) {
    const SequenceInfo info = sequenceInfo(*p);
    uint32_t codePoint = info.length == 1 ? *p : (*p & (0x7Fu >> info.length));
    bool wellFormed = info.length > 0;
    for (int i = 1; wellFormed && i < info.length; ++i) {
      if ((p[i] & 0xC0) != 0x80) {
        wellFormed = false; // also stops at the terminator, which is not a continuation byte
      } else {
        codePoint = (codePoint << 6) | (p[i] & 0x3Fu);
      }
    }
    if (wellFormed && info.length > 1 &&
        (codePoint < info.minimum || codePoint > 0x10FFFF ||
         (codePoint >= 0xD800 && codePoint <= 0xDFFF))) {
      wellFormed = false;
    }
    if (wellFormed) {
      units += codePoint >= 0x10000 ? 2 : 1;
      p += info.length;
    } else {
      units += 1;
      p += 1;
    }
  }
  return units;
}

#if defined(_WIN32)
namespace {

// Converts a UTF-8 path into the zero-filled buffer, so that the result is terminated whatever the
// conversion writes; a path that does not fit makes the conversion fail and return false.
bool widen(const char *utf8Path, wchar_t (&widePath)[kMaxPathUnits + 1]) {
  return MultiByteToWideChar(CP_UTF8, 0, utf8Path, -1, widePath,
                             static_cast<int>(kMaxPathUnits + 1)) != 0;
}

} // namespace
#endif

std::FILE *openForWriting(const char *utf8Path) {
  if (utf8Path == nullptr || utf8Path[0] == '\0') {
    errno = EINVAL;
    return nullptr;
  }
#if defined(_WIN32)
  wchar_t widePath[kMaxPathUnits + 1] = {};
  if (!widen(utf8Path, widePath)) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  return _wfopen(widePath, L"wb");
#else
  if (utf16Length(utf8Path) > kMaxPathUnits) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  return std::fopen(utf8Path, "wb");
#endif
}

int replaceFile(const char *fromUtf8, const char *toUtf8) {
#if defined(_WIN32)
  wchar_t from[kMaxPathUnits + 1] = {};
  wchar_t to[kMaxPathUnits + 1] = {};
  if (!widen(fromUtf8, from) || !widen(toUtf8, to)) {
    return ENAMETOOLONG;
  }
  if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  switch (GetLastError()) {
  case ERROR_ACCESS_DENIED:
    return EACCES;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return ENOSPC;
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    return ENOENT;
  default:
    return EIO;
  }
#else
  return std::rename(fromUtf8, toUtf8) == 0 ? 0 : (errno != 0 ? errno : EIO);
#endif
}

void removeFile(const char *utf8Path) {
#if defined(_WIN32)
  wchar_t widePath[kMaxPathUnits + 1] = {};
  if (widen(utf8Path, widePath)) {
    _wremove(widePath);
  }
#else
  std::remove(utf8Path);
#endif
}

} // namespace ek::platform
