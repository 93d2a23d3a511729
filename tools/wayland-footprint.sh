#!/usr/bin/env bash
# The saver's start on Wayland: for each screen size, on a private headless
# compositor with one output (sway with pixman by default; mutter, GNOME's
# compositor without the shell; KWin with OpenGL on llvmpipe, the frozen
# desktop through its screenshot service; GNOME Shell, the frozen desktop
# through the desktop portal, its permission given first), the time from exec until the
# screen copy is ready (sway's, which the log shows), until the first buffer
# is attached, until every output's cover has its first picture committed
# (covered), until the keyboard enters our surface (input held), and the peak
# resident memory (VmHWM) once it runs.
#   tools/wayland-footprint.sh [--on sway|mutter|kwin|gnome-shell] [RUNS] [SIZES] [path/to/hakop]
# SIZES is a space-separated list (default "1920x1080 3840x2160 7680x4320").
# Prints best and median of RUNS (3) runs per size. Needs root: the
# compositor runs as an unprivileged user (see tests/wayland/with-sway,
# tests/desktops/with-mutter, tests/desktops/with-kwin).
#
# The moments are read from libwayland's log of the saver's messages
# (WAYLAND_DEBUG=client): each line carries the wall clock in milliseconds,
# which the exec time, taken just before, is compared with. The log costs a
# little per message, nothing per pixel.
set -euo pipefail

on=sway
if [ "${1:-}" = --on ]; then on=$2; shift 2; fi
runs=${1:-3}
sizes=${2:-1920x1080 3840x2160 7680x4320}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
hakop=${3:-$root/build/app/hakop}
[ -x "$hakop" ] || { echo "wayland-footprint: $hakop not built (run tools/dev build)" >&2; exit 1; }

tmp=$(mktemp -d)
chmod 755 "$tmp"
trap 'rm -rf "$tmp"' EXIT

# One start on the display the harness made, through $launch (a program that
# runs its arguments as the compositor's user, or nothing). Prints "<copy
# ready ms> <first buffer ms> <covered ms> <keyboard enter ms> <peak kB>",
# each -1 when it never came.
one_run() {
  local log=$tmp/run.log
  # The exec time in the log's own unit: microseconds of the wall clock as an
  # unsigned 32-bit count (printed as milliseconds).
  bash -c 'echo $(( $(date +%s%N) / 1000 % 4294967296 )) >"$0.start"; exec $2 env WAYLAND_DEBUG=client "$1" /s' \
    "$log" "$hakop" "$launch" >/dev/null 2>"$log" &
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
    # A surface is covered at the commit after its first attach; the screen when the last one is.
    { id = $0; sub(/.*wl_surface@/, "", id); sub(/\..*/, "", id) }
    /-> wl_surface@[0-9]+\.attach\(wl_buffer/ && !(id in seen) { seen[id] = 1; first[id] = 1 }
    /-> wl_surface@[0-9]+\.commit\(/ && first[id] { first[id] = 0; covered = at($0) }
    function since(t) { if (!t) return -1; d = t - start; if (d < 0) d += 4294967296; return d / 1000 }
    END { printf "%.1f %.1f %.1f %.1f %d\n", since(ready), since(buffer), since(covered), since(enter), peak }' "$log"
}
me=wayland-footprint
# shellcheck source=tools/desktop-grants.sh
source "$root/tools/desktop-grants.sh"
runs_of() { for _ in $(seq 1 "$1"); do one_run; done; }
# GNOME's seat gets its keyboard with a remote desktop session's first key:
# one, held open while the runs last (GNOME drops the focus when it ends).
keyboard_runs() { # RUNS INPUT-PROGRAM
  coproc remote { $launch /usr/bin/python3 "$2"; }
  local line
  read -r -t 20 -u "${remote[0]}" line && [ "$line" = ready ] ||
    { echo "wayland-footprint: no remote desktop session" >&2; return 1; }
  echo "key 42" >&"${remote[1]}"; echo sync >&"${remote[1]}"; read -r -t 20 -u "${remote[0]}" line
  runs_of "$1"
  # The session ends before mutter does.
  # shellcheck disable=SC2154  # remote_PID: set by coproc
  local session=$remote_PID keys=${remote[1]}
  exec {keys}>&-
  wait "$session"
}
export -f one_run runs_of keyboard_runs
input=$root/tests/desktops/mutter-input
export hakop tmp me launch=

# The runs on one compositor of SIZE, with a keyboard for the saver to take:
# a headless seat has none until a virtual one comes.
on_sway() { # A virtual keyboard, held while the runs last (it types nothing).
  "$root/tests/wayland/with-sway" --size "$1" --outputs 1 -- \
    bash -c 'command -v wtype >/dev/null || { echo "wayland-footprint: needs wtype" >&2; exit 1; }
      wtype -s 86400000 & keyboard=$!
      sleep 0.3
      runs_of "$0"
      kill $keyboard' "$runs"
}
on_mutter() {
  "$root/tests/desktops/with-mutter" --size "$1" -- bash -c 'keyboard_runs "$0" "$1"' "$runs" "$input"
}
on_kwin() { # KWin's seat has a keyboard; KWin sees its clients' paths only when they run as its user.
  "$root/tests/desktops/with-kwin" --size "$1" --outputs 1 -- \
    bash -c 'launch=$HAKOP_KWIN_AS_USER; kwin_grant && runs_of "$0"' "$runs"
}
# The portal answers only the session's own user. The headless shell's seat
# offers no keyboard (not even with a remote desktop session): no keyboard enter.
on_gnome-shell() {
  "$root/tests/desktops/with-gnome-shell" --size "$1" -- \
    bash -c 'launch=$HAKOP_AS_DESKTOP_USER; portal_grant && runs_of "$0"' "$runs"
}

# "<best> <median>" of the numbers on stdin.
best_median() { sort -g | awk '{v[NR] = $1} END {printf "%s %s", v[1], v[int((NR + 1) / 2)]}'; }

echo "on $on; best / median of $runs runs"
printf "| %-9s | %-15s | %-15s | %-15s | %-17s | %-11s |\n" screen "copy ready ms" "first buffer ms" "covered ms" \
  "keyboard enter ms" "peak MiB"
echo "|---|---:|---:|---:|---:|---:|"
for size in $sizes; do
  : >"$tmp/$size"
  "on_$on" "$size" >>"$tmp/$size"
  line="$size"
  for column in 1 2 3 4; do
    line="$line $(awk -v c=$column '{print $c}' "$tmp/$size" | best_median)"
  done
  line="$line $(awk '{print $5 / 1024}' "$tmp/$size" | best_median)"
  echo "$line" | awk 'function ms(a, b) { return a < 0 ? "–" : sprintf("%.0f / %.0f", a, b) }
    {printf "| %-9s | %15s | %15s | %15s | %17s | %11s |\n", $1, ms($2, $3), ms($4, $5), ms($6, $7), ms($8, $9),
            sprintf("%.0f / %.0f", $10, $11)}'
done
