#!/usr/bin/env bash
# Gathers the GPU kit from ./build, the build that scripts/build.sh makes and the tests run (with
# the CUDA backend, which needs nvcc): everything the GPU check needs on a bare machine that has
# the NVIDIA driver and none of our packages: the staged binaries, every shared library they load
# beyond the C and C++ runtime, the example inputs, pngcheck for the PNG tests, and the runner
# (run.sh). The folder gpu-kit/ is packed into gpu-kit.tar.gz, which is what travels: gzip is on
# every Debian and Ubuntu system, and scripts/gpu-check.sh --kit unpacks it. Then it checks the
# archive in another folder, as a bare machine would see it (scripts/gpu-kit-verify.sh), and
# prints the kit's sizes; it fails when the archive is too large to travel.
#
#   scripts/gpu-kit.sh [--no-build] [--no-verify]
#
# --no-build gathers from ./build as it is (CI: the build its tests just ran), instead of bringing
# it up to date with scripts/build.sh first. The kit is used with
#   scripts/gpu-check.sh --kit gpu-kit.tar.gz
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build
kit=gpu-kit
archive=gpu-kit.tar.gz
# What may travel to the GPU machine is 64 MiB, the working tree and the archive together; the
# archive must leave the tree room.
travel_limit_mib=64
archive_limit_mib=48

do_build=1
do_verify=1
for arg in "$@"; do
  case $arg in
  --no-build) do_build=0 ;;
  --no-verify) do_verify=0 ;;
  *)
    echo "usage: scripts/gpu-kit.sh [--no-build] [--no-verify]" >&2
    exit 2
    ;;
  esac
done

started=$SECONDS
if [ $do_build -eq 1 ]; then
  mkdir -p "$build"
  echo "bringing $build/ up to date (scripts/build.sh) ..."
  bash scripts/build.sh >"$build/kit-build.log" 2>&1 || { tail -40 "$build/kit-build.log"; exit 1; }
  echo "built in $((SECONDS - started)) s"
fi
stage=$build/stage

programs=(libemberkit.so Flarion.xlib ekrender flarion-host renderer_tests image_tests tools_tests
  plugin_tests bench_additive bench_volume bench_image_writers)
fakes=(libfake_renderer_old_version.so libfake_renderer_no_save_png.so)
for program in "${programs[@]}"; do
  [ -f "$stage/$program" ] ||
    { echo "gpu-kit: $stage/$program is missing (scripts/build.sh builds it)" >&2; exit 1; }
done
if ! readelf -SW "$stage/libemberkit.so" | grep -q '\.nv_fatbin'; then
  echo "gpu-kit: $stage/libemberkit.so carries no GPU code: $build/ was configured without the" \
    "CUDA backend (no nvcc found), and a kit without it is no use" >&2
  exit 1
fi

rm -rf "$kit"
mkdir -p "$kit/bin" "$kit/lib/runtime" "$kit/fakes"
for program in "${programs[@]}"; do
  cp "$stage/$program" "$kit/bin/"
done
for fake in "${fakes[@]}"; do
  cp "$build/tests/plugin/fakes/$fake" "$kit/fakes/"
done
if command -v pngcheck >/dev/null; then
  cp "$(command -v pngcheck)" "$kit/bin/"
else
  echo "gpu-kit: pngcheck is not installed; the PNG tests will not run it" >&2
