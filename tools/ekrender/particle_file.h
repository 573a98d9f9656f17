// Particle files for ekrender: PLY (ASCII or binary little-endian) and CSV with a header row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emberkit.h"

namespace ekrender {

struct ParticleData {
  std::vector<EKV3> positions;
  std::vector<uint8_t> colors;  // RGBA8 per particle; empty: all white
  std::vector<EKV3> velocities; // displacement per frame; empty: none
  std::string columns;          // which of the file's columns or attributes gave what
};

// Reads a particle file, choosing the format by its extension (.ply or .csv). On failure returns
// false and describes the problem, with the line or byte where it was found, in `error`.
bool readParticleFile(const std::string &path, ParticleData &out, std::string &error);

// The same readers on text already in memory; `name` is used in messages.
bool parsePly(const std::string &bytes, const std::string &name, ParticleData &out,
              std::string &error);
bool parseCsv(const std::string &text, const std::string &name, ParticleData &out,
              std::string &error);

} // namespace ekrender
