// The time an export spends in each of its steps.
#pragma once

namespace ek::plugin {

// Where the time of an export went, in host milliseconds, for the benchmark and the curious.
struct ExportTimings {
  double simulateMs = 0.0; // the copy's animation passes
  double readMs = 0.0;     // reading and uploading particles
  double renderMs = 0.0;
  double showMs = 0.0; // handing each image to the preview area
  double writeMs = 0.0;
  double jobMs = 0.0; // everything the job's timer steps took, the above included
};

} // namespace ek::plugin
