#!/usr/bin/env bash
# hakop-idle on a private X server (run under with-x) through the server's
# idle time counter, with a stand-in hakop beside the watcher: the saver
# starts once the display is idle, again after the user's return and the next
# idle spell, and SIGTERM ends the watcher with status 0. With no session bus
# it starts none of its own for the display (D-Bus "autolaunch").
#   x11_idle_test.sh HAKOP_IDLE
set -uo pipefail
watcher=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v xdotool >/dev/null || { echo "SKIPPED: xdotool is not installed (Debian package xdotool)"; exit 77; }
tmp=$(mktemp -d)
watcher_pid=
trap 'kill $watcher_pid 2>/dev/null; touch "$tmp/release1" "$tmp/release2"; wait; rm -rf "$tmp"' EXIT
cp "$watcher" "$tmp/hakop-idle"
cat >"$tmp/hakop" <<'STANDIN'
#!/bin/sh
dir=$(dirname "$0")
echo "$*" >>"$dir/started"
n=$(wc -l <"$dir/started")
while [ ! -f "$dir/release$n" ] && [ -d "$dir" ]; do sleep 0.1; done
STANDIN
chmod 755 "$tmp/hakop"
mkdir "$tmp/path"
printf '#!/bin/sh\ntouch %s/autolaunched\nexit 1\n' "$tmp" >"$tmp/path/dbus-launch"
chmod 755 "$tmp/path/dbus-launch"
until_true() { for _ in $(seq 600); do eval "$1" && return 0; sleep 0.1; done; fail "never: $1"; }
starts() { [ -f "$tmp/started" ] && wc -l <"$tmp/started" || echo 0; }

env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR PATH="$tmp/path:$PATH" "$tmp/hakop-idle" --after 1 2>"$tmp/err" &
watcher_pid=$!
until_true '[ "$(starts)" = 1 ]'
[ "$(cat "$tmp/started")" = /s ] || fail "started with \"$(cat "$tmp/started")\", not /s"
touch "$tmp/release1"
xdotool mousemove_relative 5 5
until_true '[ "$(starts)" = 2 ]'
kill -TERM "$watcher_pid"
wait "$watcher_pid"; status=$?
watcher_pid=
[ "$status" = 0 ] || fail "SIGTERM ended the watcher with status $status"
[ ! -e "$tmp/autolaunched" ] || fail "the watcher tried to start a session bus"
[ ! -s "$tmp/err" ] || fail "the watcher said: $(cat "$tmp/err")"
echo "started on idle, again after the user's return"
