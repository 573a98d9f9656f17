// ekcache: writes a synthetic particle cache sequence, a swirl of moving points, one file per
// frame as simulation tools export them, to try ekrender's sequences and farm setups:
//   ekcache --output cache/swirl.####.vdb --start 1 --end 24 --points 5000
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "frame_pattern.h"
#include "synthetic_cache.h"

int main(int argc, char **argv) {
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
  for (int frame = start; frame <= end; ++frame) {
    const std::string path = sequence ? pattern.name(frame) : output;
    const auto points = ekrender::swirlPoints(count, frame);
    std::string error;
    if (!(vdb ? ekrender::writeVdbCache(path, points, error)
              : ekrender::writePlyCache(path, points, error))) {
      std::fprintf(stderr, "ekcache: %s\n", error.c_str());
      return 1;
    }
  }
  std::printf("ekcache: %d frame%s of %llu points\n", end - start + 1, end > start ? "s" : "",
              (unsigned long long)count);
  return 0;
}
