#!/usr/bin/env bash
# Start-up under the conditions idle daemons and odd environments create, on
# the private X server with-x provides (no window manager):
#   start_conditions_e2e.sh HAKOP STANDINS_DIR SILENT_COMPOSITOR
# - stdin, stdout and stderr closed: the saver and the settings dialog still
#   show their windows and end normally on a key press (exit 0);
# - a log pipe whose reader has gone: the saver's first line does not end it;
# - no XDG_RUNTIME_DIR: a normal saver run writes nothing at all to stderr;
#   nor does one where fontconfig can write no cache, which leaves no file;
# - Qt's own options on the command line and QT_QPA_PLATFORM change nothing:
#   the saver still runs visibly on this display;
# - WAYLAND_DISPLAY naming a socket that takes the connection and never
#   answers: the saver goes to this X display, and without DISPLAY it says
#   so in one line and ends with 1.
set -uo pipefail
hakop=$1 standins=$2 silent=$3
tmp=$(mktemp -d)
pid= helpers=()
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; for h in "${helpers[@]}"; do kill "$h"; done; rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
unset XDG_RUNTIME_DIR LD_LIBRARY_PATH

window_of() { # xdotool search args...: waits up to 5 s for a visible window
  for _ in $(seq 1 100); do
    xdotool search --onlyvisible "$@" 2>/dev/null | head -n1 | grep . && return 0
    sleep 0.05
  done
  return 1
}
ended_with() { # expected-rc: the started program ends within 3 s with that code
  for _ in $(seq 1 60); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"; local rc=$?; pid=
      [ "$rc" -eq "$1" ] || { echo "  exit code $rc" >&2; return 1; }
      return 0
    fi
    sleep 0.05
  done
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
  echo "  still running" >&2
  return 1
}
# saver_run NAME CMD...: starts the saver, checks it is on this display, ends
# it with a key press and expects exit 0.
saver_run() {
  local name=$1; shift
  "$@" & pid=$!
  window_of --class '^THAKOPForm$' >/dev/null || fail "$name: no saver window on $DISPLAY"
  sleep 0.3
  xdotool key x
  ended_with 0 || fail "$name: did not end normally on a key press"
}

# The pointer away from where the dialogs open: keys must not depend on it.
xdotool mousemove 3 3

# --- closed standard streams -------------------------------------------------
saver_run "saver, streams closed" bash -c 'exec "$0" /s <&- >&- 2>&-' "$hakop"
saver_run "saver, stderr closed" bash -c 'exec "$0" /s 2>&-' "$hakop"

# --- stderr a pipe nobody reads any more ("hakop /s 2>&1 | true") -------------
# A crashing verifier makes the saver write a line at the first key.
LD_LIBRARY_PATH=$standins/segfault "$hakop" /s 2> >(exec true) & pid=$!
if window_of --class '^THAKOPForm$' >/dev/null; then
  sleep 0.3
  xdotool key x
  sleep 1.5
  if kill -0 "$pid" 2>/dev/null && xdotool search --onlyvisible --class '^THAKOPForm$' >/dev/null; then
    kill "$pid"; wait "$pid" 2>/dev/null; pid=
  else
    wait "$pid"; echo "  exit code $?" >&2; pid=
    fail "saver, dead stderr pipe: its first line ended it"
  fi
else
  fail "saver, dead stderr pipe: no saver window"
fi

bash -c 'exec "$0" <&- >&- 2>&-' "$hakop" & pid=$!
if window_of --name '^設定' >/dev/null; then
  sleep 2.6 # the scene swap brings the buttons
  xdotool key c
  ended_with 0 || fail "settings dialog, streams closed: did not end on C"
else
  fail "settings dialog, streams closed: no window"
fi

# --- nothing on stderr but our own lines --------------------------------------
saver_run "saver without XDG_RUNTIME_DIR" bash -c 'exec "$0" /s 2>"$1"' "$hakop" "$tmp/quiet.err"
[ ! -s "$tmp/quiet.err" ] || fail "saver without XDG_RUNTIME_DIR wrote to stderr: $(cat "$tmp/quiet.err")"

# --- no font cache folder it can write: fontconfig says nothing either --------
# A font folder with no cache yet, and a cache folder nobody (root included)
# can make; the private one the saver uses instead is gone when it ends.
if font=$(fc-match -f '%{file}' sans 2>/dev/null) && [ -f "$font" ]; then
  mkdir "$tmp/fonts" && cp "$font" "$tmp/fonts/" && mkdir -m 700 "$tmp/runtime"
  echo "<fontconfig><dir>$tmp/fonts</dir><cachedir>/proc/hakop-none</cachedir></fontconfig>" >"$tmp/fonts.conf"
  saver_run "saver without a writable font cache" env FONTCONFIG_FILE="$tmp/fonts.conf" \
    XDG_RUNTIME_DIR="$tmp/runtime" bash -c 'exec "$0" /s 2>"$1"' "$hakop" "$tmp/fonts.err"
  [ ! -s "$tmp/fonts.err" ] || fail "saver without a writable font cache wrote to stderr: $(cat "$tmp/fonts.err")"
  [ -z "$(ls -A "$tmp/runtime")" ] || fail "left in the runtime folder: $(ls -A "$tmp/runtime")"
else echo "skipped the font cache case: fc-match finds no font file"; fi

# --- the toolkit reads neither our command line nor its platform variable -----
saver_run "-platform offscreen" "$hakop" /s -platform offscreen
saver_run "-display elsewhere" "$hakop" /s -display :4242
saver_run "QT_QPA_PLATFORM=wayland" env QT_QPA_PLATFORM=wayland "$hakop" /s
saver_run "QT_QPA_PLATFORM=offscreen" env QT_QPA_PLATFORM=offscreen "$hakop" /s

# "-platform" as word 1 is just an unknown mode: the settings dialog.
"$hakop" -platform offscreen & pid=$!
if window_of --name '^設定' >/dev/null; then
  xdotool key alt+F4
  ended_with 0 || fail "settings dialog from '-platform offscreen': did not end on Alt+F4"
else
  fail "'-platform offscreen' did not open the settings dialog on $DISPLAY"
fi

# --- a Wayland display that never answers -------------------------------------
"$silent" "$tmp/wayland-silent" >"$tmp/silent.out" & helpers+=($!)
for _ in $(seq 1 100); do grep -q ready "$tmp/silent.out" && break; sleep 0.05; done
saver_run "silent Wayland display, DISPLAY set" env WAYLAND_DISPLAY="$tmp/wayland-silent" "$hakop" /s
rc=0
env -u DISPLAY WAYLAND_DISPLAY="$tmp/wayland-silent" timeout 20 "$hakop" /s 2>"$tmp/silent.err" || rc=$?
[ "$rc" = 1 ] && [ "$(cat "$tmp/silent.err")" = "hakop: the Wayland display \"$tmp/wayland-silent\" does not answer" ] ||
  fail "silent Wayland display, no DISPLAY: exit $rc, stderr: $(cat "$tmp/silent.err")"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all start-condition checks passed"
