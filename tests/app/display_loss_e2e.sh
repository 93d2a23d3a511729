#!/usr/bin/env bash
# Kills the X server under a running hakop (run by with-x, which is this
# script's parent and the server's): the program must say so in one line on
# stderr and end with a non-zero code instead of crashing or hanging.
#   display_loss_e2e.sh HAKOP [ARGS...]
set -uo pipefail
hakop=$1; shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Qt warns on stderr when there is no runtime directory; a desktop session has one.
mkdir -m 700 "$tmp/runtime" && export XDG_RUNTIME_DIR=$tmp/runtime

before=$(xdotool search --onlyvisible --name '' 2>/dev/null | wc -l)
"$hakop" "$@" 2>"$tmp/err" &
pid=$!
# Wait until the program shows a window (it is then in its event loop).
for _ in $(seq 1 100); do
  kill -0 $pid 2>/dev/null || break
  [ "$(xdotool search --onlyvisible --name '' 2>/dev/null | wc -l)" -gt "$before" ] && break
  sleep 0.05
done
kill -0 $pid 2>/dev/null || { echo "hakop $* ended before it showed a window" >&2; exit 1; }
sleep 0.3

server=$(pgrep -P "$PPID" -x Xvfb)
[ -n "$server" ] || { echo "no Xvfb to kill" >&2; kill $pid; exit 1; }
kill -KILL "$server"

for _ in $(seq 1 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
  echo "FAIL: hakop $* still running 10 s after the display went away" >&2
  kill -KILL $pid
  exit 1
fi
wait $pid; rc=$?
ok=1
{ [ $rc -ne 0 ] && [ $rc -lt 128 ]; } || { echo "FAIL: exit code $rc" >&2; ok=0; }
if [ "$(cat "$tmp/err")" != "hakop: lost the connection to the X display" ]; then
  echo "FAIL: stderr was:" >&2; cat "$tmp/err" >&2; ok=0
fi
[ $ok = 1 ] && echo "display loss handled"
exit $(( ok == 0 ))
