// What the operating system tells about the machine: the processor's name and its memory.
#pragma once

#include <cstdint>
#include <string>

namespace ek::platform {

// The processor's marketing name ("AMD EPYC 7B13", ...), or "CPU" when the system does not say.
std::string processorName();

// Physical memory in bytes: the total and the part available to new allocations. False when the
// system cannot tell.
bool systemMemory(uint64_t *availableBytes, uint64_t *totalBytes);

// Bytes this process may still allocate: the physical memory available, or less where the
// process's address-space limit (ulimit -v) leaves less room above what it already maps. False
// when the system cannot tell.
bool allocatableMemory(uint64_t *bytes);

} // namespace ek::platform
