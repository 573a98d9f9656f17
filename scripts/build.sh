#!/usr/bin/env bash
# Configures and builds into ./build (with the CUDA backend when nvcc is found). Run paths are
# relative to $ORIGIN, so that the staged programs and libraries work from wherever they are copied
# (scripts/gpu-kit.sh gathers the GPU kit from this build).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_BUILD_RPATH_USE_ORIGIN=ON "$@"
cmake --build build -j "$(nproc)"
