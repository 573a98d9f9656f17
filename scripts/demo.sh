#!/usr/bin/env bash
# The main job on a fresh machine: install the dependencies, build, and run the renderer
# (on the GPU when one is usable, otherwise on the CPU).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then ./scripts/install-deps.sh; else sudo ./scripts/install-deps.sh; fi
./scripts/build.sh >/dev/null
./build/stage/ekrender --output galaxy.png
echo "the picture is in $(pwd)/galaxy.png"
