#!/usr/bin/env bash
# The running saver keeps nothing screen-sized in its own memory: its peak
# resident memory on a 7680 x 4320 screen stays within 16 MiB of that on a
# 1024 x 768 one (a single 8K picture alone would be 126 MiB).
# The guest drawing on the root window keeps within the same margin.
#   footprint_test.sh HAKOP MAPWATCH WITH_X HAKOP_HOSTED
set -euo pipefail
hakop=$1 mapwatch=$2 with_x=$3 hosted=$4

peak() { # SIZE -> peak RSS in KiB
  "$with_x" --size "$1" -- "$mapwatch" "$hakop" /s 2>/dev/null | awk '{print $2}'
}
small=$(peak 1024x768x24)
large=$(peak 7680x4320x24)
echo "peak RSS: $small KiB at 1024 x 768, $large KiB at 7680 x 4320"
[ "$small" -gt 0 ] && [ "$large" -gt 0 ] || { echo "FAIL: no measurement" >&2; exit 1; }
[ $((large - small)) -le $((16 * 1024)) ] || { echo "FAIL: the saver's memory grows with the screen" >&2; exit 1; }

guest_peak() { # SIZE -> peak RSS in KiB of the guest on the root, 3 s into its run
  "$with_x" --size "$1" -- bash -c '"$0" -root 2>/dev/null & pid=$!; sleep 3
    awk "/^VmHWM:/ {print \$2}" /proc/$pid/status; kill $pid; wait $pid' "$hosted"
}
small=$(guest_peak 1024x768x24)
large=$(guest_peak 7680x4320x24)
echo "guest peak RSS: $small KiB at 1024 x 768, $large KiB at 7680 x 4320"
[ "$small" -gt 0 ] && [ "$large" -gt 0 ] || { echo "FAIL: no measurement of the guest" >&2; exit 1; }
[ $((large - small)) -le $((16 * 1024)) ] || { echo "FAIL: the guest's memory grows with the screen" >&2; exit 1; }
