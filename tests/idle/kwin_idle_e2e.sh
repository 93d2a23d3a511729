#!/usr/bin/env bash
# hakop-idle on a headless KWin, through the compositor's idle notifier
# (ext_idle_notifier_v1), run as an unprivileged user in its own session bus
# with a stand-in hakop beside the watcher: the saver starts once the session
# is idle, and when KWin goes the watcher says so in one line and ends with 1.
#   kwin_idle_e2e.sh HAKOP_IDLE
set -uo pipefail
watcher=$1
skip() { echo "SKIPPED: $*"; exit 77; }
command -v kwin_wayland >/dev/null || skip "kwin_wayland is not installed (Debian package kwin-wayland)"
command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (Debian package dbus)"
[ "$(id -u)" -eq 0 ] || skip "KWin runs as another, unprivileged user here; that needs root"
user=nobody
id "$user" >/dev/null 2>&1 || skip "there is no user $user"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
mkdir -m 700 "$tmp/run" && mkdir -m 777 "$tmp/out" && mkdir "$tmp/bin" "$tmp/home"
chown "$user" "$tmp/run" "$tmp/home"
cp "$watcher" "$tmp/bin/hakop-idle"
# A copy: Debian's kwin_wayland carries a file capability that a container
# without that capability refuses to run.
cp "$(command -v kwin_wayland)" "$tmp/bin/kwin_wayland"
cat >"$tmp/bin/hakop" <<'STANDIN'
#!/bin/sh
out=$(dirname "$0")/../out
echo "$*" >>"$out/started"
while [ ! -f "$out/release" ] && [ -d "$out" ]; do sleep 0.1; done
STANDIN
chmod 755 "$tmp/bin/hakop"
cat >"$tmp/session.sh" <<'SESSION'
set -uo pipefail
tmp=$1 out=$1/out
fail() { echo "FAIL: $*" >&2; exit 1; }
until_true() {
  for _ in $(seq 600); do
    eval "$1" && return 0
    kill -0 "$kwin_pid" 2>/dev/null || fail "KWin ended"
    sleep 0.1
  done
  fail "never: $1"
}
"$tmp/bin/kwin_wayland" --virtual --width 640 --height 480 --socket idle-test --no-global-shortcuts \
  --no-kactivities --no-lockscreen >"$out/kwin.log" 2>&1 &
kwin_pid=$! watcher_pid=
trap 'kill $watcher_pid $kwin_pid 2>/dev/null; touch "$out/release"; wait' EXIT
until_true '[ -S "$XDG_RUNTIME_DIR/idle-test" ]'
WAYLAND_DISPLAY=idle-test "$tmp/bin/hakop-idle" --after 1 >"$out/watcher.log" 2>&1 &
watcher_pid=$!
until_true '[ -f "$out/started" ]'
[ "$(cat "$out/started")" = /s ] || fail "started with \"$(cat "$out/started")\", not /s"
kill "$kwin_pid"
wait "$watcher_pid"; status=$?
[ "$status" = 1 ] || fail "the watcher ended with $status when KWin went, not 1"
[ "$(cat "$out/watcher.log")" = "hakop-idle: lost the connection to the Wayland compositor" ] \
  || fail "not the one line for the lost compositor: $(cat "$out/watcher.log")"
[ "$(wc -l <"$out/started")" = 1 ] || fail "started $(wc -l <"$out/started") times"
echo "started once on KWin's idle notifier; one line when KWin went"
SESSION

rc=0
setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
  env -i HOME="$tmp/home" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$tmp/run" KWIN_COMPOSE=O2 QT_QPA_PLATFORM=wayland \
  timeout $((60 * ${HAKOP_TEST_SLOWDOWN:-1})) dbus-run-session -- bash "$tmp/session.sh" "$tmp" || rc=$?
[ "$rc" = 0 ] || { echo "--- kwin:"; tail -n 20 "$tmp/out/kwin.log"; echo "--- watcher:"; cat "$tmp/out/watcher.log" 2>/dev/null; } >&2
exit "$rc"
