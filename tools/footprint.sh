#!/usr/bin/env bash
# Start-up time and peak memory of the running saver against a floor: for
# each screen size, under a private Xvfb, the time from exec until the
# saver's window is mapped and the process's peak resident set (VmHWM) a
# moment later; beside them the same for a minimal C program that grabs the
# root with XGetImage and maps a window showing it.
#   tools/footprint.sh [RUNS] [path/to/hakop]
# Prints best and median of RUNS (3) runs per size, and hakop ÷ floor.
set -euo pipefail

runs=${1:-3}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
hakop=${2:-$root/build/app/hakop}
[ -x "$hakop" ] || { echo "footprint: $hakop not built (run tools/dev build)" >&2; exit 1; }
command -v cc >/dev/null || { echo "footprint: needs a C compiler" >&2; exit 1; }

bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
cc -O2 -o "$bin/mapwatch" "$root/tools/footprint/mapwatch.c" -lX11
cc -O2 -o "$bin/floor" "$root/tools/footprint/floor.c" -lX11

# "<best> <median>" of the numbers on stdin.
best_median() { sort -g | awk '{v[NR] = $1} END {printf "%s %s", v[1], v[int((NR + 1) / 2)]}'; }

measure() { # SIZE -> one line per program: name, best/median ms, best/median MiB
  local size=$1
  "$root/tests/e2e/with-x" --size "${size}x24" -- bash -c '
    set -euo pipefail
    for prog in hakop floor; do
      : >"$0/$prog.ms"; : >"$0/$prog.kib"
      for _ in $(seq 1 "$1"); do
        if [ $prog = hakop ]; then
          out=$("$0/mapwatch" "$2" /s)
        else
          out=$("$0/mapwatch" "$0/floor")
        fi
        echo "${out% *}" >>"$0/$prog.ms"
        echo "${out#* }" >>"$0/$prog.kib"
      done
    done' "$bin" "$runs" "$hakop"
  local p ms kib
  for p in hakop floor; do
    ms=$(best_median <"$bin/$p.ms")
    kib=$(best_median <"$bin/$p.kib")
    echo "$size $p $ms $kib"
  done
}

printf "%-10s %-6s %21s %21s\n" screen prog "map ms (best/median)" "peak MiB (best/median)"
for size in 1920x1080 3840x2160 7680x4320; do
  measure "$size" | awk '{
    printf "%-10s %-6s %10.1f / %-8.1f %10.1f / %-8.1f\n", $1, $2, $3, $4, $5 / 1024, $6 / 1024
    ms[$2] = $4; mib[$2] = $6 / 1024
  } END {
    printf "%-10s %-6s %10s x%-8.2f %10s x%-8.2f\n", "", "ratio", "", ms["hakop"] / ms["floor"], "", mib["hakop"] / mib["floor"]
  }'
done
