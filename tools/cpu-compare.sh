#!/usr/bin/env bash
# Compares the CPU that a running saver costs, and what it costs the X server,
# with a floor and with xpenguins, a classic X11 desktop toy of the same kind.
# Under one Xvfb of the given size each runs alone for the same stretch of
# wall-clock time, after a stretch with nothing running (the server's idle
# cost): the floor (footprint/tickfloor.c: a bare client copying one 48 x 48
# box to a full-screen window ten times a second), the figures' floor (the
# same client drawing five figures' pixels as the saver draws them, with the
# same requests: what the drawing alone costs the server), the saver, and
# xpenguins when it is installed.
#   tools/cpu-compare.sh [SECONDS] [WxH] [path/to/hakop]
#
# CPU time is the sum over all of a process's threads of the scheduler's
# run time (/proc/PID/task/*/schedstat, nanoseconds). The clock-tick figures of
# /proc/PID/stat are too coarse here: at 0.1 % a minute holds six ticks, and a
# process that wakes briefly between ticks is charged by chance. Wake-ups are
# the voluntary context switches of all threads over the same stretch. The
# server's figure is what it spent beyond its idle cost.
set -euo pipefail

secs=${1:-60}
size=${2:-1920x1080}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
hakop=${3:-$root/build/app/hakop}
[ -x "$hakop" ] || { echo "cpu-compare: $hakop not built (run tools/dev build)" >&2; exit 1; }
command -v cc >/dev/null || { echo "cpu-compare: needs a C compiler" >&2; exit 1; }
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
cc -O2 -o "$bin/tickfloor" "$root/tools/footprint/tickfloor.c" -lX11

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

# NAME PID SERVER -> "NAME <program s> <server s> <wake-ups/s> <wall s>" over $secs
stretch() {
  local name=$1 pid=$2 server=$3 p0 v0 t0 p1 v1 t1
  p0=$(measure "$pid"); v0=$(measure "$server"); t0=$(date +%s.%N)
  sleep "$secs"
  p1=$(measure "$pid"); v1=$(measure "$server"); t1=$(date +%s.%N)
  awk -v n="$name" -v p0="$p0" -v p1="$p1" -v v0="$v0" -v v1="$v1" -v t0="$t0" -v t1="$t1" 'BEGIN {
    split(p0, a, " "); split(p1, b, " "); split(v0, c, " "); split(v1, d, " ")
    printf "%s %.6f %.6f %.2f %.3f\n", n, (b[1] - a[1]) / 1e9, (d[1] - c[1]) / 1e9, (b[2] - a[2]) / (t1 - t0), t1 - t0
  }'
}

run() {
  local server pid
  server=$(pgrep -P "$PPID" -x Xvfb)
  stretch idle "$server" "$server"
  "$bin/tickfloor" & pid=$!; sleep 3
  stretch floor $pid "$server"; kill $pid; wait $pid 2>/dev/null || true
  "$bin/tickfloor" --figures & pid=$!; sleep 3
  stretch figures $pid "$server"; kill $pid; wait $pid 2>/dev/null || true
  # No verifier is on the library path, so nothing ends the saver early.
  "$hakop" /s >/dev/null 2>&1 & pid=$!; sleep 3   # past its start-up work
  stretch hakop $pid "$server"; kill $pid; wait $pid 2>/dev/null || true
  if command -v xpenguins >/dev/null; then
    xpenguins >/dev/null 2>&1 & pid=$!; sleep 3
    stretch xpenguins $pid "$server"; kill $pid; wait $pid 2>/dev/null || true
  fi
}

export -f run stretch measure
export secs bin hakop
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
"$root/tests/e2e/with-x" --size "${size}x24" -- bash -c run | awk -v size="$size" '
  $1 == "idle" { idle = $3 / $5; next }
  { name[NR] = $1; cpu[$1] = $2 / $5; srv[$1] = $3 / $5 - idle; wake[$1] = $4; order[++n] = $1 }
  END {
    printf "screen %s; X server idle: %.3f %%\n", size, 100 * idle
    printf "  %-10s %10s %14s %10s %12s %12s %14s\n", "", "CPU %", "X server +%", "wake-ups/s", "CPU / floor", "X / floor",
      "X / figures"
    for (i = 1; i <= n; ++i) {
      p = order[i]
      printf "  %-10s %10.3f %14.3f %10.1f %12.2f %12.2f %14.2f\n", p, 100 * cpu[p], 100 * srv[p], wake[p],
        cpu[p] / cpu["floor"], srv[p] / srv["floor"], srv[p] / srv["figures"]
    }
  }'
