#!/usr/bin/env bash
# hakop-idle on a headless mutter (GNOME's compositor), run as an unprivileged
# user in its own session bus, with a stand-in hakop beside the watcher that
# records each start and runs until the test lets it go:
#  - the saver starts once the session has been idle for the time asked;
#  - a new idle spell while it runs starts no second one;
#  - a saver ending in failure is said in one line, and the next idle spell
#    after the user returns starts it again, unless the session manager
#    holds idleness off;
#  - SIGTERM ends the watcher with status 0 and leaves a running saver alone.
#   gnome_idle_e2e.sh HAKOP_IDLE MUTTER_HAND
set -uo pipefail
watcher=$1 hand=$2
skip() { echo "SKIPPED: $*"; exit 77; }
command -v mutter >/dev/null || skip "mutter is not installed (Debian package mutter)"
command -v gdbus >/dev/null || skip "gdbus is not installed (Debian package libglib2.0-bin)"
command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (Debian package dbus)"
[ "$(id -u)" -eq 0 ] || skip "mutter runs as another, unprivileged user here; that needs root"
user=nobody
id "$user" >/dev/null 2>&1 || skip "there is no user $user"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
mkdir -m 700 "$tmp/run" && mkdir -m 777 "$tmp/out" && mkdir "$tmp/bin"
chown "$user" "$tmp/run"
cp "$watcher" "$tmp/bin/hakop-idle"
# The stand-in saver: records its start, waits until the test writes its exit status.
cat >"$tmp/bin/hakop" <<'STANDIN'
#!/bin/sh
out=$(dirname "$0")/../out
echo "$*" >>"$out/started"
n=$(wc -l <"$out/started")
echo $$ >"$out/pid$n"
# Until released, or until the test has gone (and its folder with it).
while [ ! -f "$out/release$n" ] && [ -d "$out" ]; do sleep 0.1; done
exit "$(cat "$out/release$n")"
STANDIN
chmod 755 "$tmp/bin/hakop"
# A second watcher beside its own stand-in, for the desktop going away.
mkdir "$tmp/b"
cp "$watcher" "$tmp/b/hakop-idle"
printf '#!/bin/sh\ntouch %s/b-started\nwhile [ ! -f %s/release-b ] && [ -d %s ]; do sleep 0.1; done\n' "$tmp/out" "$tmp/out" "$tmp/out" >"$tmp/b/hakop"
chmod 755 "$tmp/b/hakop"
cp "$(dirname "$0")/gnome_idle_session.sh" "$tmp/session.sh"
cp "$hand" "$tmp/bin/mutter_hand"

rc=0
setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
  env -i HOME="$tmp" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$tmp/run" XDG_SESSION_TYPE=wayland GSETTINGS_BACKEND=memory \
  timeout $((90 * ${HAKOP_TEST_SLOWDOWN:-1})) dbus-run-session -- bash "$tmp/session.sh" "$tmp" "$tmp/bin/mutter_hand" || rc=$?
[ "$rc" = 0 ] || { echo "--- mutter:"; tail -n 20 "$tmp/out/mutter.log"; echo "--- watcher:"; cat "$tmp/out/watcher.log" 2>/dev/null; } >&2
exit "$rc"
