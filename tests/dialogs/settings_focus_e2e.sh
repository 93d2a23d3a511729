#!/usr/bin/env bash
# Settings mode without a window manager, the pointer kept away from the
# dialogs: the keyboard must reach the dialog because it took the focus, not
# because the pointer happens to be over it.
#   with-x -- settings_focus_e2e.sh PROGRAM
set -uo pipefail
prog=$1
failures=0
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null' EXIT
check() { local what=$1; shift; if "$@"; then echo "ok   - $what"; else echo "FAIL - $what" >&2; failures=$((failures + 1)); fi; }
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
appears() { for _ in $(seq 1 100); do visible "$1" && return 0; sleep 0.05; done; return 1; }
gone() { for _ in $(seq 1 60); do visible "$1" || return 0; sleep 0.05; done; return 1; }
ended_with_zero() {
  for _ in $(seq 1 60); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; local rc=$?; pid=; [ "$rc" -eq 0 ]; return; }
    sleep 0.05
  done
  kill "$pid"; wait "$pid" 2>/dev/null; pid=; return 1
}
start() { "$prog" & pid=$!; appears '^設定' || { echo "FAIL - no settings dialog" >&2; exit 1; }; }

xdotool mousemove 2 2

start
sleep 0.3
xdotool key alt+F4
check "Alt+F4 in the first scene ends the program" ended_with_zero

start
sleep 2.6
xdotool key c
check "C after the scene swap ends the program" ended_with_zero

# The About box takes the focus and hands it back when it closes.
start
sleep 2.6
xdotool key a
check "A opens the About box" appears '^About HAKOP$'
sleep 0.3
xdotool key Escape
check "Esc closes the About box" gone '^About HAKOP$'
sleep 0.2
xdotool key c
check "C after the About box closed ends the program" ended_with_zero

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all focus checks passed"
