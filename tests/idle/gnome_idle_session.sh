#!/usr/bin/env bash
# hakop-idle on a headless mutter (GNOME's compositor), with mutter-input as the
# user's hand on the mouse and as GNOME's session manager:
#  - the saver starts once the session has been idle for the time asked;
#  - a new idle spell while it runs starts no second one;
#  - a saver ending in failure is said in one line, and the next idle spell
#    after the user returns starts it again, unless the session manager
#    holds idleness off;
#  - SIGTERM ends the watcher with status 0 and leaves a running saver alone;
#  - mutter going ends the watcher with status 1 and one line.
# A second watcher in b/ has a stand-in of its own that touches "b-started".
# Run inside with-mutter:
#   gnome_idle_session.sh HAKOP_IDLE MUTTER_INPUT
/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || { echo "SKIPPED: python3-dbus or python3-gi is not installed"; exit 77; }
source "$(dirname "$0")/helpers.sh" "$1"
hand=$2
compositor_pid=$HAKOP_MUTTER_PID watcher_pid= second_pid=
trap 'rc=$?; kill $watcher_pid $second_pid ${HAND_PID:-} 2>/dev/null
      for n in 1 2 3 -b; do echo 0 >"$out/release$n"; done; wait; leave $rc' EXIT
mkdir "$tmp/b"
cp "$1" "$tmp/b/hakop-idle"
printf '#!/bin/sh\ntouch %s/b-started\nwhile [ ! -f %s/release-b ] && [ -d %s ]; do sleep 0.1; done\n' \
  "$out" "$out" "$out" >"$tmp/b/hakop"
chmod 755 "$tmp/b/hakop"

# The user's hand, for the whole test (a remote desktop session ends with
# its client), and the test's own idle watch, a second longer than the
# watcher's: when it fires, the watcher's has fired in the same spell.
coproc HAND { "$hand"; }
await() { # the hand's answer
  local line
  while read -r -t 60 -u "${HAND[0]}" line; do
    [ "$line" = "$1" ] && return 0
  done
  fail "the hand never said $1"
}
# A command, and a sync after it: once "ok" comes, mutter has taken it.
tell() { echo "$1" >&"${HAND[1]}"; echo sync >&"${HAND[1]}"; await ok; }
move() { tell "move 3 2"; }
await ready
tell "watch 3000"

move
"$tmp/bin/hakop-idle" --after 2 >"$out/watcher.log" 2>&1 &
watcher_pid=$!
"$tmp/b/hakop-idle" --after 2 >"$out/second.log" 2>&1 &
second_pid=$!

# Idle: one start, as "hakop /s".
until_true '[ "$(starts)" = 1 ]'
[ "$(cat "$out/started")" = /s ] || fail "started with \"$(cat "$out/started")\", not /s"

# The user comes back and goes idle again while the saver still runs: none more.
await fired
move
await fired
[ "$(starts)" = 1 ] || fail "a second saver started while the first ran"

# The saver fails: one line, and the watcher goes on to the next spell; but
# not to a spell the session manager holds off (a film playing).
echo 3 >"$out/release1"
until_true 'grep -q "exit status 3" "$out/watcher.log"'
tell inhibit
move
await fired
[ "$(starts)" = 1 ] || fail "a saver started while the session manager held idleness off"
tell allow
move
until_true '[ "$(starts)" = 2 ]'
[ "$(grep -c . "$out/watcher.log")" = 1 ] && grep -qx 'hakop-idle: the saver ended with exit status 3; .*' "$out/watcher.log" \
  || fail "not one line for the failed saver: $(cat "$out/watcher.log")"

# SIGTERM while the second runs: the watcher ends cleanly, the saver goes on.
kill -TERM "$watcher_pid"
wait "$watcher_pid"; status=$?
[ "$status" = 0 ] || fail "SIGTERM ended the watcher with status $status"
kill -0 "$(cat "$out/pid2")" || fail "the running saver ended with the watcher"
# The desktop going: one line, status 1 (the second watcher is known to be
# watching since it started its saver).
until_true '[ -f "$out/b-started" ]'
kill "$compositor_pid"
wait "$second_pid"; status=$?
compositor_pid=
[ "$status" = 1 ] && [ "$(cat "$out/second.log")" = "hakop-idle: GNOME's idle monitor left the session bus" ] \
  || fail "mutter went: exit $status, $(cat "$out/second.log")"
echo "two starts, one line for the failure, ended by SIGTERM"
