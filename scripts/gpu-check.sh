#!/usr/bin/env bash
# The GPU check, one command for a machine with an NVIDIA GPU: every test suite (the CUDA instances
# and the CPU-versus-GPU parity tests run there instead of skipping), ekrender rendering the test
# cloud and a volumetric scene on cuda:0, flarion-host saving the plug-in's preview, and the
# benchmarks on the CUDA backend beside their baselines. A short summary comes last.
#
#   scripts/gpu-check.sh              builds build-gpu/ here first (needs install-deps.sh's packages)
#   scripts/gpu-check.sh --kit [KIT]  builds nothing: runs the binaries of a kit that
#                                     scripts/gpu-kit.sh made, which needs no more of the machine
#                                     than the NVIDIA driver: its archive (default
#                                     gpu-kit.tar.gz, unpacked into a temporary folder) or the
#                                     unpacked folder (gpu-kit)
#
# Everything lands in $OUT when it is set (else /tmp/gpu-check): gpu-check-log.txt, every step's
# output one after the other, written as the steps finish, and the pictures galaxy.png, volume.png
# and preview.png. The steps stop at a deadline, EK_CHECK_SECONDS (default 420) after the binaries
# are ready, so that the command ends inside 10 minutes even when something hangs.
#
# Exit status: 0 when everything passed on a CUDA device, 1 when something failed, 2 when nothing
# failed but no CUDA device was usable (the CUDA tests skipped and the GPU steps did not run).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd) || exit 1

