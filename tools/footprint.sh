#!/usr/bin/env bash
# Start-up time and peak memory of the running saver against a floor: for
# each screen size, under a private Xvfb, the time from exec until the
# saver's window is mapped (the screen covered), until it holds the keyboard,
# until its first figures show (see footprint/startwatch.c for how each is
# seen), and the process's peak resident set (VmHWM) and how much Xvfb grew,
# a moment later; beside them the map and peak of a minimal C program that
# grabs the root with XGetImage and maps a window showing it.
#   tools/footprint.sh [RUNS] [path/to/hakop] [SIZES...]
# Prints best and median of RUNS (3) runs per size, and the load average when
# it began: the machine may be shared.
set -euo pipefail

runs=${1:-3}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
hakop=${2:-$root/build/app/hakop}
shift $(($# > 2 ? 2 : $#))
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1920x1080 3840x2160 7680x4320)
[ -x "$hakop" ] || { echo "footprint: $hakop not built (run tools/dev build)" >&2; exit 1; }
command -v cc >/dev/null || { echo "footprint: needs a C compiler" >&2; exit 1; }

bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
cc -O2 -o "$bin/mapwatch" "$root/tools/footprint/mapwatch.c" -lX11
cc -O2 -o "$bin/startwatch" "$root/tools/footprint/startwatch.c" -lX11 -lXdamage -lxcb
cc -O2 -o "$bin/floor" "$root/tools/footprint/floor.c" -lX11

# "<best>/<median>" of the numbers on stdin.
best_median() { sort -g | awk '{v[NR] = $1} END {printf "%s/%s", v[1], v[int((NR + 1) / 2)]}'; }

measure() { # SIZE -> runs of "map held figures peakKiB serverKiB" in $bin/hakop.out, "map peakKiB" in $bin/floor.out
  # A fresh server for every run: one that has freed a screen-sized pixmap
  # before hands out its pages again without the faults a first start pays.
  : >"$bin/hakop.out"; : >"$bin/floor.out"
  for _ in $(seq 1 "$runs"); do
    "$root/tests/e2e/with-x" --size "${1}x24" -- bash -c '
      "$0/startwatch" -s "$(pgrep -P "$PPID" -x Xvfb || echo 0)" "$1" /s' "$bin" "$hakop" >>"$bin/hakop.out"
    "$root/tests/e2e/with-x" --size "${1}x24" -- "$bin/mapwatch" "$bin/floor" >>"$bin/floor.out"
  done
}

echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg); best/median of $runs runs"
printf "%-10s %-14s %-14s %-14s %-12s %-12s | %-14s %s\n" screen "map ms" "held ms" "figures ms" "peak MiB" "Xvfb +MiB" \
  "floor map ms" "floor MiB"
for size in "${sizes[@]}"; do
  measure "$size"
  col() { awk -v c="$1" '{print $c}' "$bin/$2.out" | best_median; }
  mib() { awk -v c="$1" '{printf "%.1f\n", $c / 1024}' "$bin/$2.out" | best_median; }
  printf "%-10s %-14s %-14s %-14s %-12s %-12s | %-14s %s\n" "$size" "$(col 1 hakop)" "$(col 2 hakop)" \
    "$(col 3 hakop)" "$(mib 4 hakop)" "$(mib 5 hakop)" "$(col 1 floor)" "$(mib 2 floor)"
done
