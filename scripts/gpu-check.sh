#!/usr/bin/env bash
# One command for a machine with an NVIDIA GPU: build with the CUDA backend, run every test (the
# CUDA instances and the CPU-versus-GPU parity tests run there instead of skipping), run the
# benchmarks on the CUDA backend, and print a short summary.
set -uo pipefail
cd "$(dirname "$0")/.."
out=${OUT:-/tmp/gpu-check}
mkdir -p "$out"

nvidia-smi --query-gpu=name,driver_version,memory.total --format=csv,noheader | tee "$out/gpu.txt"
cmake -S . -B build-gpu -DCMAKE_BUILD_TYPE=Release -DEK_ENABLE_CUDA=ON >"$out/configure.log" 2>&1 &&
  cmake --build build-gpu -j "$(nproc)" >"$out/build.log" 2>&1
build=$?
if [ $build -ne 0 ]; then
  tail -40 "$out/build.log"
  echo "SUMMARY: build failed"
  exit 1
fi
grep -q "CUDA backend: ON" "$out/configure.log" || { echo "SUMMARY: no CUDA compiler found"; exit 1; }

ctest --test-dir build-gpu --output-on-failure -j 4 >"$out/tests.log" 2>&1
tests=$?
./build-gpu/stage/renderer_tests --gtest_filter='*Cuda*:*Parity*' >"$out/cuda-tests.log" 2>&1
cuda=$?
for bench in build-gpu/stage/bench_*; do
  name=$(basename "$bench")
  if "$bench" --help 2>&1 | grep -q -- "--device"; then
    "$bench" --device cuda >"$out/$name-cuda.txt" 2>&1
  fi
done

echo "== tests (all suites) =="
grep -E "tests passed|tests failed|Total Test time" "$out/tests.log"
echo "== CUDA-backend and parity tests =="
# gtest's closing counts; skipped ones mean no usable CUDA device was found.
grep -E "^\[  (PASSED|SKIPPED|FAILED)  ?\] [0-9]+ tests?" "$out/cuda-tests.log"
grep -E "^\[  FAILED  \] [A-Z]" "$out/cuda-tests.log" | head -20
for f in "$out"/bench_*-cuda.txt; do
  [ -f "$f" ] || continue
  echo "== $(basename "$f" .txt) =="
  cat "$f"
done
echo "SUMMARY: ctest exit $tests, CUDA tests exit $cuda"
[ $tests -eq 0 ] && [ $cuda -eq 0 ]
