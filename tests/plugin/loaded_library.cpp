#include "loaded_library.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace flarion_test {

bool libraryIsLoaded(const std::filesystem::path &file) {
#if defined(_WIN32)
  // Looks the module up by its full path; the reference count stays as it is.
  return GetModuleHandleW(file.c_str()) != nullptr;
#else
  // RTLD_NOLOAD succeeds only for a loaded library, and then counts one more reference.
  void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    return false;
  }
  dlclose(handle);
  return true;
#endif
}

} // namespace flarion_test
