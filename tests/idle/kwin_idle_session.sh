#!/usr/bin/env bash
# hakop-idle on a headless KWin, through the compositor's idle notifier
# (ext_idle_notifier_v1), run as KWin's user in its session: the saver starts
# once the session is idle, and when KWin goes the watcher says so in one
# line and ends with 1. Run inside with-kwin:
#   kwin_idle_session.sh HAKOP_IDLE
source "$(dirname "$0")/helpers.sh" "$1"
compositor_pid=$HAKOP_KWIN_PID watcher_pid=
trap 'rc=$?; kill $watcher_pid 2>/dev/null; echo 0 >"$out/release1"; wait; leave $rc' EXIT
"$HAKOP_KWIN_AS_USER" "$tmp/bin/hakop-idle" --after 1 >"$out/watcher.log" 2>&1 &
watcher_pid=$!
until_true '[ "$(starts)" = 1 ]'
[ "$(cat "$out/started")" = /s ] || fail "started with \"$(cat "$out/started")\", not /s"
kill "$compositor_pid"
wait "$watcher_pid"; status=$?
compositor_pid=
[ "$status" = 1 ] || fail "the watcher ended with $status when KWin went, not 1"
[ "$(cat "$out/watcher.log")" = "hakop-idle: lost the connection to the Wayland compositor" ] \
  || fail "not the one line for the lost compositor: $(cat "$out/watcher.log")"
[ "$(starts)" = 1 ] || fail "started $(starts) times"
echo "started once on KWin's idle notifier; one line when KWin went"
