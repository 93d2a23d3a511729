# hakop-idle on a headless KWin, through the compositor's idle notifier
# (ext_idle_notifier_v1): the saver starts once the session is idle, and when
# KWin goes the watcher says so in one line and ends with 1.
# Run by as_session_user.sh.
# A copy: Debian's kwin_wayland carries a file capability that a container
# without that capability refuses to run.
cp "$(command -v kwin_wayland)" "$HOME/kwin_wayland"
"$HOME/kwin_wayland" --virtual --width 640 --height 480 --socket idle-test --no-global-shortcuts \
  --no-kactivities --no-lockscreen >"$out/kwin.log" 2>&1 &
compositor_pid=$! watcher_pid=
trap 'kill $watcher_pid $compositor_pid 2>/dev/null; echo 0 >"$out/release1"; wait' EXIT
until_true '[ -S "$XDG_RUNTIME_DIR/idle-test" ]'
WAYLAND_DISPLAY=idle-test "$tmp/bin/hakop-idle" --after 1 >"$out/watcher.log" 2>&1 &
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
