#!/bin/sh
# Kills ekrender with SIGKILL in the middle of a sequence, over frames an earlier run wrote, and
# checks that every file under a frame's name is a whole image (the writers replace a frame only
# with a complete file) and that its log holds the lines it printed before. Usage: ekrender_killed.sh EKRENDER WORK
set -eu
ekrender=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
run() { "$ekrender" --device cpu --count 300000 --size 256x256 "$@" >/dev/null 2>&1; }
run --output "$work/reference.exr"
whole=$(stat -c %s "$work/reference.exr")
run --frames 3 --output "$work/t.exr" # good frames that the killed run renders again
# Its log is a file, as on a farm: every line printed before the kill must be in it.
"$ekrender" --device cpu --count 300000 --size 256x256 --frames 40 --output "$work/t.exr" \
  >"$work/killed.log" 2>&1 &
pid=$!
while [ ! -e "$work/t_0005.exr" ]; do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
kill -9 "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
[ ! -e "$work/t_0039.exr" ] || echo "note: the run ended before it was killed"
for frame in "$work"/t_*.exr; do
  size=$(stat -c %s "$frame")
  if [ "$size" != "$whole" ]; then
    echo "$frame: $size bytes, a whole frame has $whole" >&2
    exit 1
  fi
done
for line in "device: " "particles: 300000"; do
  if ! grep -q "^$line" "$work/killed.log"; then
    echo "the killed run's log lacks its \"$line\" line:" >&2
    cat "$work/killed.log" >&2
    exit 1
  fi
done
echo "every frame left is whole"
