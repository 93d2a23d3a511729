#!/usr/bin/env bash
# What the saver costs on Wayland next to X11: the same saver runs on a
# private Xvfb, then on a private headless sway (one output, pixman), then on
# a private headless KWin (one output, OpenGL on llvmpipe, the frozen desktop
# through its screenshot service), all of the given size, and for each the
# saver's CPU, the display server's CPU over the same stretch (and how much of
# it the saver added to the server's idle cost), and both processes' peak
# resident memory are printed side by side.
#   tools/wayland-cpu-compare.sh [SECONDS] [WxH ...] [path/to/hakop]
# Several sizes (one word, space-separated: "1920x1080 3840x2160") are
# measured one after the other, and the saver's CPU on Wayland at each is
# then given against its CPU at the first: what grows with the screen.
# Needs root: sway and KWin run as an unprivileged user (see
# tests/wayland/with-sway, tests/desktops/with-kwin). Then, from a few seconds
# of libwayland's request log, how many pixels the saver damages per commit,
# and on each compositor the time from exec until every output's cover has
# its first picture committed.
#
# CPU time is the scheduler's run time summed over all threads
# (/proc/PID/task/*/schedstat), as in tools/cpu-compare.sh; peak memory is
# VmHWM, read just before the saver is stopped.
set -euo pipefail

secs=${1:-60}
sizes=${2:-1920x1080}
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
      t = $1; sub(/^\[/, "", t); sub(/\].*/, "", t) }
    /-> wl_surface@[0-9]+\.attach\(wl_buffer/ && !(id in seen) { seen[id] = 1; first[id] = 1 }
    /-> wl_surface@[0-9]+\.commit\(/ && first[id] { first[id] = 0; last = t }
    END { d = last - t0; if (d < 0) d += 4294967.296; printf "%.0f\n", d }' "$out.start" >"$out.covered"
}
# KWin shows the saver its screenshots once its desktop file says so; KWin
# takes a moment to read a new one.
kwin_grant() {
  printf '[Desktop Entry]\nType=Application\nName=hakop\nNoDisplay=true\nExec=%s\n%s\n' "$(realpath "$hakop")" \
    X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2 >"$HAKOP_KWIN_APPS/hakop.desktop"
  local i
  for i in $(seq 1 20); do
    $launch timeout 2 "$hakop" /s 2>&1 | grep -q . || return 0
  done
  echo "wayland-cpu-compare: KWin does not grant the saver its screenshots" >&2
  return 1
}
export -f run damage covered kwin_grant cpu_ns peak_kb wakeups
export secs hakop launch=

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
measure() { # SIZE
  local size=$1
  w=${size%x*} h=${size#*x}

  # with-x's shell is the server's parent, and the command's.
  out=$tmp/x11 "$root/tests/e2e/with-x" --size "${size}x24" -- \
    bash -c 'run "$(pgrep -P "$PPID" -x Xvfb)"'
  out=$tmp/wayland "$root/tests/wayland/with-sway" --size "${w}x${h}" --outputs 1 -- \
    bash -c 'run "$HAKOP_SWAY_PID" && damage && covered'
  # KWin sees its clients' paths only when they run as its user.
  out=$tmp/kwin "$root/tests/desktops/with-kwin" --size "${w}x${h}" --outputs 1 -- \
    bash -c 'launch=$HAKOP_KWIN_AS_USER; kwin_grant && run "$HAKOP_KWIN_PID" && covered'

  read -r xs xx xt xsp xxp xi xw <"$tmp/x11"
  read -r ws wx wt wsp wxp wi ww <"$tmp/wayland"
  read -r dn dmean dmost dfirst <"$tmp/wayland.damage"
  read -r ks kx kt ksp kxp ki kw <"$tmp/kwin"
  read -r wc <"$tmp/wayland.covered"
  read -r kc <"$tmp/kwin.covered"
  awk -v xs="$xs" -v xx="$xx" -v xt="$xt" -v xsp="$xsp" -v xxp="$xxp" -v xi="$xi" \
      -v ws="$ws" -v wx="$wx" -v wt="$wt" -v wsp="$wsp" -v wxp="$wxp" -v wi="$wi" -v xw="$xw" -v ww="$ww" -v size="$size" \
      -v dn="$dn" -v dmean="$dmean" -v dmost="$dmost" -v dfirst="$dfirst" 'BEGIN {
    printf "screen %s, %.0f s measured on each\n", size, xt
    printf "%-26s %18s %18s %8s\n", "", "X11 (Xvfb)", "Wayland (sway)", "ratio"
    printf "%-26s %9.3f s %5.2f%% %9.3f s %5.2f%% %7.2fx\n", "saver CPU", xs, 100 * xs / xt, ws, 100 * ws / wt, (xs > 0 ? ws / xs : 0)
    printf "%-26s %16.1f/s %16.1f/s %7.2fx\n", "saver wake-ups", xw / xt, ww / wt, (xw > 0 ? ww / xw : 0)
    printf "%-26s %9.3f s %5.2f%% %9.3f s %5.2f%% %7.2fx\n", "display server CPU", xx, 100 * xx / xt, wx, 100 * wx / wt, (xx > 0 ? wx / xx : 0)
    printf "%-26s %9.3f s %5.2f%% %9.3f s %5.2f%% %7.2fx\n", "  of it added by the saver", xx - xi, 100 * (xx - xi) / xt, wx - wi, 100 * (wx - wi) / wt, (xx - xi > 0 ? (wx - wi) / (xx - xi) : 0)
    printf "%-26s %14.1f MiB %14.1f MiB\n", "saver peak RSS", xsp / 1024, wsp / 1024
    printf "%-26s %14.1f MiB %14.1f MiB\n", "display server peak RSS", xxp / 1024, wxp / 1024
    printf "Wayland damage per commit (%d commits after the first, which damages all %d px):\n", dn, dfirst
    printf "  mean %.0f px, largest %d px; the five figures'"'"' boxes before and after a step cover at most %d px\n", dmean, dmost, 2 * 5 * 85 * 75
  }'
  awk -v ks="$ks" -v kx="$kx" -v kt="$kt" -v ksp="$ksp" -v kxp="$kxp" -v ki="$ki" -v kw="$kw" -v wc="$wc" -v kc="$kc" 'BEGIN {
    printf "KDE Plasma (KWin, OpenGL on llvmpipe), %.0f s measured:\n", kt
    printf "%-26s %9.3f s %5.2f%%\n", "saver CPU", ks, 100 * ks / kt
    printf "%-26s %16.1f/s\n", "saver wake-ups", kw / kt
    printf "%-26s %9.3f s %5.2f%%\n", "display server CPU", kx, 100 * kx / kt
    printf "%-26s %9.3f s %5.2f%%\n", "  of it added by the saver", kx - ki, 100 * (kx - ki) / kt
    printf "%-26s %14.1f MiB\n", "saver peak RSS", ksp / 1024
    printf "%-26s %14.1f MiB\n", "display server peak RSS", kxp / 1024
    printf "exec to every output covered: sway %d ms, KWin %d ms\n", wc, kc
  }'
  echo "$size $ws $wt" >>"$tmp/by-size"
}

for size in $sizes; do
  measure "$size"
done
# Per second measured, each size against the first.
awk 'NR == 1 {first = $2 / $3; name = $1}
     NR > 1 {printf "Wayland saver CPU at %s: %.2fx its CPU at %s\n", $1, ($2 / $3) / first, name}' "$tmp/by-size"
