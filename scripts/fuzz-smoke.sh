#!/usr/bin/env bash
# Builds the libFuzzer targets (ekrender's PLY and CSV readers, the stand-in's scene reader) with
# clang and the address and undefined-behaviour sanitizers, and runs each for FUZZ_SECONDS
# (default 60) from its seed corpus. Fails when a fuzzer reports anything: a crash, a sanitizer
# finding, a leak, an input slower than 10 s or a run above 2 GB of memory. Findings are kept in
# build-fuzz/fuzz-run/TARGET/ with the fuzzer's log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
build=build-fuzz
start=$SECONDS
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DEK_ENABLE_CUDA=OFF -DEK_BUILD_TESTS=OFF -DEK_BUILD_BENCH=OFF \
  -DEK_BUILD_FUZZERS=ON -DEK_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_ply fuzz_csv fuzz_scene >/dev/null
echo "fuzz smoke: built in $((SECONDS - start)) s"

work="$build/fuzz-run"
rm -rf "$work"
failed=0
# fuzz TARGET SEED_FOLDER...: the first corpus folder is a scratch copy the fuzzer may add to; the
# seed folders in the tree are only read.
fuzz() {
  local target=$1
  shift
  local dir="$work/$target"
  mkdir -p "$dir/corpus"
  local status=0
  "$build/stage/fuzz_$target" "$dir/corpus" "$@" -dict="tests/fuzz/$target.dict" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$dir/" -print_final_stats=1 >"$dir/log" 2>&1 || status=$?
  local runs coverage
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]*' "$dir/log" | tail -1)
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "fuzz_$target: FINDING (exit $status) after ${runs:-?} runs; log and input in $dir"
    grep -m 5 -E 'ERROR|runtime error|deadly signal|timeout|out-of-memory' "$dir/log" || true
  else
    echo "fuzz_$target: ${runs:-?} runs in ${seconds} s, ${coverage:-cov: ?}, no finding"
  fi
}
fuzz ply tests/fuzz/corpus/ply
fuzz csv tests/fuzz/corpus/csv examples
fuzz scene tests/fuzz/corpus/scene examples tests/plugin/scenes
echo "fuzz smoke: $((SECONDS - start)) s in all"
exit "$failed"
