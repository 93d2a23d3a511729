#!/usr/bin/env bash
# What the saver costs on each desktop: the same saver runs, one after the
# other, on a private Xvfb, a headless sway (pixman), a headless mutter
# (GNOME's compositor alone: no portal, so the plain backdrop), a headless
# KWin (OpenGL on llvmpipe, the frozen desktop through its screenshot
# service) and a headless GNOME Shell (the frozen desktop through the desktop
# portal, its permission given first), each with one output of the given
# size. For each: the saver's CPU and wake-ups, the display server's CPU over
# the same stretch and how much of it the saver added to the server's idle
# cost, both processes' peak resident memory, and (on Wayland) the time from
# exec until every output's cover has its first picture committed. One
# markdown table per size at the end, each cell the median of the runs.
#   tools/wayland-cpu-compare.sh [SECONDS] [WxH ...] [path/to/hakop]
# Several sizes (one word, space-separated: "1920x1080 3840x2160") are
# measured one after the other, and the saver's CPU on sway at each is then
# given against its CPU at the first: what grows with the screen.
# The environment may set RUNS (1; the compositors take turns, so a burst of
# load elsewhere spreads over them) and DESKTOPS ("x11 sway mutter kwin
# gnome-shell"; one that cannot run here is left out with its reason).
# Needs root: the compositors run as an unprivileged user (see the launchers
# in tests/e2e, tests/wayland and tests/desktops). On sway, from a few seconds
# of libwayland's request log, how many pixels the saver damages per commit.
#
# CPU time is the scheduler's run time summed over all threads
# (/proc/PID/task/*/schedstat), as in tools/cpu-compare.sh; peak memory is
# VmHWM, read just before the saver is stopped.
set -euo pipefail

secs=${1:-60}
sizes=${2:-1920x1080}
runs=${RUNS:-1}
desktops=${DESKTOPS:-x11 sway mutter kwin gnome-shell}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
hakop=${3:-$root/build/app/hakop}
[ -x "$hakop" ] || { echo "wayland-cpu-compare: $hakop not built (run tools/dev build)" >&2; exit 1; }

