#!/usr/bin/env bash
# The saver started with DISPLAY alone, naming sway's XWayland (run under
# with-sway --xwayland --outputs 1): an X11 saver there could neither copy the
# desktop nor hold the input, so
# - with sway's socket in XDG_RUNTIME_DIR it runs on sway itself (its cover
#   shows on HEADLESS-1, nothing is mapped on the X display) and a key ends it;
# - with no socket to be found it says so in one line and ends with 1, having
#   mapped nothing.
#   xwayland_e2e.sh HAKOP
set -uo pipefail
hakop=$1
[ -n "${HAKOP_XWAYLAND_DISPLAY:-}" ] || { echo "SKIPPED: no XWayland (run under with-sway --xwayland)"; exit 77; }
xdisplay=$HAKOP_XWAYLAND_DISPLAY
slowdown=${HAKOP_TEST_SLOWDOWN:-1}
work=$(mktemp -d)
pid= xev_pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -n "$xev_pid" ] && kill "$xev_pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Every window mapped on the X display from here on, as the root sees it.
xev -display "$xdisplay" -root -event substructure >"$work/xev" 2>&1 & xev_pid=$!
sleep 0.5
mapped() { grep -c 'MapNotify' "$work/xev"; }

swaymsg output '*' bg '#336699' solid_color >/dev/null
sleep 0.5
grim -o HEADLESS-1 "$work/desk.png"

# --- sway's socket found in XDG_RUNTIME_DIR: the saver runs on sway -----------
env -u WAYLAND_DISPLAY DISPLAY="$xdisplay" "$hakop" /s 2>"$work/native.err" & pid=$!
shown=0
for _ in $(seq 1 $((40 * slowdown))); do
  kill -0 "$pid" 2>/dev/null || break
  grim -o HEADLESS-1 "$work/probe.png"
  if [ "$(compare -metric AE "$work/desk.png" "$work/probe.png" null: 2>&1 | awk '{print int($1)}')" -gt 0 ]; then
    shown=1
    break
  fi
  sleep 0.25
done
[ "$shown" = 1 ] || fail "no cover on HEADLESS-1: $(cat "$work/native.err")"
[ "$(mapped)" = 0 ] || fail "a window was mapped on the X display"
sleep 0.5
wtype -s 300 -k a
rc=124
for _ in $(seq 1 $((50 * slowdown))); do
  kill -0 "$pid" 2>/dev/null || { wait "$pid"; rc=$?; break; }
  sleep 0.1
done
[ "$rc" = 124 ] && kill "$pid" 2>/dev/null
pid=
[ "$rc" = 0 ] || fail "a key did not end the saver on sway with 0 (exit $rc): $(cat "$work/native.err")"

# --- no compositor socket to be found: refused --------------------------------
mkdir -m 700 "$work/run"
rc=0
env -u WAYLAND_DISPLAY DISPLAY="$xdisplay" XDG_RUNTIME_DIR="$work/run" timeout $((20 * slowdown)) "$hakop" /s \
  2>"$work/refused.err" || rc=$?
[ "$rc" = 1 ] && [ "$(wc -l <"$work/refused.err")" = 1 ] &&
  grep -q '^hakop: the X display is XWayland, .*no Wayland display was found' "$work/refused.err" ||
  fail "no compositor socket: exit $rc, stderr: $(cat "$work/refused.err")"
sleep 0.5
[ "$(mapped)" = 0 ] || fail "a window was mapped on the X display"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "the saver on XWayland goes to the compositor, or is refused"
