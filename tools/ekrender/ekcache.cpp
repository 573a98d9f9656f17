// ekcache: writes a synthetic particle cache sequence, a swirl of moving points, one file per
// frame as simulation tools export them, to try ekrender's sequences and farm setups:
//   ekcache --output cache/swirl.####.vdb --start 1 --end 24 --points 5000
#include <cstdio>
#include <new>
#include <string>

#include <CLI/CLI.hpp>

#include "frame_pattern.h"
#include "memory_budget.h"
#include "platform/program_files.h"
#include "synthetic_cache.h"

namespace {

// Writes frames start to end; 0, or 1 with a message.
int writeFrames(const std::string &output, const ekrender::FramePattern *pattern, bool vdb,
                int start, int end, uint64_t count) {
  // A frame's points, and the writer's copy of them, at most as large.
  const uint64_t needed = 2 * count * sizeof(ekrender::CachePoint);
  const std::string what = "a frame of " + std::to_string(count) + " points";
  if (const std::string shortfall = ekrender::memoryShortfall(needed, what); !shortfall.empty()) {
    std::fprintf(stderr, "ekcache: %s: use fewer --points\n", shortfall.c_str());
    return 1;
  }
  for (int frame = start;; ++frame) {
    const std::string path = pattern ? pattern->name(frame) : output;
    std::string error;
    try {
      const auto points = ekrender::swirlPoints(count, frame);
      if (!(vdb ? ekrender::writeVdbCache(path, points, error)
                : ekrender::writePlyCache(path, points, error))) {
        std::fprintf(stderr, "ekcache: %s\n", error.c_str());
        return 1;
      }
    } catch (const std::bad_alloc &) {
      std::fprintf(stderr, "ekcache: %s: out of memory for %s: use fewer --points\n", path.c_str(),
                   what.c_str());
      return 1;
    }
    if (frame == end)
      return 0;
  }
}

} // namespace

int main(int argc, char **argv) {
  ek::platform::flushOutputByLine();
  CLI::App app("Writes a synthetic particle cache sequence (.vdb or binary .ply).", "ekcache");
  std::string output;
  int start = 1, end = 1;
  uint64_t count = 5000;
  app.add_option("--output", output,
                 "file pattern, a run of # for the frame number (e.g. cache/swirl.####.vdb)")
      ->required();
  app.add_option("--start", start, "first frame");
  app.add_option("--end", end, "last frame");
  app.add_option("--points", count, "points per frame")
      ->check(CLI::Range(uint64_t(1), uint64_t(1) << 32));
  CLI11_PARSE(app, argc, argv);
  ekrender::FramePattern pattern;
  const bool sequence = ekrender::findFramePattern(output, pattern);
  if (end < start || (!sequence && end != start)) {
    std::fprintf(stderr, "ekcache: several frames need a # pattern and an end after the start\n");
    return 2;
  }
  const bool vdb = output.size() > 4 && output.compare(output.size() - 4, 4, ".vdb") == 0;
  const bool ply = output.size() > 4 && output.compare(output.size() - 4, 4, ".ply") == 0;
  if (!vdb && !ply) {
    std::fprintf(stderr, "ekcache: the output must end in .vdb or .ply\n");
    return 2;
  }
  if (const int status = writeFrames(output, sequence ? &pattern : nullptr, vdb, start, end, count))
    return status;
  std::printf("ekcache: %lld frame%s of %llu points\n", (long long)end - start + 1,
              end > start ? "s" : "", (unsigned long long)count);
  return 0;
}
