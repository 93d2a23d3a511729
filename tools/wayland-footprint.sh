#!/usr/bin/env bash
# The saver's start on Wayland: for each screen size, on a private headless
# sway (one output, pixman), the time from exec until the screen copy is
# ready, until the first buffer is attached (the output covered), until the
# keyboard enters our surface (input held), and the peak resident memory
# (VmHWM) once it runs.
#   tools/wayland-footprint.sh [RUNS] [SIZES] [path/to/hakop]
# SIZES is a space-separated list (default "1920x1080 3840x2160 7680x4320").
# Prints best and median of RUNS (3) runs per size. Needs root: sway runs as
# an unprivileged user (see tests/wayland/with-sway).
#
# The moments are read from libwayland's log of the saver's messages
# (WAYLAND_DEBUG=client): each line carries the wall clock in milliseconds,
# which the exec time, taken just before, is compared with. The log costs a
# little per message, nothing per pixel.
set -euo pipefail

runs=${1:-3}
sizes=${2:-1920x1080 3840x2160 7680x4320}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
hakop=${3:-$root/build/app/hakop}
[ -x "$hakop" ] || { echo "wayland-footprint: $hakop not built (run tools/dev build)" >&2; exit 1; }

tmp=$(mktemp -d)
chmod 755 "$tmp"
trap 'rm -rf "$tmp"' EXIT

# One start on the display the harness made. Prints "<copy ready ms> <first
# buffer ms> <keyboard enter ms> <peak kB>", each -1 when it never came.
one_run() {
  local log=$tmp/run.log
  # The exec time in the log's own unit: microseconds of the wall clock as an
  # unsigned 32-bit count (printed as milliseconds).
  bash -c 'echo $(( $(date +%s%N) / 1000 % 4294967296 )) >"$0.start"; exec env WAYLAND_DEBUG=client "$1" /s' \
    "$log" "$hakop" >/dev/null 2>"$log" &
  local saver=$! peak=-1
  # Until the keyboard has entered, then a moment for the first ticks.
  for _ in $(seq 1 300); do
    grep -q 'wl_keyboard@[0-9]*\.enter(' "$log" 2>/dev/null && break
    kill -0 $saver 2>/dev/null || break
    sleep 0.05
  done
  sleep 2
  if kill -0 $saver 2>/dev/null; then
    peak=$(awk '/^VmHWM/ {print $2}' /proc/$saver/status)
    kill $saver
  fi
  wait $saver 2>/dev/null || true
  awk -v start="$(cat "$log.start")" -v peak="$peak" '
    function at(line) { t = line; sub(/^\[ */, "", t); sub(/\].*/, "", t); return t * 1000 }
    !ready && /zwlr_screencopy_frame_v1@[0-9]*\.ready\(/ { ready = at($0) }
    !buffer && /-> wl_surface@[0-9]*\.attach\(wl_buffer@/ { buffer = at($0) }
    !enter && /wl_keyboard@[0-9]*\.enter\(/ { enter = at($0) }
    function since(t) { if (!t) return -1; d = t - start; if (d < 0) d += 4294967296; return d / 1000 }
    END { printf "%.1f %.1f %.1f %d\n", since(ready), since(buffer), since(enter), peak }' "$log"
}
export -f one_run
export hakop tmp

# "<best> <median>" of the numbers on stdin.
best_median() { sort -g | awk '{v[NR] = $1} END {printf "%s %s", v[1], v[int((NR + 1) / 2)]}'; }

printf "%-10s %19s %19s %19s %17s\n" screen "copy ready ms" "first buffer ms" "keyboard enter ms" "peak MiB"
printf "%-10s %19s %19s %19s %17s\n" "" "best / median" "best / median" "best / median" "best / median"
for size in $sizes; do
  : >"$tmp/$size"
  # A headless seat has no keyboard: a virtual one, held while the runs last
  # (it types nothing), gives the saver one to take.
  "$root/tests/wayland/with-sway" --size "$size" --outputs 1 -- \
    bash -c 'command -v wtype >/dev/null || { echo "wayland-footprint: needs wtype" >&2; exit 1; }
      wtype -s 86400000 & keyboard=$!
      sleep 0.3
      for _ in $(seq 1 "$0"); do one_run; done
      kill $keyboard' "$runs" >>"$tmp/$size"
  line="$size"
  for column in 1 2 3; do
    line="$line $(awk -v c=$column '{print $c}' "$tmp/$size" | best_median)"
  done
  line="$line $(awk '{print $4 / 1024}' "$tmp/$size" | best_median)"
  echo "$line" | awk '{printf "%-10s %8.0f / %-8.0f %8.0f / %-8.0f %8.0f / %-8.0f %7.0f / %-7.0f\n", $1, $2, $3, $4, $5, $6, $7, $8, $9}'
done
