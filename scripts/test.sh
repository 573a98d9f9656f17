#!/usr/bin/env bash
# Builds (if needed) and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh >/dev/null
ctest --test-dir build --output-on-failure -j "$(nproc)"
