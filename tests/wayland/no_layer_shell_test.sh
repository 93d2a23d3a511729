#!/usr/bin/env bash
# On a compositor without the layer shell (weston's headless backend, run as
# an unprivileged user) the saver refuses in one line and ends with exit 1,
# instead of running half a saver over a black picture.
#   no_layer_shell_test.sh HAKOP
set -uo pipefail
hakop=$1
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v weston >/dev/null || skip "weston is not installed (Debian package weston)"
[ "$(id -u)" -eq 0 ] || skip "weston runs as another, unprivileged user here; that needs root"
user=nobody
id "$user" >/dev/null 2>&1 || skip "there is no user $user"

tmp=$(mktemp -d)
chmod 755 "$tmp"
mkdir -m 700 "$tmp/run"
chown "$user" "$tmp/run"
weston_pid=
trap '[ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$tmp"' EXIT

# kiosk-shell: a shell that starts no helper programs of its own.
setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
  env -i HOME="$tmp" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$tmp/run" \
  weston --backend=headless-backend.so --shell=kiosk-shell.so --no-config --socket=wayland-test \
  >"$tmp/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 1 200); do
  [ -S "$tmp/run/wayland-test" ] && break
  kill -0 "$weston_pid" 2>/dev/null || break
  sleep 0.05
done
[ -S "$tmp/run/wayland-test" ] || { cat "$tmp/weston.log" >&2; fail "weston did not start"; }

rc=0
env -u DISPLAY WAYLAND_DISPLAY="$tmp/run/wayland-test" XDG_RUNTIME_DIR="$tmp/run" \
  timeout $((20 * ${HAKOP_TEST_SLOWDOWN:-1})) "$hakop" /s 2>"$tmp/err" || rc=$?
[ "$rc" = 1 ] || { cat "$tmp/err" >&2; fail "exit $rc, not 1"; }
[ "$(wc -l <"$tmp/err")" = 1 ] && grep -q '^hakop: this Wayland compositor offers no layer shell (zwlr_layer_shell_v1)' "$tmp/err" ||
  { cat "$tmp/err" >&2; fail "not the one line naming the missing layer shell"; }
echo "refused: $(cat "$tmp/err")"
