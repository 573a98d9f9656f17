#!/usr/bin/env bash
# Builds (if needed) and runs every test suite, the Python package's included, then the fuzz
# smoke: a bounded libFuzzer run over the particle and scene readers (FUZZ_SECONDS per reader,
# default 60; FUZZ_SECONDS=0 leaves it out, for a quick run while working).
set -euo pipefail
cd "$(dirname "$0")/.."
# As root (CI, a fresh machine), bring the Python and Blender test packages first.
if [ "$(id -u)" -eq 0 ]; then
  ./scripts/install-test-deps.sh
fi
./scripts/build.sh >/dev/null
ctest --test-dir build --output-on-failure -j "$(nproc)"
if [ "${FUZZ_SECONDS:-60}" != 0 ]; then
  ./scripts/fuzz-smoke.sh
fi
