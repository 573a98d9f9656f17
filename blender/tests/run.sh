#!/bin/sh
# Runs the Blender add-on's tests inside Blender with the add-on from this tree.
#   run.sh SOURCE_DIR LIBRARY            the headless tests (blender -b); EKRENDER, when set,
#                                        names the ekrender program whose files they load
#   run.sh SOURCE_DIR LIBRARY viewport   the viewport check, under a virtual X server
#   run.sh SOURCE_DIR LIBRARY packed     the zip of scripts/pack-blender-addon.sh, installed
# Exits 77 (a skip for CTest) when Blender, or xvfb-run for the viewport, is not installed.
set -u
source_dir=$1
library=$2
what=${3:-headless}

blender=$(command -v blender) || {
  echo "SKIPPED: blender is not installed (scripts/install-test-deps.sh installs it)"
  exit 77
}
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/addons"
ln -s "$source_dir/blender/emberkit_render" "$scratch/addons/emberkit_render"
export BLENDER_USER_SCRIPTS="$scratch"

if [ "$what" = packed ]; then
  build_dir=$(dirname "$(dirname "$library")")
  "$source_dir/scripts/pack-blender-addon.sh" "$build_dir" "$scratch/emberkit_render.zip" || exit 1
  rm "$scratch/addons/emberkit_render"
  env -u PYTHONPATH -u EMBERKIT_LIBRARY "$blender" -b --factory-startup --python-exit-code 1 \
    --python "$source_dir/blender/tests/packed_check.py" -- "$scratch/emberkit_render.zip" "$scratch/frame.png"
  exit $?
fi
export PYTHONPATH="$source_dir/python${PYTHONPATH:+:$PYTHONPATH}"
export EMBERKIT_LIBRARY="$library"

if [ "$what" = viewport ]; then
  command -v xvfb-run >/dev/null || {
    echo "SKIPPED: xvfb-run is not installed (scripts/install-test-deps.sh installs it)"
    exit 77
  }
  xvfb-run -a -s "-screen 0 1280x720x24" "$blender" --factory-startup --python-exit-code 1 \
    --python "$source_dir/blender/tests/viewport_check.py"
  exit $?
fi
"$blender" -b --factory-startup --python-exit-code 1 --python "$source_dir/blender/tests/run.py" \
  -- --basetemp="$scratch/pytest"
