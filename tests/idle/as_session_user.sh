#!/usr/bin/env bash
# Runs one idle test script (SESSION) as an unprivileged user in a session bus
# of its own, as a desktop would run hakop-idle, with a stand-in hakop beside
# the watcher. The stand-in records each start ("started": its arguments, a
# line each; "pidN") and runs until the test writes its exit status into
# "releaseN" (N = 1 for the first start). A second watcher in b/ has a
# stand-in of its own that touches "b-started". SESSION runs with
# helpers.sh's functions, and gets the folder and HELPER (copied into bin/).
#   as_session_user.sh COMPOSITOR SESSION HAKOP_IDLE [HELPER]
# Exits 77 where COMPOSITOR is missing or the script is not root.
set -uo pipefail
compositor=$1 session=$2 watcher=$3 helper=${4:-}
skip() { echo "SKIPPED: $*"; exit 77; }
command -v "$compositor" >/dev/null || skip "$compositor is not installed"
command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (Debian package dbus)"
[ "$(id -u)" -eq 0 ] || skip "the compositor runs as another, unprivileged user here; that needs root"
user=nobody
id "$user" >/dev/null 2>&1 || skip "there is no user $user"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
mkdir -m 700 "$tmp/run" "$tmp/home" && mkdir -m 777 "$tmp/out" && mkdir "$tmp/bin" "$tmp/b"
chown "$user" "$tmp/run" "$tmp/home"
cp "$watcher" "$tmp/bin/hakop-idle"
cp "$watcher" "$tmp/b/hakop-idle"
[ -z "$helper" ] || cp "$helper" "$tmp/bin/"
cat >"$tmp/bin/hakop" <<'STANDIN'
#!/bin/sh
out=$(dirname "$0")/../out
echo "$*" >>"$out/started"
n=$(wc -l <"$out/started")
echo $$ >"$out/pid$n"
# Until released, or until the test has gone (and its folder with it).
while [ ! -f "$out/release$n" ] && [ -d "$out" ]; do sleep 0.1; done
exit "$(cat "$out/release$n" 2>/dev/null || echo 0)"
STANDIN
printf '#!/bin/sh\ntouch %s/b-started\nwhile [ ! -f %s/release-b ] && [ -d %s ]; do sleep 0.1; done\n' \
  "$tmp/out" "$tmp/out" "$tmp/out" >"$tmp/b/hakop"
chmod 755 "$tmp/bin/hakop" "$tmp/b/hakop"
cp "$(dirname "$0")/helpers.sh" "$tmp/helpers.sh"
cp "$session" "$tmp/session.sh"

rc=0
setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
  env -i HOME="$tmp/home" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$tmp/run" XDG_SESSION_TYPE=wayland \
  GSETTINGS_BACKEND=memory KWIN_COMPOSE=O2 QT_QPA_PLATFORM=wayland \
  timeout $((90 * ${HAKOP_TEST_SLOWDOWN:-1})) dbus-run-session -- \
  bash -c 'source "$1/helpers.sh" && source "$1/session.sh"' session "$tmp" "$tmp/bin/$(basename "$helper")" || rc=$?
[ "$rc" = 0 ] || for log in "$tmp"/out/*.log; do echo "--- $log:"; tail -n 20 "$log"; done >&2
exit "$rc"
