#!/usr/bin/env bash
# With the clock frozen, the saver's seed is known, so what the real program
# shows on a real X server must be exactly what the headless engine computes
# for the same desktop picture: first while it runs, then after a refused close
# request (the clean snapshot, then silhouettes and colour frames again).
#   fixed_clock_test.sh HAKOP SCREEN_MATCH STANDINS_DIR
# Under with-x it reads the X screen; under with-sway (WAYLAND_DISPLAY set) the
# output the figures play on, HEADLESS-1, through grim, with keys from wtype.
set -euo pipefail
hakop=$1 match=$2 standins=$3
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# A desktop with detail everywhere, so any misplaced pixel shows.
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
  shot() { grim -o HEADLESS-1 "$1"; }
  key() { wtype -s 300 -k "$1"; }
  size=$(swaymsg -t get_outputs -r | grep -A2 '"current_mode": {' | awk '/"width"/ {w = $2} /"height"/ {print w "x" $2; exit}' | tr -d ,)
  # sway's user draws the background: the picture goes where it may read it.
  # swaybg scales it its own way, so the desktop is what grim reads once the
  # background has changed and settled.
  convert -size "$size" -seed 7 plasma:fractal "$HAKOP_SWAY_SHARE/pattern.png"
  shot "$work/before.png"
  cp "$work/before.png" "$work/desk.png"
  swaymsg output HEADLESS-1 bg "$HAKOP_SWAY_SHARE/pattern.png" stretch >/dev/null
  for _ in $(seq 1 100); do
    sleep 0.1
    shot "$work/now.png"
    differ=$({ compare -metric AE "$work/desk.png" "$work/now.png" null: 2>&1 || true; } | awk '{print int($1)}')
    mv "$work/now.png" "$work/desk.png"
    [ "$differ" = 0 ] && ! cmp -s "$work/before.png" "$work/desk.png" && break
  done
else
  shot() { import -window root "$1"; }
  key() { xdotool key "$1"; }
  convert -size "$(xdpyinfo | awk '/dimensions:/ {print $2}')" -seed 7 plasma:fractal "$work/pattern.png"
  display -window root "$work/pattern.png" || true
fi
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

# Sanitized builds run the saver and this script's matcher several times slower.
slowdown=${HAKOP_TEST_SLOWDOWN:-1}
# The saver is stopped for each screenshot, so the picture cannot change under
# the read; it may still be stopped halfway through a tick, so take a few.
still_shot() {
  kill -STOP "$pid"
  shot "$1"
  kill -CONT "$pid"
}

ms() { echo $(($(date +%s%N) / 1000000)); }
matched=0
last_tick=0 last_tick_at=$(ms)
for i in 1 2 3 4 5; do
  taken=$(ms)
  still_shot "$work/run$i.png"
  if result=$("$match" "$work/desk.png" $seed "$work/run$i.png" --max-ticks 150); then
    echo "$result"
    matched=$((matched + 1))
    last_tick=$(sed -n 's/^match: tick \([0-9]*\).*/\1/p' <<<"$result") last_tick_at=$taken
  fi
  sleep 0.23
done
[ "$matched" -ge 2 ] || fail "only $matched of 5 screenshots equal an engine state"

# A refused close request: the clean snapshot first, then the figures return.
key a
sleep 0.02
kill -0 "$pid" 2>/dev/null || fail "the refusing verifier let the saver close"
# The redraw comes at the tick the key found, or a few later (the ticks go
# on while the verifier's helper starts): at most the last state matched
# above plus a tick per 100 ms since, and some room.
redrawn_by=$((last_tick + ($(ms) - last_tick_at) / 100 + 10 * slowdown))
# Every screenshot is taken before any is matched: matching is slow, and the
# saver ticks on meanwhile. They follow the redraw within about 2 s.
for j in 0 1 2 3 4 5; do
  sleep 0.3
  still_shot "$work/after$j.png"
done
reset_ok=0
for j in 0 1 2 3 4 5; do
  if result=$("$match" "$work/desk.png" $seed "$work/after$j.png" --after-reset \
      --max-ticks $redrawn_by --max-ticks-after-reset $((30 * slowdown))); then
    k=$(sed -n 's/.*then \([0-9]*\) tick.*/\1/p' <<<"$result")
    echo "after reset: screenshot $j shows the engine's state $k tick(s) after the snapshot was redrawn"
    [ "$k" -ge 1 ] && { reset_ok=1; break; }
  fi
done
[ "$reset_ok" = 1 ] || fail "no screenshot after the refused close equals the engine's state after a snapshot redraw"

kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
echo "fixed clock: screen equals the engine"
