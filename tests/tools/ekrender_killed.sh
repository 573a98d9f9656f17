#!/bin/sh
# Kills ekrender with SIGKILL in the middle of a sequence, over frames an earlier run wrote, and
# checks that every file under a frame's name is a whole image (the writers replace a frame only
# with a complete file) and that its log holds the lines it printed before; then stops a run while
# it writes a large frame and checks that no temporary file stays behind. Usage: ekrender_killed.sh EKRENDER WORK
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
# A frame the kill landed in keeps its temporary file (SIGKILL cannot be caught); the checks of
# big.exr below look at big.exr's temporary files only.
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

# A large frame (4096x4096, a 128 MiB EXR) stopped while it is written: with SIGTERM, SIGINT or
# SIGHUP the run removes its temporary file and ends with that signal; killed with SIGKILL it
# cannot, and the next run of the frame removes the file once it is old enough to be abandoned.
# (It replaces the shell it runs in, so that a background one's $! is ekrender.)
big() {
  exec env --default-signal=INT "$ekrender" --device cpu --count 1000 --size 4096x4096 \
    --output "$work/big.exr" >/dev/null 2>&1
}
# A loaded machine may finish the write between seeing its temporary file and the signal landing;
# such a try (the run ended well, the frame is whole) is made again, a few times at most.
stop_while_writing() {
  for try in 1 2 3 4 5; do
    big &
    pid=$!
    while ! ls "$work"/.ek-write-big.exr.* >/dev/null 2>&1; do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.01
    done
    kill -"$1" "$pid" 2>/dev/null || true
    status=0
    wait "$pid" || status=$?
    if [ "$status" = 0 ]; then
      rm -f "$work/big.exr"
      continue
    fi
    if [ "$status" != $((128 + $2)) ]; then
      echo "stopped with SIG$1, ekrender ended with status $status" >&2
      exit 1
    fi
    return 0
  done
  echo "the write of big.exr was over before it could be stopped, five times" >&2
  exit 1
}
for signal in TERM:15 INT:2 HUP:1; do
  stop_while_writing "${signal%:*}" "${signal#*:}"
  signal=${signal%:*}
  # (A signal that lands just after the rename finds a whole big.exr and nothing to remove.)
  if ls -a "$work" | grep -q "ek-write-big"; then
    echo "SIG$signal during a write left:" $(ls -a "$work" | grep "ek-write-big") >&2
    exit 1
  fi
  rm -f "$work/big.exr"
done
stop_while_writing KILL 9
touch -d "-3 minutes" "$work"/.ek-write-big.exr.*
(big)
if ls -a "$work" | grep -q "ek-write-big"; then
  echo "the next run of big.exr kept the abandoned temporary file" >&2
  exit 1
fi
echo "every frame left is whole"
