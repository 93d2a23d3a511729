#!/usr/bin/env bash
# hakop-idle on a private X server (run under with-x) through the server's
# idle time counter, with a stand-in hakop beside the watcher: the saver
# starts once the display is idle, again after the user's return and the next
# idle spell, and SIGTERM ends the watcher with status 0. With no session bus
# it starts none of its own for the display (D-Bus "autolaunch").
#   x11_idle_test.sh HAKOP_IDLE
command -v xdotool >/dev/null || { echo "SKIPPED: xdotool is not installed (Debian package xdotool)"; exit 77; }
source "$(dirname "$0")/helpers.sh" "$1"
watcher_pid=
trap 'rc=$?; kill $watcher_pid 2>/dev/null; echo 0 >"$out/release1"; echo 0 >"$out/release2"; wait; leave $rc' EXIT
mkdir "$tmp/path"
printf '#!/bin/sh\ntouch %s/autolaunched\nexit 1\n' "$tmp" >"$tmp/path/dbus-launch"
chmod 755 "$tmp/path/dbus-launch"

env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR PATH="$tmp/path:$PATH" "$tmp/bin/hakop-idle" --after 1 2>"$out/err" &
watcher_pid=$!
until_true '[ "$(starts)" = 1 ]'
[ "$(cat "$out/started")" = /s ] || fail "started with \"$(cat "$out/started")\", not /s"
echo 0 >"$out/release1"
xdotool mousemove_relative 5 5
until_true '[ "$(starts)" = 2 ]'
kill -TERM "$watcher_pid"
wait "$watcher_pid"; status=$?
watcher_pid=
[ "$status" = 0 ] || fail "SIGTERM ended the watcher with status $status"
[ ! -e "$tmp/autolaunched" ] || fail "the watcher tried to start a session bus"
[ ! -s "$out/err" ] || fail "the watcher said: $(cat "$out/err")"
echo "started on idle, again after the user's return"
