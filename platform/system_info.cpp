#include "platform/system_info.h"

#include "platform/windows_api.h"

#include <algorithm>

#if !defined(_WIN32)
#include <fstream>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>
#endif

namespace ek::platform {

namespace {

constexpr const char *kUnknownProcessor = "CPU";

} // namespace

#if defined(_WIN32)

std::string processorName() {
  // Windows keeps the name that the processor reports in the registry, one key per processor.
  char name[256] = {};
  DWORD size = sizeof name;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                   "ProcessorNameString", RRF_RT_REG_SZ, nullptr, name, &size) != ERROR_SUCCESS ||
      name[0] == '\0') {
    return kUnknownProcessor;
  }
  return name;
}

bool systemMemory(uint64_t *availableBytes, uint64_t *totalBytes) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) {
    return false;
  }
  *availableBytes = status.ullAvailPhys;
  *totalBytes = status.ullTotalPhys;
  return true;
}

bool allocatableMemory(uint64_t *bytes) {
  uint64_t total = 0;
  return systemMemory(bytes, &total);
}

#else

namespace {

// Reads a "Name:   1234 kB" line of /proc/meminfo; 0 when absent.
uint64_t meminfoBytes(const char *name) {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t kilobytes = 0;
  std::string unit;
  while (meminfo >> key >> kilobytes) {
    std::getline(meminfo, unit);
    if (key == name) {
      return kilobytes * 1024;
    }
  }
  return 0;
}

} // namespace

std::string processorName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos && colon + 2 <= line.size()) {
        return line.substr(colon + 2);
      }
    }
  }
  return kUnknownProcessor;
}

bool systemMemory(uint64_t *availableBytes, uint64_t *totalBytes) {
  // MemAvailable counts the page cache that can be dropped; sysinfo's free memory does not, so it
  // only stands in where /proc is missing.
  uint64_t available = meminfoBytes("MemAvailable:");
  uint64_t total = meminfoBytes("MemTotal:");
  if (total == 0) {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) {
      return false;
    }
    total = uint64_t(info.totalram) * info.mem_unit;
    available = uint64_t(info.freeram) * info.mem_unit;
  }
  *availableBytes = available;
  *totalBytes = total;
  return true;
}

bool allocatableMemory(uint64_t *bytes) {
  uint64_t available = 0, total = 0;
  if (!systemMemory(&available, &total)) {
    return false;
  }
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    // The first field of statm is the size of the address space mapped now, in pages.
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    statm >> pages;
    const uint64_t mapped = pages * uint64_t(sysconf(_SC_PAGESIZE));
    const uint64_t room = uint64_t(limit.rlim_cur) > mapped ? uint64_t(limit.rlim_cur) - mapped : 0;
    available = std::min(available, room);
  }
  *bytes = available;
  return true;
}

#endif

} // namespace ek::platform
