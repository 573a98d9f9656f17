#include "platform/program_files.h"

#include <cstdio>

#include "platform/windows_api.h"
#if defined(_WIN32)
// After windows.h, whose types it uses.
#include <shellapi.h>
#endif

namespace ek::platform {

#if defined(_WIN32)

namespace {

// Longest executable path asked for, in UTF-16 code units (the system's own limit).
constexpr DWORD kMaxExecutablePathUnits = 32768;

std::string utf8FromWide(const wchar_t *text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) {
    return std::string();
  }
  std::string result(size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), bytes, nullptr, nullptr);
  result.resize(size_t(bytes) - 1); // without the terminator
  return result;
}

} // namespace

std::filesystem::path executablePath() {
  std::wstring path(kMaxExecutablePathUnits, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kMaxExecutablePathUnits);
  if (length == 0 || length >= kMaxExecutablePathUnits) {
    return std::filesystem::path();
  }
  path.resize(length);
  return std::filesystem::path(path);
}

namespace {

std::vector<std::string> argumentTexts(int argc, char **argv) {
  int count = 0;
  wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr || count != argc) {
    // Not the command line this program was started with: keep what main() received.
    arguments.assign(argv, argv + argc);
  } else {
    for (int i = 0; i < count; ++i) {
      arguments.push_back(utf8FromWide(wide[i]));
    }
  }
  LocalFree(wide);
  return arguments;
}

} // namespace

#else

std::filesystem::path executablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : path;
}

namespace {

std::vector<std::string> argumentTexts(int argc, char **argv) {
  return std::vector<std::string>(argv, argv + argc);
}

} // namespace

#endif

Utf8Arguments::Utf8Arguments(int argc, char **argv) : texts_(argumentTexts(argc, argv)) {
  values_.reserve(texts_.size());
  for (const std::string &text : texts_) {
    values_.push_back(text.c_str());
  }
}

void flushOutputByLine() {
#if defined(_WIN32)
  // The Windows C library takes line buffering for full buffering, so there every write goes
  // out at once.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
#endif
}

} // namespace ek::platform