# "<run time in ns>" of a process, all threads.
cpu_ns() {
  local ns=0 t v
  for t in /proc/"$1"/task/*; do
    read -r v _ < "$t/schedstat" || continue
    ns=$((ns + v))
  done
  echo "$ns"
}
# Times a process went to sleep (all threads): its wake-ups.
wakeups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ {n += $2} END {print n + 0}'; }
peak_kb() { awk '/^VmHWM/ {print $2}' "/proc/$1/status"; }

# Runs on the display the harness made; SERVER names the display server's PID.
# Prints "<saver s> <server s> <wall s> <saver peak kB> <server peak kB>
# <server s without the saver> <saver wake-ups>": the server's own idle cost is measured first,
# over as long a stretch, so what the saver adds to it shows.
run() {
  local server=$1
  local i0 i1
  i0=$(cpu_ns "$server")
  sleep "$secs"
  i1=$(cpu_ns "$server")
  # No verifier is on the library path, so nothing ends the saver early.
  $launch "$hakop" /s >/dev/null 2>"$out.err" &
  local saver=$!
  sleep 3   # past its start-up work
  local s0 x0 t0 s1 x1 t1 w0 w1
  s0=$(cpu_ns $saver); x0=$(cpu_ns "$server"); w0=$(wakeups $saver); t0=$(date +%s.%N)
  sleep "$secs"
  s1=$(cpu_ns $saver); x1=$(cpu_ns "$server"); w1=$(wakeups $saver); t1=$(date +%s.%N)
  local sp xp
  sp=$(peak_kb $saver); xp=$(peak_kb "$server")
  kill -0 $saver 2>/dev/null || { echo "wayland-cpu-compare: hakop ended early:" >&2; cat "$out.err" >&2; return 1; }
  kill $saver
  wait $saver 2>/dev/null || true
  awk -v s="$((s1 - s0))" -v x="$((x1 - x0))" -v t0="$t0" -v t1="$t1" -v sp="$sp" -v xp="$xp" -v i="$((i1 - i0))" \
    -v w="$((w1 - w0))" \
    'BEGIN { printf "%.3f %.3f %.3f %d %d %.3f %d\n", s / 1e9, x / 1e9, t1 - t0, sp, xp, i / 1e9, w }' >"$out"
  echo -1 >"$out.covered"
}
# What the saver damages per commit, read from libwayland's log of its requests
# over a few seconds (a run of its own: the log costs CPU). Prints "<commits
# after the first> <mean px> <largest px> <first commit px>" for the surface
# committed most often, the figures' one, counting commits that damage anything.
damage() {
  WAYLAND_DEBUG=client timeout 6 "$hakop" /s >/dev/null 2>"$out.log" || true
  awk '
    match($0, /-> wl_surface@[0-9]+\.damage_buffer\(/) {
      id = $0; sub(/.*wl_surface@/, "", id); sub(/\..*/, "", id)
      args = $0; sub(/.*damage_buffer\(/, "", args); sub(/\).*/, "", args)
      split(args, a, ", "); pending[id] += a[3] * a[4]; next
    }
    match($0, /-> wl_surface@[0-9]+\.commit\(/) {
      id = $0; sub(/.*wl_surface@/, "", id); sub(/\..*/, "", id)
      # A commit without damage (the first, which asks for the size) shows nothing new.
      if (pending[id] > 0) { n[id]++; px[id, n[id]] = pending[id] }
      pending[id] = 0
    }
    END {
      best = ""; commits = 0
      for (id in n) if (n[id] > commits) { commits = n[id]; best = id }
      sum = 0; most = 0
      for (i = 2; i <= n[best]; i++) { sum += px[best, i]; if (px[best, i] > most) most = px[best, i] }
      printf "%d %.0f %d %d\n", n[best] - 1, (n[best] > 1 ? sum / (n[best] - 1) : 0), most, px[best, 1]
    }' "$out.log" >"$out.damage"
}
# Milliseconds from exec until the last output's cover got its first
# picture (the commit after its first attach), from libwayland's request log,
# whose times are the real-time clock's microseconds in 32 bits, shown as ms.
covered() {
  local t0
  t0=$(date +%s%6N)
  $launch env WAYLAND_DEBUG=client timeout 4 "$hakop" /s >/dev/null 2>"$out.start" || true
  awk -v t0="$(((t0 % 4294967296) / 1000))" '
    { id = $0; sub(/.*wl_surface@/, "", id); sub(/\..*/, "", id)
      t = $0; sub(/^\[ */, "", t); sub(/\].*/, "", t) }
    /-> wl_surface@[0-9]+\.attach\(wl_buffer/ && !(id in seen) { seen[id] = 1; first[id] = 1 }
    /-> wl_surface@[0-9]+\.commit\(/ && first[id] { first[id] = 0; last = t }
    END { if (last == "") { print -1; exit }
          d = last - t0; if (d < 0) d += 4294967.296; printf "%.0f\n", d }' "$out.start" >"$out.covered"
}
me=wayland-cpu-compare
# shellcheck source=tools/desktop-grants.sh
source "$root/tools/desktop-grants.sh"
# The process called NAME: PID itself or its child (the launcher may start it
# through a shell of its own).
named() { # NAME PID
  if [ "$(cat "/proc/$2/comm")" = "$1" ]; then echo "$2"; else pgrep -x -P "$2" "$1"; fi
}
shell_pid() {
  ps -eo pid=,sid=,comm= | awk -v s="$HAKOP_DESKTOP_SESSION" '$2 == s && $3 == "gnome-shell" {print $1}'
}
export -f run damage covered named shell_pid cpu_ns peak_kb wakeups
export secs hakop me launch=

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One measurement on each desktop, run by its launcher: each leaves
# "<saver s> <server s> ..." (see run) in $out and its exec-to-covered
# milliseconds (-1: not measured) in $out.covered.
on_x11() { # with-x's shell is the server's parent, and the command's.
  "$root/tests/e2e/with-x" --size "${size}x24" -- bash -c 'run "$(pgrep -P "$PPID" -x Xvfb)"'
}
on_sway() {
  "$root/tests/wayland/with-sway" --size "$size" --outputs 1 -- bash -c 'run "$HAKOP_SWAY_PID" && damage && covered'
}
on_mutter() {
  "$root/tests/desktops/with-mutter" --size "$size" -- bash -c 'run "$(named mutter "$HAKOP_MUTTER_PID")" && covered'
}
on_kwin() { # KWin sees its clients' paths only when they run as its user.
  "$root/tests/desktops/with-kwin" --size "$size" --outputs 1 -- \
    bash -c 'launch=$HAKOP_KWIN_AS_USER; kwin_grant && run "$HAKOP_KWIN_PID" && covered'
}
on_gnome_shell() { # The portal answers only the session's own user.
  "$root/tests/desktops/with-gnome-shell" --size "$size" -- \
    bash -c 'launch=$HAKOP_AS_DESKTOP_USER; portal_grant && run "$(shell_pid)" && covered'
}

# Rows "<desktop> <run's seven figures> <covered ms>", several per desktop
# with RUNS, become one table of medians: a column per desktop.
table() { # SIZE ROWS
  awk -v size="$1" -v secs="$secs" '
    BEGIN {
      n = split("saver CPU, % of a core|saver wake-ups per s|display server CPU, %|  of it added by the saver, %|" \
                "saver peak RSS, MiB|display server peak RSS, MiB|exec to every output covered, ms", label, "|")
      split("%.2f|%.1f|%.2f|%.2f|%.1f|%.1f|%.0f", format, "|")
      name["x11"] = "X11 (Xvfb)"; name["sway"] = "sway"; name["mutter"] = "GNOME (mutter)"
      name["kwin"] = "KDE Plasma (KWin)"; name["gnome-shell"] = "GNOME (gnome-shell)"
    }
    {
      if (!($1 in runs)) desktop[++columns] = $1
      r = ++runs[$1]; t = $4
      v[$1, 1, r] = 100 * $2 / t; v[$1, 2, r] = $8 / t; v[$1, 3, r] = 100 * $3 / t; v[$1, 4, r] = 100 * ($3 - $7) / t
      v[$1, 5, r] = $5 / 1024; v[$1, 6, r] = $6 / 1024; v[$1, 7, r] = $9
    }
    function median(d, m,    i, j, k, a, c) {
      k = runs[d]
      for (i = 1; i <= k; i++) {
        c = v[d, m, i]
        for (j = i - 1; j >= 1 && a[j] > c; j--) a[j + 1] = a[j]
        a[j + 1] = c
      }
      return a[int((k + 1) / 2)]
    }
    END {
      head = sprintf("| %s, %d s, median of %d |", size, secs, runs[desktop[1]]); rule = "|---|"
      for (c = 1; c <= columns; c++) { head = head " " name[desktop[c]] " |"; rule = rule "---:|" }
      print head; print rule
      for (m = 1; m <= n; m++) {
        line = "| " label[m] " |"
        for (c = 1; c <= columns; c++) {
          x = median(desktop[c], m)
          line = line " " (m == n && x < 0 ? "–" : sprintf(format[m], x)) " |"
        }
        print line
      }
    }' "$2"
}

measure() { # SIZE
  size=$1
  local rows=$tmp/rows-$size desktop
  : >"$rows"
  for _ in $(seq 1 "$runs"); do
    for desktop in $desktops; do
      rm -f "$tmp/$desktop" "$tmp/$desktop.covered"
      # A desktop that cannot run here is left out, saying why.
      out=$tmp/$desktop "on_${desktop//-/_}" >"$tmp/$desktop.said" 2>&1 ||
        { echo "wayland-cpu-compare: $desktop left out: $(tail -n 3 "$tmp/$desktop.said")" >&2; continue; }
      echo "$desktop $(cat "$tmp/$desktop") $(cat "$tmp/$desktop.covered")" >>"$rows"
    done
  done
  echo
  table "$size" "$rows"
  if [ -s "$tmp/sway.damage" ]; then
    read -r dn dmean dmost dfirst <"$tmp/sway.damage"
    echo
    echo "sway, damage per commit: $dn commits after the first (which damages all $dfirst px), mean $dmean px," \
      "largest $dmost px; the five figures' boxes before and after a step cover at most $((2 * 5 * 85 * 75)) px"
  fi
  awk -v size="$size" '$1 == "sway" {print size, 100 * $2 / $4}' "$rows" | sort -k2 -g |
    awk '{v[NR] = $0} END {if (NR) print v[int((NR + 1) / 2)]}' >>"$tmp/by-size"
}

for size in $sizes; do
  measure "$size"
done
# The median share of a core, each size against the first.
awk 'NR == 1 {first = $2; name = $1}
     NR > 1 {printf "sway: saver CPU at %s is %.2fx its CPU at %s\n", $1, $2 / first, name}' "$tmp/by-size"
