#!/usr/bin/env bash
# Checks a GPU kit's archive as a bare machine would see it. A copy of the archive in another
# folder is unpacked and run with the build folders, the unpacked kit and the examples of this
# tree, pngcheck and this system's copies of every library the kit carries hidden (bound over in a
# private mount namespace; needs root and unshare), so that whatever the kit lacks fails here
# rather than on the GPU machine:
# 1. ldd of every binary and library, the library path limited to the kit: nothing is missing, and
#    everything resolves from the kit or from the base system (C library, C++ runtime);
# 2. the kit's C++ runtime serves the programs too, for systems whose own is older;
# 3. scripts/gpu-check.sh --kit on the copied archive, as the GPU machine runs it: no failures,
#    and without a GPU every CUDA test skips.
#
#   scripts/gpu-kit-verify.sh [ARCHIVE]        (default gpu-kit.tar.gz)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
base='^(linux-vdso\.so\.1|ld-linux-x86-64\.so\.2|libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|libutil\.so\.1|libresolv\.so\.2|libstdc\+\+\.so\.6|libgcc_s\.so\.1)$'

# Runs inside the mount namespace: hides what a bare machine lacks, then checks the copy.
if [ "${1:-}" = "--inside" ]; then
  archive=$2
  copy=$3
  results=$4
  hidden=$5
  if [ "$hidden" = yes ]; then
    for folder in "$root"/build*/ "$root/gpu-kit/" "$root/examples/"; do
      [ -d "$folder" ] && mount -t tmpfs -o ro none "$folder"
    done
    for library in "$copy"/lib/*.so*; do
      name=$(basename "$library")
      ldconfig -p | awk -v n="$name" '$1 == n { print $NF }' | while read -r path; do
        mount --bind /dev/null "$(readlink -f "$path")"
      done
    done
    if command -v pngcheck >/dev/null; then
      mount --bind /dev/null "$(readlink -f "$(command -v pngcheck)")"
    fi
    carried=("$copy"/lib/*.so*)
    echo "hidden: $root/build*, $root/gpu-kit, $root/examples, pngcheck and the system's" \
      "copies of:" \
      "${carried[*]##*/}"
  fi

  problems=0
  files=("$copy"/bin/* "$copy"/fakes/* "$copy"/lib/*.so*)
  for file in "${files[@]}"; do
    if ! listing=$(LD_LIBRARY_PATH="$copy/bin:$copy/lib" ldd "$file" 2>&1); then
      echo "ldd failed on $file: $listing"
      problems=$((problems + 1))
      continue
    fi
    while read -r name arrow path _; do
      [ "$arrow" = "=>" ] || continue
      if [ "$path" = "not" ]; then
        echo "not found: $name, needed by ${file#"$copy"/}"
        problems=$((problems + 1))
      elif [[ ! $name =~ $base ]] && [[ "$(readlink -f "$path")" != "$copy"/* ]]; then
        echo "outside the kit: $name => $path, needed by ${file#"$copy"/}"
        problems=$((problems + 1))
      fi
    done <<<"$listing"
  done
  echo "ldd: ${#files[@]} binaries and libraries, $problems problems"
  [ $problems -eq 0 ] || exit 1

  if ! LD_LIBRARY_PATH="$copy/bin:$copy/lib:$copy/lib/runtime" "$copy/bin/tools_tests" \
    --gtest_brief=1 >"$results/runtime.log" 2>&1; then
    cat "$results/runtime.log"
    echo "the kit's C++ runtime does not serve its programs"
    exit 1
  fi
  echo "the kit's C++ runtime serves its programs"

  set +e
  OUT=$results/out bash scripts/gpu-check.sh --kit "$archive" >"$results/check.log" 2>&1
  echo $? >"$results/check.rc"
  exit 0
fi

given=${1:-gpu-kit.tar.gz}
[ -f "$given" ] ||
  { echo "gpu-kit-verify: no kit archive at $given (scripts/gpu-kit.sh packs it)" >&2; exit 1; }
tmp=$(mktemp -d /tmp/gpu-kit-verify.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
archive=$tmp/moved/$(basename "$given")
copy=$tmp/moved/kit
mkdir -p "$copy" "$tmp/results"
cp "$given" "$archive"
tar -xzf "$archive" -C "$copy" --strip-components=1
echo "checking a copy of $given at $archive"
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  unshare -m bash "$0" --inside "$archive" "$copy" "$tmp/results" yes
else
  echo "not root or no unshare: the build folders and the system's libraries stay visible;" \
    "the ldd check still tells kit from system"
  bash "$0" --inside "$archive" "$copy" "$tmp/results" no
fi

check_rc=$(cat "$tmp/results/check.rc")
summary=$(sed -n '/^== summary ==/,$p' "$tmp/results/check.log")
echo "$summary"
fail() {
  echo "gpu-kit-verify: $1 (gpu-check exit $check_rc); its output:" >&2
  cat "$tmp/results/check.log" >&2
  exit 1
}
[ -f "$tmp/results/out/gpu-check-log.txt" ] || fail "no log file under \$OUT"
[ -f "$tmp/results/out/preview.png" ] || fail "flarion-host saved no preview"
case $check_rc in
0) echo "gpu-kit-verify: the check passed from the copied archive, on a CUDA device" ;;
2)
  cuda=$(grep -E '^CUDA instances and parity tests:' <<<"$summary")
  [[ "$cuda" =~ \ ([1-9][0-9]*)\ skipped,\ 0\ failed\ \(([0-9]+)\ skipped\ for\ want ]] &&
    [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ] ||
    fail "without a GPU every CUDA test should skip: $cuda"
  echo "gpu-kit-verify: the check ran from the copied archive; no GPU here, every CUDA test skipped"
  ;;
*) fail "the check failed from the copied archive" ;;
esac
