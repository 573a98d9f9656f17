#!/usr/bin/env bash
# Configures and builds into ./build (with the CUDA backend when nvcc is found).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build -j "$(nproc)"
