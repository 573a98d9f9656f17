#!/usr/bin/env bash
# The runner of a GPU kit (scripts/gpu-kit.sh copies it into the kit as run.sh). It runs the kit's
# programs with the kit's own libraries and test inputs, wherever the kit folder lies:
#
#   run.sh PROGRAM [ARGS...]   runs bin/PROGRAM (renderer_tests, ekrender, flarion-host, ...)
#   run.sh --env               prints the environment as shell assignments, for `eval`
#
# The library path puts bin/ (libemberkit.so) and lib/ (SLEEF, libpng, OpenEXR, zlib, ...) first.
# lib/runtime/ holds the C++ runtime the kit was built with; it joins the path only when the
# system's own is too old for the kit's programs, since a newer system runtime serves them too and
# the kit's runtime needs a C library at least as new as the build machine's.
set -uo pipefail
kit=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The copy that brought the kit here may have dropped the executable bits.
for file in "$kit"/bin/*; do
  [ -x "$file" ] || chmod +x "$file" 2>/dev/null || true
done

# Runs every program of the kit far enough for the loader to resolve all its libraries (the
# loader exits with 127 and names the library or symbol version when it cannot).
loadsWith() {
  local path=$1 program message
  for program in ekrender flarion-host renderer_tests image_tests tools_tests plugin_tests \
    bench_additive bench_volume bench_image_writers; do
    [ -f "$kit/bin/$program" ] || continue
    message=$(LD_LIBRARY_PATH="$path" "$kit/bin/$program" --help 2>&1 </dev/null >/dev/null)
    if [ $? -eq 127 ] || [[ "$message" == *"error while loading shared libraries"* ]]; then
      loaderError="$program: $message"
      return 1
    fi
  done
  return 0
}

path="$kit/bin:$kit/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
runtime="system"
loaderError=""
if ! loadsWith "$path"; then
  firstError=$loaderError
  if [ -d "$kit/lib/runtime" ] && loadsWith "$path:$kit/lib/runtime"; then
    path="$path:$kit/lib/runtime"
    runtime="kit"
  else
    echo "run.sh: the kit's programs cannot load on this system: $firstError" >&2
    [ -f "$kit/KIT.txt" ] && grep -E "^needs:" "$kit/KIT.txt" >&2
    echo "run.sh: this system's C library: $(getconf GNU_LIBC_VERSION 2>/dev/null)" >&2
    exit 127
  fi
fi
# The CUDA driver library comes from the system; some images keep it outside the loader's cache.
if [ -d /usr/local/nvidia/lib64 ]; then
  path="$path:/usr/local/nvidia/lib64"
fi

export LD_LIBRARY_PATH="$path"
export EK_KIT_RUNTIME="$runtime"
export FLARION_TEST_MODULE="$kit/bin/Flarion.xlib"
export FLARION_TEST_RENDERER="$kit/bin/libemberkit.so"
export FLARION_TEST_FAKE_OLD_VERSION="$kit/fakes/libfake_renderer_old_version.so"
export FLARION_TEST_FAKE_NO_SAVE_PNG="$kit/fakes/libfake_renderer_no_save_png.so"
export FLARION_TEST_EXAMPLES="$kit/examples"
if [ -x "$kit/bin/pngcheck" ]; then
  export EK_TEST_PNGCHECK="$kit/bin/pngcheck"
fi

if [ $# -eq 0 ] || [ "$1" = "--help" ]; then
  echo "usage: run.sh PROGRAM [ARGS...] | run.sh --env"
  echo "programs: $(cd "$kit/bin" && ls | tr '\n' ' ')"
  exit 0
fi
if [ "$1" = "--env" ]; then
  for name in LD_LIBRARY_PATH EK_KIT_RUNTIME FLARION_TEST_MODULE FLARION_TEST_RENDERER \
    FLARION_TEST_FAKE_OLD_VERSION FLARION_TEST_FAKE_NO_SAVE_PNG FLARION_TEST_EXAMPLES \
    EK_TEST_PNGCHECK; do
    [ -n "${!name:-}" ] && printf 'export %s=%q\n' "$name" "${!name}"
  done
  exit 0
fi
program=$1
shift
exec "$kit/bin/$program" "$@"
