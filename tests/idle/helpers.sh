# Shared by the idle tests, which run inside a desktop's launcher
# (tests/desktops/with-mutter, with-kwin) or with-x, and source it first with
# the watcher program as its argument: a folder of the test's own ($tmp), the
# watcher in it with a stand-in saver that records what it is asked ($out),
# and the waits. The desktop's user may read all of it and write $out.
set -uo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
tmp=$(mktemp -d)
chmod 755 "$tmp"
out=$tmp/out
mkdir -m 777 "$out"
compositor_pid=
# Waits (up to a minute) for a condition that must come, while the compositor lives.
until_true() {
  for _ in $(seq 600); do
    eval "$1" && return 0
    [ -z "$compositor_pid" ] || kill -0 "$compositor_pid" 2>/dev/null || fail "the compositor ended"
    sleep 0.1
  done
  fail "never: $1"
}
starts() { [ -f "$out/started" ] && wc -l <"$out/started" || echo 0; }
# For the test's EXIT trap, given the status: the folder goes, and a failed
# test shows its logs first.
leave() {
  [ "$1" = 0 ] || for log in "$out"/*.log; do echo "--- $log:"; tail -n 20 "$log"; done >&2
  rm -rf "$tmp"
}
# The watcher in $tmp/bin with a stand-in hakop beside it. The stand-in
# records each start ("started": its arguments, a line each; "pidN") and runs
# until the test writes its exit status into "releaseN" (N = 1 for the first
# start), or until the test has gone (and its folder with it).
mkdir "$tmp/bin"
cp "$1" "$tmp/bin/hakop-idle"
cat >"$tmp/bin/hakop" <<'STANDIN'
#!/bin/sh
out=$(dirname "$0")/../out
echo "$*" >>"$out/started"
n=$(wc -l <"$out/started")
echo $$ >"$out/pid$n"
while [ ! -f "$out/release$n" ] && [ -d "$out" ]; do sleep 0.1; done
exit "$(cat "$out/release$n" 2>/dev/null || echo 0)"
STANDIN
chmod 755 "$tmp/bin/hakop"
