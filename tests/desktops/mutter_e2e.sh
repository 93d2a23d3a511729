#!/usr/bin/env bash
# The saver on GNOME's compositor (mutter, headless, no layer shell), run
# inside with-mutter: a fullscreen window on the output, ended by a key, by
# a move of more than 5 pixels, and by another window taking the keyboard.
# Input comes through mutter's RemoteDesktop service, one session held open
# throughout (mutter drops the keyboard focus when a session stops).
#   mutter_e2e.sh HAKOP MUTTER_INPUT
# The saver's protocol trace (WAYLAND_DEBUG) says when its window has the
# keyboard, so nothing is sent before it can arrive.
set -uo pipefail
hakop=$1
input=$2
skip() { echo "SKIPPED: $*"; exit 77; }
/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || skip "python3-dbus or python3-gi is not installed"
tmp=$(mktemp -d)
saver=
trap '[ -n "$saver" ] && kill "$saver" 2>/dev/null; rm -rf "$tmp"' EXIT
failures=0
check() { # NAME CONDITION-STATUS [DETAIL]
  if [ "$2" = 0 ]; then echo "ok - $1"; else echo "not ok - $1"; [ -n "${3:-}" ] && echo "  $3"; failures=$((failures + 1)); fi
}
limit=$((20 * ${HAKOP_TEST_SLOWDOWN:-1}))

coproc IN { "$input"; }
read -r -t "$limit" -u "${IN[0]}" line && [ "$line" = ready ] || { echo "FAIL: no RemoteDesktop session" >&2; exit 1; }
send() { echo "$*" >&"${IN[1]}"; }
# The seat gets its keyboard and pointer with the session's first input.
send key 42
send move 1 1

# Starts the saver and waits until its window holds the keyboard.
start() {
  : >"$tmp/log"
  WAYLAND_DEBUG=1 timeout "$limit" "$hakop" /s 2>"$tmp/log" &
  saver=$!
  for _ in $(seq 1 $((limit * 10))); do
    grep -q 'wl_keyboard@[0-9]*\.enter(' "$tmp/log" && return 0
    kill -0 "$saver" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
# The saver's exit status once it ended (124: it did not, within the limit).
ended() { rc=0; wait "$saver" || rc=$?; saver=; }
# Without a picture source (mutter alone has no portal) one line says so; nothing else may be said.
said() { grep '^hakop:' "$tmp/log" | grep -v 'plain backdrop'; }

start
grep -q 'xdg_toplevel@[0-9]*\.set_fullscreen(' "$tmp/log" &&
  grep -q 'xdg_toplevel@[0-9]*\.configure(1280, 720, ' "$tmp/log" && [ -z "$(said)" ]
check "covers the output: a fullscreen window of its size, nothing complained" $? "$(said)"
send key 30
ended
check "a key ends it" "$([ "$rc" = 0 ]; echo $?)" "exit $rc"

start
# mutter tells a new window where the pointer is only at a move: small ones
# until it has (the first position is only recorded), then one of 8 pixels.
for _ in $(seq 1 $((limit * 10))); do
  grep -q 'wl_pointer@[0-9]*\.enter(' "$tmp/log" && break
  send move 1 0
  sleep 0.1
done
# A figure under the pointer takes the moves made over it, so the saver goes
# on; a user moves on, and so does the test, 8 pixels at a time.
for _ in $(seq 1 $((limit * 2))); do
  send move 8 0
  sleep 0.5
  kill -0 "$saver" 2>/dev/null || break
done
ended
[ "$rc" = 0 ] && [ -z "$(said)" ]
check "a move of more than 5 pixels ends it" $? "exit $rc; $(said)"

# Another program's window takes the keyboard: the saver must not believe it still holds it.
start
if command -v weston-simple-shm >/dev/null; then
  timeout "$limit" weston-simple-shm >/dev/null 2>&1 &
  other=$!
  ended
  kill "$other" 2>/dev/null
  [ "$rc" = 0 ] && grep -q '^hakop: another window took the keyboard' "$tmp/log"
  check "a window that takes the keyboard ends it, said once" $? "exit $rc; $(said)"
else
  kill "$saver"; ended
  echo "ok - # SKIP the keyboard taken: weston-simple-shm (package weston) is missing"
fi

exec {IN[1]}>&-
[ "$failures" = 0 ] || { echo "FAILED: $failures case(s)"; exit 1; }
