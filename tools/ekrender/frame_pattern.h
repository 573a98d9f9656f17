// Frame numbers in file names, as particle caches and image sequences are named: a run of '#' is
// the zero-padded frame number ("cache.####.vdb" is cache.0001.vdb for frame 1), and so is the
// "$F4" spelling ("$F" alone: no padding).
#pragma once

#include <string>

namespace ekrender {

struct FramePattern {
  std::string head, tail; // the name before and after the frame number
  int width = 0;          // zero padding; negative frames get a '-' before the padded number

  std::string name(int frame) const;
};

// The last frame pattern in the path's file name; false when it has none.
bool findFramePattern(const std::string &path, FramePattern &pattern);

// The pattern of a sequence's output: the output's own, else "_####" before its extension.
FramePattern outputPattern(const std::string &output);

} // namespace ekrender