mode=build
kit=""
case ${1:-} in
"") ;;
--kit)
  mode=kit
  # A relative KIT means from the current folder, else from the repository root.
  kit=${2:-gpu-kit.tar.gz}
  [ -e "$kit" ] || [[ $kit == /* ]] || kit=$root/$kit
  [ -e "$kit" ] || { echo "gpu-check: no kit at ${2:-gpu-kit.tar.gz}" >&2; exit 1; }
  kit=$(cd "$(dirname "$kit")" && echo "$(pwd)/$(basename "$kit")")
  kitName=$kit
  ;;
*)
  echo "usage: scripts/gpu-check.sh [--kit [KIT]]" >&2
  exit 2
  ;;
esac
cd "$root" || exit 1

out=${OUT:-/tmp/gpu-check}
mkdir -p "$out"
log=$out/gpu-check-log.txt
rm -f "$log" "$out/galaxy.png" "$out/volume.png" "$out/preview.png"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ $mode = kit ] && [ -f "$kit" ]; then
  mkdir "$work/kit"
  tar -xzf "$kit" -C "$work/kit" --strip-components=1 ||
    { echo "SUMMARY: the kit archive $kit cannot be unpacked"; exit 1; }
  echo "unpacked $kit into $work/kit"
  kit=$work/kit
fi

declare -A rc took
steps=()

# Appends a titled block to the log file.
record() {
  {
    echo "===== $1 ====="
    cat
    echo
  } >>"$log"
}

# step NAME CAP COMMAND...: runs the command, its output in $work/NAME.log and appended to the
# log file, stopped after CAP seconds or at the deadline, whichever comes first.
step() {
  local name=$1 cap=$2 left start
  shift 2
  steps+=("$name")
  left=$((deadline - SECONDS))
  [ "$cap" -gt "$left" ] && cap=$left
  start=$SECONDS
  if [ "$cap" -lt 5 ]; then
    echo "not run: the check's time budget is spent" >"$work/$name.log"
    rc[$name]=124
  else
    timeout -k 5 "$cap" "$@" >"$work/$name.raw" 2>&1 </dev/null
    rc[$name]=$?
    sed 's/\x1b\[[0-9;]*m//g' "$work/$name.raw" >"$work/$name.log" # no terminal colours
    [ "${rc[$name]}" -eq 124 ] && echo "stopped after $cap s" >>"$work/$name.log"
  fi
  took[$name]=$((SECONDS - start))
  record "$name: exit ${rc[$name]}, ${took[$name]} s: $*" <"$work/$name.log"
  echo "[$(printf '%4d' "$SECONDS") s] $name: exit ${rc[$name]} (${took[$name]} s)"
}

# A step that needs a CUDA device and is left out without one.
gpuStep() {
  if [ $cuda -eq 1 ]; then
    step "$@"
  else
    steps+=("$1")
    rc[$1]=skip
    echo "skipped: no usable CUDA device" | record "$1: skipped"
  fi
}

# gtest's closing counts of a log: "P passed, S skipped, F failed", or how the binary ended.
gtestCounts() {
  local passed skipped failed
  passed=$(grep -oE '^\[  PASSED  \] [0-9]+' "$1" | grep -oE '[0-9]+$')
  skipped=$(grep -oE '^\[  SKIPPED \] [0-9]+ tests?,' "$1" | grep -oE '[0-9]+')
  failed=$(grep -oE '^\[  FAILED  \] [0-9]+ tests?,' "$1" | grep -oE '[0-9]+')
  if [ -z "$passed" ]; then
    echo "no result (exit ${2:-?}; see the log)"
  else
    echo "$passed passed, ${skipped:-0} skipped, ${failed:-0} failed"
  fi
}

# --- the binaries ---
started=$SECONDS
if [ $mode = build ]; then
  deadline=$((SECONDS + 3600))
  step configure 600 cmake -S . -B build-gpu -DCMAKE_BUILD_TYPE=Release -DEK_ENABLE_CUDA=ON
  [ "${rc[configure]}" -eq 0 ] && step build 3000 cmake --build build-gpu -j "$(nproc)"
  if [ "${rc[configure]}" -ne 0 ] || [ "${rc[build]:-1}" -ne 0 ]; then
    tail -40 "$work/build.log" 2>/dev/null || tail -40 "$work/configure.log"
    echo "SUMMARY: build failed"
    exit 1
  fi
  grep -q "CUDA backend: ON" "$work/configure.log" || { echo "SUMMARY: no CUDA compiler found"; exit 1; }
  bin=build-gpu/stage
  examples=examples
  binaries="build-gpu/ (built here in $((SECONDS - started)) s)"
else
  if ! environment=$(bash "$kit/run.sh" --env 2>"$work/run.log"); then
    cat "$work/run.log"
    record "kit runner" <"$work/run.log"
    echo "SUMMARY: the kit's programs cannot load on this machine"
    exit 1
  fi
  eval "$environment"
  bin=$kit/bin
  examples=$kit/examples
  binaries="kit $kitName, $(grep -E '^commit:' "$kit/KIT.txt" 2>/dev/null | cut -d' ' -f2-), C++ runtime: ${EK_KIT_RUNTIME:-?}"
fi
deadline=$((SECONDS + ${EK_CHECK_SECONDS:-420}))

# --- the machine ---
gpu=$(nvidia-smi --query-gpu=name,driver_version,memory.total --format=csv,noheader 2>/dev/null | head -1)
if device=$("$bin/ekrender" --device cuda:0 --info 2>&1); then cuda=1; else cuda=0; fi
device=${device%%$'\n'*}
{
  echo "binaries: $binaries"
  echo "date: $(date -u '+%Y-%m-%d %H:%M:%S UTC'); host: $(uname -srm)"
  echo "system: $( (. /etc/os-release && echo "$PRETTY_NAME") 2>/dev/null); $(getconf GNU_LIBC_VERSION 2>/dev/null)"
  echo "nvidia-smi: ${gpu:-not available}"
  echo "CUDA driver library: $(ldconfig -p 2>/dev/null | grep -m1 'libcuda.so.1' | sed 's/.*=> //')"
  echo "ekrender --device cuda:0 --info: $device"
  [ $mode = kit ] && cat "$kit/KIT.txt"
  [ $mode = kit ] && echo "LD_LIBRARY_PATH=$LD_LIBRARY_PATH"
} >"$work/machine.txt"
record machine <"$work/machine.txt"
cat "$work/machine.txt"

# --- the tests ---
if [ $mode = build ]; then
  step ctest 300 ctest --test-dir build-gpu --output-on-failure -j 8
  suites=(ctest)
else
  suites=(renderer_tests image_tests tools_tests plugin_tests)
  for suite in "${suites[@]}"; do
    step "$suite" 180 "$bin/$suite"
  done
fi
step cuda-tests 180 "$bin/renderer_tests" --gtest_filter='*Cuda*:*Parity*'

# --- ekrender and the plug-in's preview ---
gpuStep ekrender-galaxy 60 "$bin/ekrender" --device cuda:0 --output "$out/galaxy.png"
gpuStep ekrender-volume 60 "$bin/ekrender" --device cuda:0 --volumetric --density 2 \
  --light spot:pos=0,150,150:dir=0,-1,-1:color=4,4,4 --light point:pos=-120,40,60:color=1.5,1.2,1 \
  --output "$out/volume.png"
step ekrender-galaxy-cpu 120 "$bin/ekrender" --device cpu --output "$work/galaxy-cpu.png"
step flarion-host 60 "$bin/flarion-host" "$examples/fountain.json" --ticks 5 \
  --preview-size 640x360 --save-preview "$out/preview.png"

# --- benchmarks: the renderer's on the CUDA backend, the others as they are ---
benches=()
for bench in "$bin"/bench_*; do
  name=$(basename "$bench")
  benches+=("$name")
  help=$("$bench" --help 2>&1)
  if [[ "$help" == *"--device"* ]]; then
    gpuStep "$name" 120 "$bench" --device cuda
  else
    step "$name" 120 "$bench"
  fi
done
for name in "${benches[@]}"; do
  [ -f "$work/$name.log" ] || continue
  echo "== $name =="
  cat "$work/$name.log"
done

# --- summary ---
failed=()
for name in "${steps[@]}"; do
  case ${rc[$name]} in
  0 | skip) ;;
  *) failed+=("$name") ;;
  esac
done
cudaCounts=$(gtestCounts "$work/cuda-tests.log" "${rc[cuda-tests]}")
# Skips for want of a device (other skips there are tests of the no-device case, on a GPU).
noDevice=$(grep -c '^no usable CUDA device$' "$work/cuda-tests.log")
# The first line of a step's log that matches, else how the step ended.
lineOf() {
  case ${rc[$1]:-} in
  skip) echo "not run (no usable CUDA device)" ;;
  "") echo "not run" ;;
  *) grep -m1 -E "$2" "$work/$1.log" || echo "no such line (exit ${rc[$1]})" ;;
  esac
}
{
  echo "== summary =="
  echo "binaries: $binaries"
  echo "GPU: ${gpu:-no nvidia-smi}; cuda:0: $device"
  if [ $mode = build ]; then
    echo "tests: $(grep -E 'tests passed|tests failed' "$work/ctest.log")"
  else
    for suite in "${suites[@]}"; do
      echo "tests: $suite: $(gtestCounts "$work/$suite.log" "${rc[$suite]}")"
    done
  fi
  echo "CUDA instances and parity tests: $cudaCounts ($noDevice skipped for want of a CUDA device)"
  grep -E '^\[  FAILED  \] [A-Za-z]' "$work"/*_tests.log "$work/cuda-tests.log" 2>/dev/null |
    sed 's/^[^:]*:/  /' | sort -u | head -20
  echo "ekrender cuda:0 test cloud: $(lineOf ekrender-galaxy '^render:')"
  echo "ekrender cuda:0 volumetric: $(lineOf ekrender-volume '^render:')"
  echo "ekrender cpu test cloud: $(lineOf ekrender-galaxy-cpu '^render:')"
  echo "flarion-host: $(lineOf flarion-host '^Status line:'); $(lineOf flarion-host '^Preview saved')"
  # Each benchmark's ratios and totals, under the heading (scene) they belong to.
  for name in "${benches[@]}"; do
    [ -f "$work/$name.log" ] || continue
    awk -v name="$name" '
      /^[^ ]/ { heading = $0 }
      /(^| )ratio |whole ekRender|goal/ {
        if ($0 != heading && heading != shown) { print name ": " heading; shown = heading }
        sub(/^ +/, $0 == heading ? "" : "  ")
        print name ": " $0
      }' "$work/$name.log"
  done
  echo "pictures and the full log: $out"
  if [ ${#failed[@]} -gt 0 ]; then
    echo "SUMMARY: FAILED: ${failed[*]}"
  elif [ $cuda -eq 0 ]; then
    echo "SUMMARY: no failures, but no usable CUDA device: $noDevice CUDA tests skipped, GPU steps not run"
  elif [ "$noDevice" -gt 0 ]; then
    echo "SUMMARY: FAILED: $noDevice CUDA tests found no device although cuda:0 is usable"
  else
    echo "SUMMARY: all passed on the CUDA device ($((SECONDS - started)) s)"
  fi
} >"$work/summary.txt"
record summary <"$work/summary.txt"
cat "$work/summary.txt"
if [ ${#failed[@]} -gt 0 ] || { [ $cuda -eq 1 ] && [ "$noDevice" -gt 0 ]; }; then
  exit 1
fi
[ $cuda -eq 1 ] || exit 2
exit 0
