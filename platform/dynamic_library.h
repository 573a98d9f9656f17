// Loading shared libraries at run time by UTF-8 path, resolving exports by name and unloading.
#pragma once

#include <cstdint>
#include <string>

namespace ek::platform {

// Opaque handle of a loaded library; null when nothing is loaded.
using LibraryHandle = void *;

// Windows system error numbers. The POSIX implementation reports the same numbers where the
// meaning is the same, so that messages read alike on every platform.
constexpr unsigned long kErrorModuleNotFound =
    126; // the file or one of its dependencies is missing
constexpr unsigned long kErrorProcedureNotFound =
    127;                                       // an import of the library cannot be resolved
constexpr unsigned long kErrorBadFormat = 193; // the file is not a loadable library

// Longest path a library may be loaded from, in UTF-16 code units including the terminator.
constexpr std::size_t kMaxLibraryPathUnits = 1024;

enum class LoadStatus {
  Loaded,
  PathNotConvertible, // empty, too long for kMaxLibraryPathUnits, or not convertible to UTF-16
  LoadFailed,         // the system refused the file; errorCode tells why
};

struct LoadResult {
  LoadStatus status = LoadStatus::LoadFailed;
  LibraryHandle handle = nullptr;
  unsigned long errorCode = 0; // meaningful for LoadFailed
  std::string detail;          // the system's own description of a failure, for diagnostics
};

// Loads the library at the UTF-8 path. Its own dependencies are searched in its folder first on
// Windows (LOAD_WITH_ALTERED_SEARCH_PATH); POSIX resolves them through the usual search rules.
LoadResult loadLibrary(const char *utf8Path);

// Address of the exported function `name`, or null when the library does not export it.
void *findSymbol(LibraryHandle library, const char *name);

// Unloads a library returned by loadLibrary. A null handle is ignored.
void freeLibrary(LibraryHandle library);

// File name of the shared library with the given stem on this platform: "emberkit.dll" on
// Windows, "libemberkit.dylib" on macOS, "libemberkit.so" elsewhere.
std::string sharedLibraryFileName(const std::string &stem);

} // namespace ek::platform
