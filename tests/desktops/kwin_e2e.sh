#!/usr/bin/env bash
# The saver on KDE Plasma's KWin (run under with-kwin, two outputs), which
# offers no screen copy protocol: the frozen desktop comes through KWin's
# screenshot service once the saver's desktop file grants it, the plain
# backdrop with one line naming the key before; a key ends it. Keys and
# pixels come through the test's own client, granted by its own desktop file.
#   kwin_e2e.sh HAKOP KWIN_CLIENT
set -uo pipefail
hakop=$1 client=${2:-}
skip() { echo "SKIPPED: $*"; exit 77; }
[ -n "$client" ] || skip "KWin's fake input protocol is missing (Debian package plasma-wayland-protocols)"
command -v compare >/dev/null || skip "ImageMagick is not installed"
work=$(mktemp -d)
# KWin's user writes here too.
chmod 777 "$work"
slowdown=${HAKOP_TEST_SLOWDOWN:-1}
failed=()
# shellcheck source=tests/e2e/processes.sh
source "$(dirname "$0")/../e2e/processes.sh"
pids=()
trap 'for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT

as_user() { "$HAKOP_KWIN_AS_USER" "$@"; }
say() { echo "  $*" >&2; }
# KWin reads /proc/PID/exe of each client and looks for the desktop file
# whose Exec= is that path.
grant() { # name program key...
  local name=$1 program=$2
  shift 2
  { echo '[Desktop Entry]'; echo 'Type=Application'; echo "Name=$name"; echo "Exec=$(realpath "$program")"
    echo 'NoDisplay=true'; printf '%s\n' "$@"; } >"$HAKOP_KWIN_APPS/$name.desktop"
}
shot() { as_user "$client" shot "$1" "$work/$2.png" && chmod 644 "$work/$2.png"; }
differ() { compare -metric AE "$1" "$2" null: 2>&1 | awk '{print int($1)}'; }
pixels() { identify -format '%[fx:w*h]' "$1"; }
# The picture with the desktop's pixels where the figures left black: what
# differs then is the figures alone, a few per cent, or a wrong picture.
outside_figures() { convert "$1" \( "$2" -transparent black \) -composite "$2.outside.png" && echo "$2.outside.png"; }
magenta() { convert "$1" -fill black +opaque '#ff00ff' -fill white -opaque '#ff00ff' -format '%[fx:int(mean*w*h)]' info:; }

# KWin's user runs the programs: copies where it may (the build folder may
# be closed to it), each saver with the verifier's helper beside it. A second
# copy of the saver has no desktop file.
mkdir "$work/bin" "$work/granted"
cp "$client" "$work/bin/kwin_client" && client=$work/bin/kwin_client
for dir in "$work/granted" "$work/bin"; do
  cp "$hakop" "$(dirname "$hakop")/hakop-verifier" "$dir/"
done
hakop=$work/granted/hakop ungranted=$work/bin/hakop
# Both grants before anything asks: KWin reads new desktop files once, and
# the client's first granted screenshot shows it has read the saver's too.
grant hakop-test-client "$client" X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input \
  X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2
grant hakop-test-saver "$hakop" X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2
# The desktop: each output striped in a colour of its own, under every window.
"$HAKOP_KWIN_AS_USER" "$client" desktop "$work/ready" &
pids+=($!)
desktop=$!
for _ in $(seq 1 100); do [ -e "$work/ready" ] && break; sleep 0.1; done
[ -e "$work/ready" ] || { echo "FAIL: the test's desktop did not show" >&2; exit 1; }
for _ in $(seq 1 50); do shot Virtual-0 desk0 2>/dev/null && shot Virtual-1 desk1 && break; sleep 0.2; done
[ -s "$work/desk1.png" ] || { echo "FAIL: no screenshot for the test's own client" >&2; exit 1; }

started=0
start() { # program
  started=$((started + 1))
  err=$work/err.$started
  "$HAKOP_KWIN_AS_USER" "$1" /s 2>"$err" &
  saver=$!
  pids+=("$saver")
}
# Until the figures show on Virtual-0.
shown() {
  local i
  for i in $(seq 1 $((40 * slowdown))); do
    alive "$saver" || { say "the saver ended: $(cat "$err")"; return 1; }
    shot Virtual-0 probe && [ "$(differ "$work/desk0.png" "$work/probe.png")" -gt 0 ] && return 0
    sleep 0.25
  done
  say "no figures on Virtual-0: $(cat "$err")"
  return 1
}
check() { # name function
  if "$2"; then echo "ok - $1"; else echo "not ok - $1"; failed+=("$1"); fi
  [ -z "${saver:-}" ] || { kill -KILL "$saver" 2>/dev/null; wait "$saver" 2>/dev/null; saver=; }
}

# Without its desktop file KWin refuses the saver its screenshots: the plain
# backdrop, and one line naming what to add.
refused_without_grant() {
  start "$ungranted"
  shown || return 1
  shot Virtual-1 plain
  [ "$(differ "$work/desk1.png" "$work/plain.png")" -gt $(($(pixels "$work/plain.png") / 2)) ] ||
    { say "Virtual-1 shows the desktop without the grant"; return 1; }
  [ "$(wc -l <"$err")" = 1 ] &&
    grep -qF "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2 with Exec=$ungranted;" "$err" ||
    { say "stderr: $(cat "$err")"; return 1; }
}

# Granted: both outputs frozen as they were, figures on the first; the
# desktop turning magenta underneath does not come through; a key ends it.
frozen_and_ended_by_a_key() {
  start "$hakop"
  shown || return 1
  kill -USR1 "$desktop"
  sleep $((1 * slowdown))
  shot Virtual-0 live0 && shot Virtual-1 live1 || return 1
  [ -s "$err" ] && { say "stderr: $(cat "$err")"; return 1; }
  [ "$(differ "$work/desk1.png" "$work/live1.png")" = 0 ] || { say "Virtual-1 is not its frozen picture"; return 1; }
  local off
  off=$(differ "$work/desk0.png" "$(outside_figures "$work/desk0.png" "$work/live0.png")")
  [ "$off" -lt $(($(pixels "$work/live0.png") / 10)) ] || { say "Virtual-0: $off pixels differ from the desktop"; return 1; }
  [ "$(magenta "$work/live0.png")" = 0 ] || { say "the live desktop shows through on Virtual-0"; return 1; }
  as_user "$client" key 30 || { say "no key sent"; return 1; }
  exit_within "$saver" 5 || { say "a key did not end it with 0"; return 1; }
  saver=
  # What was under it all along.
  shot Virtual-1 after && [ "$(magenta "$work/after.png")" -gt 0 ] || { say "the desktop did not change underneath"; return 1; }
}

check "without the grant: the plain backdrop and one line naming the key" refused_without_grant
check "with the grant: the frozen desktop on both outputs while it changes, a key ends it" frozen_and_ended_by_a_key

[ ${#failed[@]} = 0 ] || { echo "FAILED: ${#failed[@]} case(s)" >&2; exit 1; }
echo "saver on KWin: all cases passed"
