#include "platform/dynamic_library.h"

#include "platform/file_open.h"

#include "platform/windows_api.h"

#if !defined(_WIN32)
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#endif

namespace ek::platform {

#if defined(_WIN32)

namespace {

// The system's description of an error number, as UTF-8 without the line end it carries.
std::string systemMessage(DWORD error) {
  wchar_t *text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  std::string message;
  if (length > 0) {
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    message.resize(size_t(bytes));
    WideCharToMultiByte(CP_UTF8, 0, text, int(length), message.data(), bytes, nullptr, nullptr);
  }
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message;
}

} // namespace

LoadResult loadLibrary(const char *utf8Path) {
  LoadResult result;
  if (utf8Path == nullptr || utf8Path[0] == '\0') {
    result.status = LoadStatus::PathNotConvertible;
    return result;
  }
  // Zero-filled so that the text is terminated whatever the conversion writes; a path that does
  // not fit makes the conversion return 0.
  wchar_t widePath[kMaxLibraryPathUnits] = {};
  if (MultiByteToWideChar(CP_UTF8, 0, utf8Path, -1, widePath,
                          static_cast<int>(kMaxLibraryPathUnits)) == 0) {
    result.status = LoadStatus::PathNotConvertible;
    return result;
  }
  HMODULE module = LoadLibraryExW(widePath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    result.status = LoadStatus::LoadFailed;
    result.errorCode = GetLastError();
    result.detail = systemMessage(DWORD(result.errorCode));
    return result;
  }
  result.status = LoadStatus::Loaded;
  result.handle = module;
  return result;
}

void *findSymbol(LibraryHandle library, const char *name) {
  if (library == nullptr || name == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(LibraryHandle library) {
  if (library != nullptr) {
    FreeLibrary(static_cast<HMODULE>(library));
  }
}

std::string sharedLibraryFileName(const std::string &stem) { return stem + ".dll"; }

#else

namespace {

constexpr unsigned long kErrorAccessDenied = 5;

bool contains(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

// Windows error number for a failed dlopen. The file itself is examined first; a file that exists
// but cannot be loaded is classified by the loader's description.
unsigned long classifyLoadFailure(const char *path, const std::string &detail) {
  struct stat info {};
  if (stat(path, &info) != 0) {
    return errno == EACCES ? kErrorAccessDenied : kErrorModuleNotFound;
  }
  if (contains(detail, "Permission denied")) {
    return kErrorAccessDenied;
  }
  if (contains(detail, "cannot open shared object file")) {
    return kErrorModuleNotFound; // a dependency of the library is missing
  }
  if (contains(detail, "undefined symbol")) {
    return kErrorProcedureNotFound;
  }
  return kErrorBadFormat;
}

} // namespace

LoadResult loadLibrary(const char *utf8Path) {
  LoadResult result;
  // Paths travel unchanged on POSIX; the length limit mirrors the Windows conversion buffer so a
  // path behaves the same everywhere.
  if (utf8Path == nullptr || utf8Path[0] == '\0' ||
      utf16Length(utf8Path) + 1 > kMaxLibraryPathUnits) {
    result.status = LoadStatus::PathNotConvertible;
    return result;
  }
  dlerror(); // clear a stale message
  void *handle = dlopen(utf8Path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *message = dlerror();
    result.status = LoadStatus::LoadFailed;
    result.detail = message != nullptr ? message : "";
    result.errorCode = classifyLoadFailure(utf8Path, result.detail);
    return result;
  }
  result.status = LoadStatus::Loaded;
  result.handle = handle;
  return result;
}

void *findSymbol(LibraryHandle library, const char *name) {
  if (library == nullptr || name == nullptr) {
    return nullptr;
  }
  return dlsym(library, name);
}

void freeLibrary(LibraryHandle library) {
  if (library != nullptr) {
    dlclose(library);
  }
}

std::string sharedLibraryFileName(const std::string &stem) {
#if defined(__APPLE__)
  return "lib" + stem + ".dylib";
#else
  return "lib" + stem + ".so";
#endif
}

#endif

} // namespace ek::platform
