#!/usr/bin/env bash
# One-node Slurm check of ekrender on a farm. Installs Slurm and MUNGE when missing (apt-get, as
# root), starts munged, slurmctld and slurmd on this machine with a generated configuration (every
# state, log, pid and socket file in one temporary folder; nodes addressed over loopback, inside
# private network and process namespaces when the container allows them), writes a 24-frame .vdb
# particle cache with ekcache, renders it as a 4-task array job through
# scripts/ekrender-array.sbatch and checks:
#   - every frame is byte for byte the frame of a local render of the whole range in one run;
#   - after two frames are deleted, resubmitting the same array renders those two again and leaves
#     the other 22 files untouched (same inode and modification time);
#   - the same cache in the volumetric look, lit by shadowed lights, rendered as 4 chunks on the CPU
#     with 1, 2, 3 and 8 workers (EMBERKIT_CPU_WORKERS), gives every frame byte for byte as one run
#     of the whole range does.
# The daemons are stopped by their process ids and the folder is removed on any exit.
#
#   scripts/farm-check.sh [EKRENDER]
#
# EKRENDER (argument or environment; default build/stage/ekrender, built when missing) is the
# renderer; EKCACHE (default: ekcache beside it, built when missing) writes the cache.
# FARM_CHECK_TIMEOUT (seconds, default 300) bounds each wait for the array; FARM_CHECK_KEEP=1 keeps
# the folder for a look afterwards; FARM_CHECK_NAMESPACES=0 runs the cluster in the machine's own
# namespaces, as where they cannot be made. Exit status 0 when every check passes.
set -euo pipefail

say() { echo "farm-check: $*"; }
fail() {
  echo "farm-check: FAILED: $*" >&2
  exit 1
}

# ---- inside the cluster's network namespace (or not, where none can be made) ------------------

# The daemons started (their process ids and names) and the jobs submitted: global, for the trap
# that stops them after cluster_checks has returned.
pids=() names=() jobs_started=()

