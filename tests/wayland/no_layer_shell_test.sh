#!/usr/bin/env bash
# Compositors without the layer shell, on weston's headless backend run as an
# unprivileged user:
#  - desktop-shell (panel, background, windows): the saver covers the output
#    with a fullscreen window, drawn above the panel, read from weston's own
#    scene graph (weston --debug);
#  - fullscreen-shell (no windows either): the saver refuses in one line and
#    ends with exit 1, instead of running half a saver.
# (weston headless has no input; keys and moves are tried on mutter.)
#   no_layer_shell_test.sh HAKOP
set -uo pipefail
hakop=$1
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v weston >/dev/null || skip "weston is not installed (Debian package weston)"
command -v weston-debug >/dev/null || skip "weston-debug is not installed (Debian package weston)"
[ "$(id -u)" -eq 0 ] || skip "weston runs as another, unprivileged user here; that needs root"
user=nobody
id "$user" >/dev/null 2>&1 || skip "there is no user $user"
limit=$((20 * ${HAKOP_TEST_SLOWDOWN:-1}))

tmp=$(mktemp -d)
chmod 755 "$tmp"
weston_pid=
saver_pid=
stop() {
  [ -n "$saver_pid" ] && kill "$saver_pid" 2>/dev/null
  [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null
  wait 2>/dev/null
  weston_pid= saver_pid=
}
trap 'stop; rm -rf "$tmp"' EXIT

weston_with() { # SHELL: a weston of that shell, its socket in $run/wayland-test
  run=$tmp/run-$1
  mkdir -m 700 "$run"
  chown "$user" "$run"
  setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
    env -i HOME="$tmp" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$run" \
    weston --backend=headless-backend.so --shell="$1.so" --no-config --socket=wayland-test --debug \
    >"$tmp/weston-$1.log" 2>&1 &
  weston_pid=$!
  for _ in $(seq 1 $((limit * 20))); do
    [ -S "$run/wayland-test" ] && break
    kill -0 "$weston_pid" 2>/dev/null || break
    sleep 0.05
  done
  [ -S "$run/wayland-test" ] || { cat "$tmp/weston-$1.log" >&2; fail "weston ($1) did not start"; }
  export WAYLAND_DISPLAY=$run/wayland-test XDG_RUNTIME_DIR=$run
}

# Which layers hold the saver's window and the panel, top first, and the saver's extent.
scene() {
  timeout 5 weston-debug scene-graph 2>/dev/null | awk '
    /^Layer / { layer = $2 }
    /^\tView / { what = /top-level window .hakop. of hakop/ ? "saver" : /panel for output/ ? "panel" : "" }
    what != "" && /^\t\tposition:/ { sub(/^\t\tposition: /, ""); print what, layer, $0; what = "" }'
}

weston_with desktop-shell
env -u DISPLAY "$hakop" /s 2>"$tmp/err" &
saver_pid=$!
for _ in $(seq 1 $((limit * 10))); do
  scene >"$tmp/scene"
  grep -q '^saver' "$tmp/scene" && grep -q '^panel' "$tmp/scene" && break
  kill -0 "$saver_pid" 2>/dev/null || break
  sleep 0.1
done
[ "$(head -1 "$tmp/scene" | cut -d' ' -f1)" = saver ] && grep -q '^saver .* (0, 0) -> (1024, 640)$' "$tmp/scene" &&
  grep -q '^panel' "$tmp/scene" || { cat "$tmp/scene" "$tmp/err" >&2; fail "the saver's window does not cover the output above the panel"; }
grep -v 'no screen copy' "$tmp/err" | grep -q . && { cat "$tmp/err" >&2; fail "the saver complained"; }
echo "covered: $(head -1 "$tmp/scene")"
stop

weston_with fullscreen-shell
rc=0
env -u DISPLAY timeout "$limit" "$hakop" /s 2>"$tmp/err" || rc=$?
[ "$rc" = 1 ] || { cat "$tmp/err" >&2; fail "exit $rc, not 1"; }
[ "$(wc -l <"$tmp/err")" = 1 ] && grep -q '^hakop: .*neither the layer shell (zwlr_layer_shell_v1) nor windows (xdg_wm_base)' "$tmp/err" ||
  { cat "$tmp/err" >&2; fail "not the one line naming what is missing"; }
echo "refused: $(cat "$tmp/err")"
