#!/usr/bin/env bash
# With the clock frozen, the saver's seed is known, so what the real program
# shows on a real X server must be exactly what the headless engine computes
# for the same desktop picture: first while it runs, then after a refused close
# request (the clean snapshot, then silhouettes and colour frames again).
#   fixed_clock_test.sh HAKOP SCREEN_MATCH STANDINS_DIR   (run under with-x)
set -euo pipefail
hakop=$1 match=$2 standins=$3
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
shot() { import -window root "$1"; }

# A desktop with detail everywhere, so any misplaced pixel shows.
convert -size "$(xdpyinfo | awk '/dimensions:/ {print $2}')" -seed 7 plasma:fractal "$work/pattern.png"
display -window root "$work/pattern.png" || true
shot "$work/desk.png"

# 12:34:56.500 UTC is 45 296 500 ms after midnight: the seed.
seed=45296500
# libfaketime goes straight into the saver: the faketime wrapper would stand
# between this script and the saver, and signals would miss the saver.
LD_LIBRARY_PATH="$standins/refuse" LD_PRELOAD='/usr/$LIB/faketime/libfaketime.so.1' \
  FAKETIME='2026-12-08 12:34:56.500' FAKETIME_DONT_FAKE_MONOTONIC=1 "$hakop" /s &
pid=$!
sleep 2
kill -0 "$pid" 2>/dev/null || fail "the saver did not start"

# A screenshot may catch the window halfway through a repaint, so take a few.
matched=0
for i in 1 2 3 4 5; do
  shot "$work/run$i.png"
  if "$match" "$work/desk.png" $seed "$work/run$i.png" --max-ticks 150; then
    matched=$((matched + 1))
  fi
  sleep 0.23
done
[ "$matched" -ge 2 ] || fail "only $matched of 5 screenshots equal an engine state"

# A refused close request: the clean snapshot first, then the figures return.
xdotool key a
sleep 0.02
kill -0 "$pid" 2>/dev/null || fail "the refusing verifier let the saver close"
# A loaded machine may take a while over a screenshot, so the search allows
# up to 3 s of ticks after the redraw.
reset_ok=0
for j in 0 1 2 3 4 5; do
  shot "$work/after$j.png"
  if result=$("$match" "$work/desk.png" $seed "$work/after$j.png" --after-reset --max-ticks 200 --max-ticks-after-reset 30); then
    k=$(sed -n 's/.*then \([0-9]*\) tick.*/\1/p' <<<"$result")
    echo "after reset: screenshot $j shows the engine's state $k tick(s) after the snapshot was redrawn"
    [ "$k" -ge 1 ] && { reset_ok=1; break; }
  fi
  sleep 0.05
done
[ "$reset_ok" = 1 ] || fail "no screenshot after the refused close equals the engine's state after a snapshot redraw"

kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
echo "fixed clock: screen equals the engine"
