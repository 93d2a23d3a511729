#!/usr/bin/env bash
# Under an address-space limit too tight for the toolkit (ulimit -v), the
# program says it is out of memory in one line and ends with 1, in the saver
# and the settings mode alike, instead of aborting or hanging half-way; with
# a limit that leaves room the saver runs and ends as usual.
#   out_of_memory_e2e.sh HAKOP
set -uo pipefail
hakop=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
slowdown=${HAKOP_TEST_SLOWDOWN:-1}

# Below about 70 MB the loader itself cannot map the libraries, before any
# code of ours runs; above that the toolkit used to fail in various ways.
for kb in 90000 110000; do
  for mode in /s /c; do
    (ulimit -v "$kb" && exec timeout $((20 * slowdown)) "$hakop" "$mode") >"$tmp/out" 2>"$tmp/err"
    rc=$?
    [ "$rc" = 1 ] || fail "$mode under $kb KB: exit code $rc"
    [ "$(wc -l <"$tmp/err")" = 1 ] && grep -q '^hakop: out of memory' "$tmp/err" ||
      fail "$mode under $kb KB said: $(head -c 400 "$tmp/err")"
  done
done

# Room enough: the saver shows and a key ends it.
(ulimit -v 300000 && exec "$hakop" /s) 2>"$tmp/err" & pid=$!
shown=
for _ in $(seq 1 $((200 * slowdown))); do
  shown=$(xdotool search --onlyvisible --class '^THAKOPForm$' 2>/dev/null | head -n1) && [ -n "$shown" ] && break
  sleep 0.05
done
[ -n "$shown" ] || fail "no saver window under 300000 KB: $(cat "$tmp/err")"
sleep 1
xdotool key x
for _ in $(seq 1 $((100 * slowdown))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$pid" 2>/dev/null; then
  kill "$pid"; fail "the saver under 300000 KB did not end on a key"
else
  wait "$pid" || fail "the saver under 300000 KB ended with $?"
fi
[ ! -s "$tmp/err" ] || fail "the saver under 300000 KB said: $(cat "$tmp/err")"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all out-of-memory checks passed"
