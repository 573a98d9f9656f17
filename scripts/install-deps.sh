#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and benchmarks with (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  cmake make g++ \
  libstb-dev zlib1g-dev \
  googletest libgtest-dev libgmock-dev libbenchmark-dev \
  libpng-dev libopenexr-dev pngcheck \
  nlohmann-json3-dev libsleef-dev \
  libcli11-dev libopenvdb-dev libboost-dev libboost-iostreams-dev \
  clang libclang-rt-14-dev \
  >/dev/null
echo "dependencies installed"