fi
cp -r examples "$kit/examples"
cp scripts/gpu-kit-run.sh "$kit/run.sh"
chmod +x "$kit/run.sh"
# Symbol tables only; the CUDA code (.nv_fatbin) is an allocated section and stays.
strip --strip-unneeded "$kit"/bin/* "$kit"/fakes/*

# The C library and the C++ runtime are the base system; everything else a binary loads comes
# along. ldd lists what a file loads directly and through its libraries.
base='^(linux-vdso\.so\.1|ld-linux-x86-64\.so\.2|libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|libutil\.so\.1|libresolv\.so\.2|libstdc\+\+\.so\.6|libgcc_s\.so\.1)$'
declare -A origin
for file in "$kit"/bin/* "$kit"/fakes/*; do
  while read -r name arrow path _; do
    [ "$arrow" = "=>" ] || continue
    if [ "$path" = "not" ]; then
      echo "gpu-kit: $file needs $name, which is not found here" >&2
      exit 1
    fi
    [[ $name =~ $base ]] && continue
    [ -f "$kit/bin/$name" ] && continue # libemberkit.so, found next to the programs
    if [ -z "${origin[$name]:-}" ]; then
      origin[$name]=$(readlink -f "$path")
      cp -L "$path" "$kit/lib/$name"
    fi
  done < <(LD_LIBRARY_PATH="$root/$kit/bin" ldd "$file")
done
# The C++ runtime of this build, for systems whose own is older (run.sh decides).
for name in libstdc++.so.6 libgcc_s.so.1; do
  cp -L "$(ldd "$kit/bin/renderer_tests" | awk -v n="$name" '$1 == n {print $3}')" "$kit/lib/runtime/"
done

# No binary may search the build tree: only run paths relative to $ORIGIN are allowed.
for file in "$kit"/bin/* "$kit"/fakes/*; do
  if readelf -d "$file" | grep -E 'R(UN)?PATH' | grep -vqE '\[(\$ORIGIN[^:]*)(:\$ORIGIN[^:]*)*\]'; then
    echo "gpu-kit: $file has a run path outside the kit:" >&2
    readelf -d "$file" | grep -E 'R(UN)?PATH' >&2
    exit 1
  fi
done

# The GPU code in each binary: machine code per architecture (sm_NN) and PTX (compute_NN).
cuda_code() {
  python3 - "$1" <<'EOF'
import struct, subprocess, sys
path = sys.argv[1]
data = open(path, 'rb').read()
sections = subprocess.run(['readelf', '-SW', path], capture_output=True, text=True).stdout
found = set()
for line in sections.splitlines():
    if '.nv_fatbin' not in line:
        continue
    fields = line.split(']', 1)[1].split()
    offset, size = int(fields[3], 16), int(fields[4], 16)
    pos = offset
    while pos + 16 <= offset + size:
        magic, _, header, length = struct.unpack_from('<IHHQ', data, pos)
        if magic != 0xBA55ED50:  # fat binaries are 8-byte aligned within the section
            pos += 8
            continue
        entry, end = pos + header, pos + header + length
        while entry < end:
            kind, _, entry_header, entry_size = struct.unpack_from('<HHIQ', data, entry)
            arch = struct.unpack_from('<I', data, entry + 28)[0]
            found.add((arch, 'sm' if kind == 2 else 'compute'))
            entry += entry_header + entry_size
        pos = end
print(' '.join(f'{kind}_{arch}' for arch, kind in sorted(found)))
EOF
}
gpu_code=""
if command -v python3 >/dev/null; then
  gpu_code=$(cuda_code "$kit/bin/libemberkit.so")
  for file in renderer_tests bench_additive bench_volume; do
    [[ " $(cuda_code "$kit/bin/$file") " == *" sm_90 "* ]] ||
      { echo "gpu-kit: $file carries no sm_90 code" >&2; exit 1; }
  done
  [[ " $gpu_code " == *" sm_90 "* ]] ||
    { echo "gpu-kit: libemberkit.so carries no sm_90 code ($gpu_code)" >&2; exit 1; }
fi

# Newest symbol versions the kit's own binaries ask of the base system.
newest() {
  objdump -T "$kit"/bin/* "$kit"/fakes/* "$kit"/lib/*.so* 2>/dev/null | grep -o "$1_[0-9.]*" |
    sort -uV | tail -1
}
{
  echo "emberkit GPU kit"
  echo "commit: $(git rev-parse --short HEAD)$(git diff --quiet HEAD 2>/dev/null || echo ' with uncommitted changes')"
  echo "built: $(date -u '+%Y-%m-%d %H:%M UTC') on $(. /etc/os-release && echo "$PRETTY_NAME")"
  nvcc=$(sed -n 's/^CMAKE_CUDA_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
  echo "compilers: $(g++ --version | head -1); nvcc $("${nvcc:-nvcc}" --version 2>/dev/null | grep -o 'release [0-9.]*')"
  echo "libemberkit.so GPU code: ${gpu_code:-not read (no python3)}"
  echo "needs: $(newest GLIBC) and $(newest GLIBCXX) (C library and C++ runtime of the system;" \
    "lib/runtime/ supplies the C++ runtime when the C library is at least $(objdump -T "$kit"/lib/runtime/* | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -1))"
  echo "carried libraries:"
  for name in $(printf '%s\n' "${!origin[@]}" | sort); do
    # Merged /usr: dpkg may know the file under /lib rather than /usr/lib, so ask by its name.
    package=$(dpkg -S "*/$(basename "${origin[$name]}")" 2>/dev/null | cut -d: -f1 | head -1 || true)
    version=$([ -n "$package" ] && dpkg-query -W -f='${Version}' "$package" 2>/dev/null || true)
    echo "  $name  ${package:-?} ${version:-}"
  done
} >"$kit/KIT.txt"

# Nothing the kit says may name this tree.
if grep -rlF "$root/" "$kit/run.sh" "$kit/KIT.txt"; then
  echo "gpu-kit: the files above name $root" >&2
  exit 1
fi

rm -f "$archive"
tar -czf "$archive" --owner=0 --group=0 --numeric-owner "$kit"

mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }
kit_bytes=$(du -sb "$kit" | cut -f1)
archive_bytes=$(stat -c %s "$archive")
# The working tree that travels beside it: tracked files, untracked ones git does not ignore, and
# a shared/ folder inside the checkout even where git ignores it.
tree_bytes=$(git ls-files -z --cached --others --exclude-standard |
  { xargs -0 -r stat -c %s -- 2>/dev/null || true; } | awk '{ s += $1 } END { print s + 0 }')
if [ -d shared ] && git check-ignore -q shared/; then
  tree_bytes=$((tree_bytes + $(du -sb shared | cut -f1)))
fi
cat "$kit/KIT.txt"
echo "kit: $root/$kit, $(mib "$kit_bytes") unpacked"
echo "archive: $root/$archive, $(mib "$archive_bytes") (limit $archive_limit_mib MiB);" \
  "with the working tree ($(mib "$tree_bytes")) $(mib $((archive_bytes + tree_bytes)))" \
  "of the $travel_limit_mib MiB that travel"
if [ "$archive_bytes" -gt $((archive_limit_mib * 1048576)) ] ||
  [ $((archive_bytes + tree_bytes)) -gt $((travel_limit_mib * 1048576)) ]; then
  echo "gpu-kit: the kit is too large to travel with the working tree" >&2
  exit 1
fi
echo "gathered and packed in $((SECONDS - started)) s"

if [ $do_verify -eq 1 ]; then
  bash scripts/gpu-kit-verify.sh "$archive"
fi
echo "took $((SECONDS - started)) s"