cluster_checks() {
  work=$FARM_WORK
  export SLURM_CONF=$work/slurm/slurm.conf
  stop_daemons() {
    local i pid
    # Jobs still running when a check gave up are cancelled while slurmctld can do it.
    if [ ${#jobs_started[@]} -gt 0 ] && [ ${#pids[@]} -ge 2 ] && kill -0 "${pids[1]}" 2>/dev/null; then
      timeout 10 scancel --quiet "${jobs_started[@]}" 2>/dev/null || true
    fi
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
      pid=${pids[i]}
      kill "$pid" 2>/dev/null || continue
      for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      if kill -0 "$pid" 2>/dev/null; then
        say "${names[i]} (pid $pid) did not stop in 10 s: killed"
        kill -9 "$pid" 2>/dev/null || true
      fi
      wait "$pid" 2>/dev/null || true
    done
    [ ${#pids[@]} -eq 0 ] || say "stopped ${names[*]} (pids ${pids[*]})"
  }
  show_logs() {
    local log
    for log in "$work"/slurm/log/*.log "$work"/logs/*.log; do
      [ -s "$log" ] || continue
      echo "---- $log (last lines)" >&2
      tail -n 15 "$log" >&2
    done
  }
  trap 'status=$?; [ $status -eq 0 ] || show_logs; stop_daemons; exit $status' EXIT
  trap 'exit 130' INT TERM

  if [ -n "${FARM_NETNS:-}" ]; then
    # Slurm resolves its listening addresses with AI_ADDRCONFIG, which finds nothing where the only
    # addresses are 127.x: a documentation address (TEST-NET-1) on lo satisfies it, and nothing
    # in this namespace reaches beyond the machine.
    ip link set lo up && ip addr add 192.0.2.1/32 dev lo ||
      fail "cannot set up loopback in the private network namespace"
  fi
  local node ctld_port slurmd_port
  node=$(hostname -s)
  ctld_port=$(free_port)
  slurmd_port=$(free_port "$ctld_port")

  # MUNGE, Slurm's authentication, with its own key and socket.
  local slurm=$work/slurm
  mkdir -p "$slurm/state" "$slurm/spool" "$slurm/log"
  chmod 0711 "$work" "$slurm" # jobs reach the socket; nobody else writes here
  dd if=/dev/urandom of="$slurm/munge.key" bs=1024 count=1 status=none
  chmod 0400 "$slurm/munge.key"
  munged --foreground --force --key-file="$slurm/munge.key" --socket="$slurm/munge.sock" \
    --pid-file="$slurm/munged.pid" --log-file="$slurm/log/munged.log" \
    --seed-file="$slurm/munged.seed" >>"$slurm/log/munged.log" 2>&1 &
  pids+=($!) names+=(munged)
  wait_until 20 "munged to answer" "${pids[-1]}" \
    sh -c "munge -n -S '$slurm/munge.sock' 2>/dev/null | unmunge -S '$slurm/munge.sock' >/dev/null 2>&1"

  cat >"$SLURM_CONF" <<EOF
ClusterName=ekfarm
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$slurm/munge.sock
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$slurm/state
SlurmdSpoolDir=$slurm/spool
SlurmctldPidFile=$slurm/slurmctld.pid
SlurmdPidFile=$slurm/slurmd.pid
SlurmctldLogFile=$slurm/log/slurmctld.log
SlurmdLogFile=$slurm/log/slurmd.log
PlugStackConfig=$slurm/plugstack.conf
MailProg=/bin/true
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SlurmdParameters=config_overrides
ReturnToService=2
MinJobAge=600
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=farm Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
  : >"$slurm/plugstack.conf"
  slurmctld -D -i -f "$SLURM_CONF" >>"$slurm/log/slurmctld.out" 2>&1 &
  pids+=($!) names+=(slurmctld)
  wait_until 30 "slurmctld to answer" "${pids[-1]}" \
    sh -c 'timeout 10 scontrol ping | grep -q "is UP"'
  slurmd -D -f "$SLURM_CONF" >>"$slurm/log/slurmd.out" 2>&1 &
  pids+=($!) names+=(slurmd)
  wait_until 30 "node $node to be idle" "${pids[-1]}" \
    sh -c "timeout 10 sinfo -h -n '$node' -o %T | grep -qx idle"
  say "one-node cluster up: slurmctld on 127.0.0.1:$ctld_port, slurmd $node on 127.0.0.1:$slurmd_port (pids ${pids[*]})"

  local sbatch_script=$FARM_ROOT/scripts/ekrender-array.sbatch
  submit() { # submit LABEL: the array of 4 tasks, waited for; its logs in logs/LABEL-*
    local label=$1 job state
    job=$(EKRENDER=$FARM_EKRENDER timeout 30 sbatch --parsable --export=ALL --array=0-3 \
      --output="$work/logs/$label-%a.log" --chdir="$work" \
      "$sbatch_script" "$work/job.ini" --output "$work/farm/swirl.####.png") ||
      fail "sbatch refused the array job"
    job=${job%%;*}
    jobs_started+=("$job")
    say "$label: submitted array job $job (4 tasks)"
    local waited=0 start=$SECONDS
    while [ -n "$(timeout 10 squeue -h -j "$job" -o %i 2>/dev/null || echo unknown)" ]; do
      waited=$((SECONDS - start))
      [ "$waited" -lt "$FARM_TIMEOUT" ] || fail "$label: job $job still queued or running after ${FARM_TIMEOUT} s"
      sleep 1
    done
    state=$(timeout 10 scontrol -o show job "$job" | sed -n 's/.*ArrayTaskId=\([0-9]*\) .*JobState=\([A-Z_]*\) .*ExitCode=\([0-9:]*\).*/\1 \2 \3/p' | sort -n)
    if [ "$(echo "$state" | grep -c ' COMPLETED 0:0$')" != 4 ]; then
      fail "$label: not every task completed: $(echo "$state" | tr '\n' ';')"
    fi
    say "$label: 4 tasks completed in $((SECONDS - start)) s"
  }

  submit first
  local frame name
  for frame in $(seq 1 24); do
    name=$(printf 'swirl.%04d.png' "$frame")
    [ -f "$work/farm/$name" ] || fail "frame $frame: the farm wrote no $name"
    cmp -s "$work/ref/$name" "$work/farm/$name" || fail "frame $frame: $name differs from the local render"
  done
  [ "$(ls "$work/farm" | wc -l)" = 24 ] || fail "the farm wrote other files: $(ls "$work/farm" | tr '\n' ' ')"
  say "first: 24 frames, each identical to the local render"

  # Two frames lost; the resubmitted array must render those two and keep the rest.
  local before after deleted="swirl.0007.png swirl.0018.png"
  before=$(cd "$work/farm" && stat -c '%n %i %y' * | grep -v -e swirl.0007.png -e swirl.0018.png)
  (cd "$work/farm" && rm $deleted)
  submit again
  after=$(cd "$work/farm" && stat -c '%n %i %y' * | grep -v -e swirl.0007.png -e swirl.0018.png)
  [ "$before" = "$after" ] || fail "--skip-existing touched frames it should have kept: $(diff <(echo "$before") <(echo "$after") | grep '^>' | cut -d' ' -f2 | tr '\n' ' ')"
  for name in $deleted; do
    [ -f "$work/farm/$name" ] || fail "the resubmitted array did not render $name again"
    cmp -s "$work/ref/$name" "$work/farm/$name" || fail "$name rendered again differs from the local render"
  done
  local wrote kept
  wrote=$(cat "$work"/logs/again-*.log | grep -o 'wrote [^ ]*' | sed 's|.*/||' | sort | tr '\n' ' ')
  kept=$(cat "$work"/logs/again-*.log | grep -c ': kept ' || true)
  [ "$wrote" = "swirl.0007.png swirl.0018.png " ] && [ "$kept" = 22 ] ||
    fail "the resubmitted tasks wrote [$wrote] and kept $kept frames; expected the two deleted and 22"
  say "again: the two deleted frames rendered again (identical), the other 22 untouched"
}

# wait_until SECONDS WHAT PID COMMAND...: runs COMMAND every 0.2 s until it succeeds, while the
# daemon PID lives.
wait_until() {
  local limit=$1 what=$2 pid=$3 start=$SECONDS
  shift 3
  until "$@"; do
    kill -0 "$pid" 2>/dev/null || fail "the daemon (pid $pid) ended while waiting for $what"
    [ $((SECONDS - start)) -lt "$limit" ] || fail "gave up after $limit s waiting for $what"
    sleep 0.2
  done
}

# A TCP port nothing listens on (and not EXCEPT).
free_port() {
  local port hex
  while :; do
    port=$((20000 + RANDOM % 20000))
    [ "$port" != "${1:-}" ] || continue
    hex=$(printf ':%04X ' "$port")
    if ! cat /proc/net/tcp /proc/net/tcp6 2>/dev/null | awk '{print $2" "}' | grep -q "$hex"; then
      echo "$port"
      return
    fi
  done
}

if [ "${1:-}" = --cluster-checks ]; then
  cluster_checks
  exit 0
fi

# ---- the outside: install, build, cache, local render, then the cluster ----------------------

started=$SECONDS
FARM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FARM_EKRENDER=${1:-${EKRENDER:-$FARM_ROOT/build/stage/ekrender}}
FARM_TIMEOUT=${FARM_CHECK_TIMEOUT:-300}

# The programs the check runs, by the Debian package that has them (ip sets up the namespace's
# loopback; a bare Debian image lacks it).
missing=() packages=()
for entry in munge:munged munge:munge munge:unmunge slurm-wlm:slurmctld slurm-wlm:slurmd \
  slurm-wlm:sbatch slurm-wlm:squeue slurm-wlm:scontrol slurm-wlm:sinfo slurm-wlm:scancel \
  iproute2:ip; do
  command -v "${entry#*:}" >/dev/null && continue
  missing+=("${entry#*:}")
  [[ " ${packages[*]} " == *" ${entry%%:*} "* ]] || packages+=("${entry%%:*}")
done
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" = 0 ] || fail "${missing[*]} not installed, and installing ${packages[*]} needs root"
  say "installing ${packages[*]} (missing: ${missing[*]})"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null || fail "apt-get update failed"
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null ||
    fail "apt-get install ${packages[*]} failed"
fi
[ "$(id -u)" = 0 ] || fail "the one-node cluster runs its daemons as root: run as root"

build_targets=()
[ -x "$FARM_EKRENDER" ] || build_targets+=(ekrender)
EKCACHE=${EKCACHE:-$(dirname "$FARM_EKRENDER")/ekcache}
[ -x "$EKCACHE" ] || {
  build_targets+=(ekcache)
  EKCACHE=$FARM_ROOT/build/stage/ekcache
}
if [ ${#build_targets[@]} -gt 0 ]; then
  say "building ${build_targets[*]} in $FARM_ROOT/build"
  if [ ! -f "$FARM_ROOT/build/CMakeCache.txt" ]; then
    launcher=()
    command -v ccache >/dev/null &&
      launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$FARM_ROOT" -B "$FARM_ROOT/build" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
      >/dev/null || fail "cmake could not configure $FARM_ROOT/build"
  fi
  cmake --build "$FARM_ROOT/build" -j "$(nproc)" --target "${build_targets[@]}" >/dev/null ||
    fail "building ${build_targets[*]} failed"
  [ -x "$FARM_EKRENDER" ] || FARM_EKRENDER=$FARM_ROOT/build/stage/ekrender
fi
[ -x "$FARM_EKRENDER" ] || fail "no ekrender at $FARM_EKRENDER"

FARM_WORK=$(mktemp -d "${TMPDIR:-/tmp}/farm-check.XXXXXX")
cleanup() {
  if [ "${FARM_CHECK_KEEP:-0}" = 1 ]; then
    say "kept $FARM_WORK"
  else
    rm -rf "$FARM_WORK"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -p "$FARM_WORK/cache" "$FARM_WORK/ref" "$FARM_WORK/farm" "$FARM_WORK/logs"

"$EKCACHE" --output "$FARM_WORK/cache/swirl.####.vdb" --start 1 --end 24 --points 4000 >/dev/null ||
  fail "ekcache could not write the cache"
say "wrote a 24-frame .vdb cache of 4000 points a frame in $FARM_WORK/cache"
cat >"$FARM_WORK/job.ini" <<EOF
; one farm job: the cache, the frames and the look; each task adds its chunk
device = "cpu"
input = "$FARM_WORK/cache/swirl.####.vdb"
start = 1
end = 24
size = "160x90"
eye = "0,12,26"
target = "0,0,0"
aperture = 0.4
focus = 28
shutter = 0.5
samples = 4
radius = 0.08
EOF
local_start=$SECONDS
"$FARM_EKRENDER" --config "$FARM_WORK/job.ini" --output "$FARM_WORK/ref/swirl.####.png" \
  >"$FARM_WORK/logs/local.log" 2>&1 || {
  cat "$FARM_WORK/logs/local.log" >&2
  fail "the local render failed"
}
say "local render of frames 1-24 in one run: $((SECONDS - local_start)) s"

# The volumetric look sums its maps and its image in ways that do not depend on the number of
# threads: chunks rendered by other worker counts (other machines of a farm) give the same bytes.
mkdir -p "$FARM_WORK/vol-ref" "$FARM_WORK/vol-chunks"
volumetric=(--config "$FARM_WORK/job.ini" --device cpu --volumetric --density 3 --repopulation 2 --format exr
  --light "spot:pos=0,14,10:dir=0,-1,-0.7:color=3,3,3" --light "point:pos=1,1,0:color=2,1.5,1")
"$FARM_EKRENDER" "${volumetric[@]}" --output "$FARM_WORK/vol-ref/swirl.####.exr" \
  >"$FARM_WORK/logs/vol-ref.log" 2>&1 || {
  cat "$FARM_WORK/logs/vol-ref.log" >&2
  fail "the local volumetric render failed"
}
chunk=0
for workers in 1 2 3 8; do
  EMBERKIT_CPU_WORKERS=$workers "$FARM_EKRENDER" "${volumetric[@]}" --chunks 4 --chunk $chunk \
    --output "$FARM_WORK/vol-chunks/swirl.####.exr" >"$FARM_WORK/logs/vol-chunk-$chunk.log" 2>&1 || {
    cat "$FARM_WORK/logs/vol-chunk-$chunk.log" >&2
    fail "volumetric chunk $chunk on $workers workers failed"
  }
  chunk=$((chunk + 1))
done
for frame in $(seq 1 24); do
  name=$(printf 'swirl.%04d.exr' "$frame")
  cmp -s "$FARM_WORK/vol-ref/$name" "$FARM_WORK/vol-chunks/$name" ||
    fail "volumetric frame $frame: $name from its chunk differs from the whole run"
done
say "volumetric: 24 frames in 4 chunks on 1, 2, 3 and 8 workers, each identical to the whole run"

export FARM_ROOT FARM_EKRENDER FARM_TIMEOUT FARM_WORK
checks_status=0
# In its own network namespace the cluster has only loopback; in its own process namespace no
# process of it (a job step included) outlives the check.
namespaces=(--net --pid --fork --kill-child)
if [ "${FARM_CHECK_NAMESPACES:-1}" = 1 ] && unshare "${namespaces[@]}" true 2>/dev/null; then
  say "the cluster runs in private network and process namespaces (loopback only)"
  FARM_NETNS=1 unshare "${namespaces[@]}" -- bash "$FARM_ROOT/scripts/farm-check.sh" \
    --cluster-checks || checks_status=$?
else
  say "the cluster runs in this machine's namespaces (unshare refused, or FARM_CHECK_NAMESPACES=0):" \
    "nodes talk over 127.0.0.1, but the daemons listen on every interface"
  bash "$FARM_ROOT/scripts/farm-check.sh" --cluster-checks || checks_status=$?
fi
[ "$checks_status" = 0 ] || exit "$checks_status"
say "passed in $((SECONDS - started)) s"
