// libFuzzer target: ekrender's PLY reader on arbitrary bytes. Any input must be read or refused
// with a message; memory errors, undefined behaviour and uncaught exceptions are findings.
#include <cstddef>
#include <cstdint>
#include <string>

#include "particle_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  ekrender::ParticleData particles;
  std::string error;
  if (!ekrender::parsePly(bytes, "fuzz.ply", particles, error) && error.empty())
    __builtin_trap(); // a refusal always says why
  return 0;
}
