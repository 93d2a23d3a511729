#!/usr/bin/env bash
# Compares the CPU that a running saver costs with xpenguins, a classic X11
# desktop toy of the same kind: both run at the same time under one Xvfb of the
# given size, and each process's CPU time is read over the same stretch of
# wall-clock time.
#   tools/cpu-compare.sh [SECONDS] [WxH] [path/to/hakop]
#
# CPU time is the sum over all of a process's threads of the scheduler's
# run time (/proc/PID/task/*/schedstat, nanoseconds). The clock-tick figures of
# /proc/PID/stat are too coarse here: at 0.1 % a minute holds six ticks, and a
# process that wakes briefly between ticks is charged by chance. Wake-ups are
# the voluntary context switches of all threads over the same stretch.
set -euo pipefail

secs=${1:-60}
size=${2:-1920x1080}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
hakop=${3:-$root/build/app/hakop}
[ -x "$hakop" ] || { echo "cpu-compare: $hakop not built (run tools/dev build)" >&2; exit 1; }
command -v xpenguins >/dev/null || { echo "cpu-compare: xpenguins is not installed" >&2; exit 1; }

# "<run time in ns> <voluntary context switches>" of a process, all threads.
measure() {
  local ns=0 sw=0 t v
  for t in /proc/"$1"/task/*; do
    read -r v _ < "$t/schedstat" || continue
    ns=$((ns + v))
    v=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status") || continue
    sw=$((sw + v))
  done
  echo "$ns $sw"
}

run() {
  xpenguins >/dev/null 2>&1 &
  local peng=$!
  # No verifier is on the library path, so nothing ends the saver early.
  "$hakop" /s >/dev/null 2>&1 &
  local saver=$!
  sleep 3   # both are up and past their start-up work
  local p0 s0 t0 p1 s1 t1
  p0=$(measure $peng); s0=$(measure $saver); t0=$(date +%s.%N)
  sleep "$secs"
  p1=$(measure $peng); s1=$(measure $saver); t1=$(date +%s.%N)
  local alive=1
  kill -0 $peng 2>/dev/null || { echo "cpu-compare: xpenguins ended early" >&2; alive=0; }
  kill -0 $saver 2>/dev/null || { echo "cpu-compare: hakop ended early" >&2; alive=0; }
  kill $peng $saver 2>/dev/null || true
  wait 2>/dev/null || true
  [ $alive = 1 ] || return 1
  awk -v p0="$p0" -v p1="$p1" -v s0="$s0" -v s1="$s1" -v t0="$t0" -v t1="$t1" -v size="$size" 'BEGIN {
    wall = t1 - t0
    split(p0, a, " "); split(p1, b, " "); pc = (b[1] - a[1]) / 1e9; pw = b[2] - a[2]
    split(s0, a, " "); split(s1, b, " "); sc = (b[1] - a[1]) / 1e9; sw = b[2] - a[2]
    printf "screen %s, %.1f s of wall-clock time\n", size, wall
    printf "  xpenguins: %8.3f s CPU  (%6.3f %%)  %6.1f wake-ups/s\n", pc, 100 * pc / wall, pw / wall
    printf "  hakop /s:  %8.3f s CPU  (%6.3f %%)  %6.1f wake-ups/s\n", sc, 100 * sc / wall, sw / wall
  }'
}

export -f run measure
export secs size hakop
"$root/tests/e2e/with-x" --size "${size}x24" -- bash -c run
