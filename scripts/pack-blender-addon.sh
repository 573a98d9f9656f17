#!/bin/sh
# Packs the Blender add-on into one zip that Blender installs through Preferences > Add-ons >
# Install: the add-on, the emberkit Python package and the built library beside it.
#   scripts/pack-blender-addon.sh [BUILD_DIR] [OUTPUT_ZIP]
# BUILD_DIR defaults to build (the library is BUILD_DIR/stage/libemberkit.so); OUTPUT_ZIP to
# emberkit_render.zip in the current folder.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
output=${2:-emberkit_render.zip}
library="$build/stage/libemberkit.so"

[ -f "$library" ] || { echo "pack-blender-addon: $library not found: build the library first" >&2; exit 1; }
[ -f "$root/python/emberkit/__init__.py" ] || { echo "pack-blender-addon: python/emberkit is missing" >&2; exit 1; }

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
addon="$staging/emberkit_render"
mkdir -p "$addon/lib"
cp "$root"/blender/emberkit_render/*.py "$addon/"
cp -R "$root/python/emberkit" "$addon/lib/emberkit"
find "$addon" -name __pycache__ -prune -exec rm -rf {} +
cp "$library" "$addon/lib/emberkit/libemberkit.so"

case $output in /*) target=$output ;; *) target="$PWD/$output" ;; esac
rm -f "$target"
(cd "$staging" && /usr/bin/python3 -m zipfile -c "$target" emberkit_render)
echo "wrote $target"
