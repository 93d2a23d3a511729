#!/usr/bin/env bash
# Compares the CPU that a running saver costs with xpenguins, a classic X11
# desktop toy of the same kind: both run at the same time under one Xvfb of the
# given size, and each process's user+system time is read from /proc over the
# same stretch of wall-clock time.
#   tools/cpu-compare.sh [SECONDS] [WxH] [path/to/hakop]
set -euo pipefail

secs=${1:-60}
size=${2:-1920x1080}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
hakop=${3:-$root/build/app/hakop}
[ -x "$hakop" ] || { echo "cpu-compare: $hakop not built (run tools/dev build)" >&2; exit 1; }
command -v xpenguins >/dev/null || { echo "cpu-compare: xpenguins is not installed" >&2; exit 1; }

measure() {
  # prints user+system clock ticks of a pid
  awk '{print $14 + $15}' "/proc/$1/stat"
}

run() {
  local tmp; tmp=$(mktemp -d)
  # an empty verifier search path: nothing must end the saver early
  xpenguins >/dev/null 2>&1 &
  local peng=$!
  "$hakop" /s >/dev/null 2>&1 &
  local saver=$!
  sleep 2   # both are up and past their start-up work
  local p0 s0; p0=$(measure $peng); s0=$(measure $saver)
  local t0; t0=$(date +%s.%N)
  sleep "$secs"
  local p1 s1; p1=$(measure $peng); s1=$(measure $saver)
  local t1; t1=$(date +%s.%N)
  kill $peng $saver 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$tmp"
  local hz; hz=$(getconf CLK_TCK)
  awk -v p=$((p1 - p0)) -v s=$((s1 - s0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" -v size="$size" 'BEGIN {
    wall = t1 - t0
    printf "screen %s, %.1f s of wall-clock time\n", size, wall
    printf "  xpenguins: %6.2f s CPU  (%5.2f %%)\n", p / hz, 100 * p / hz / wall
    printf "  hakop /s:  %6.2f s CPU  (%5.2f %%)\n", s / hz, 100 * s / hz / wall
  }'
}

export -f run measure
export secs size hakop
"$root/tests/e2e/with-x" --size "${size}x24" -- bash -c run
