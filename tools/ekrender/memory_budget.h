// Whether the memory a job needs is there, asked before the job starts: a request the machine
// cannot hold then fails at once with the figures, instead of after seconds of allocating.
#pragma once

#include <cstdint>
#include <string>

#include "options.h"

namespace ekrender {

// Empty when `needed` bytes fit in `available`; otherwise a sentence such as "a 32768x32768
// image needs at least 32.0 GiB of memory, but only 3.1 GiB is available", `what` naming the
// request.
std::string memoryShortfall(uint64_t needed, uint64_t available, const std::string &what);

// The same against the memory this process may still allocate; empty when the system does not
// tell.
std::string memoryShortfall(uint64_t needed, const std::string &what);

// What a render of the options' image size holds in host memory at least, whatever the
// particles: `imageBuffers` frame buffers of ekrender's own, `frameFloats` floats a pixel each
// (4 for the beauty's RGBA, more with render layers), the renderer's accumulation
// image (and the volumetric depth image) when it renders on the CPU, and for a PNG the encoder's
// filtered rows and compressed stream. The renderer's per-thread images come on top where the
// particles reach them, so this is a floor, never an overestimate.
uint64_t renderHostBytes(const Options &options, OutputFormat format, int imageBuffers,
                         size_t frameFloats, bool onCpu);

} // namespace ekrender
