#!/usr/bin/env bash
# Builds the project (CPU backend) with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-sanitize/ and runs the whole test suite there. A sanitizer report stops the process that
# makes it, and is also written to build-sanitize/sanitizer-reports/: the script fails when a test
# fails or when any report was written, even by a process whose test looks only at its output.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-sanitize
reports="$PWD/$build/sanitizer-reports"
start=$SECONDS
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEK_ENABLE_CUDA=OFF \
  -DEK_BUILD_BENCH=OFF -DEK_SANITIZE="address,undefined,float-cast-overflow" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
echo "sanitizer suite: built in $((SECONDS - start)) s"

rm -rf "$reports"
mkdir -p "$reports"
# Some tests ask for absurd buffers on purpose (a reservation of 2^55 particles, shadow maps of
# 2^62 floats): the allocator must answer null, as the system's does, instead of stopping.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:log_path=$reports/asan"
# Leaks inside third-party libraries that we cannot free are listed, one by one, in lsan.supp.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
status=0
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" >"$build/ctest.log" 2>&1 || status=$?
grep -E "tests passed|tests failed" "$build/ctest.log" || true
grep -E "^\s+[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)" "$build/ctest.log" || true
# A report is an error, a runtime error or a leak. The allocator's warning about a request it
# answered with null (asked for on purpose, see above) is none.
findings=$(grep -l -E "ERROR: |runtime error:|SUMMARY: " "$reports"/* 2>/dev/null || true)
if [ -n "$findings" ]; then
  echo "sanitizer suite: $(echo "$findings" | wc -l) sanitizer report(s):"
  for report in $findings; do
    echo "--- $report"
    head -n 30 "$report"
  done
  status=1
fi
echo "sanitizer suite: $((SECONDS - start)) s in all, $( [ "$status" -eq 0 ] && echo "no finding" || echo "FAILED")"
exit "$status"
