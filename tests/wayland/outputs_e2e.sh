#!/usr/bin/env bash
# Outputs coming and going while the saver runs (run under with-sway, one
# output). sway's headless outputs cannot be disabled or taken away, so the
# saver runs on a second sway nested in the first: each of its outputs is a
# window there, and closing that window takes the output away for good (its
# wl_output global goes). Checks, in one run: an added output is covered black,
# and still when it is made larger; the figures' output made larger is covered
# all over and keeps its picture where it was; resizes leave no surfaces or
# buffers behind;
# the other output going leaves the saver running and the first still covered;
# the figures' output going ends it with 0 and nothing on stderr.
#   outputs_e2e.sh HAKOP
set -uo pipefail
hakop=$1
slowdown=${HAKOP_TEST_SLOWDOWN:-1}
work=$(mktemp -d)
user=$(stat -c %U "$XDG_RUNTIME_DIR")
nested='' saver=''
cleanup() {
  local p
  for p in $saver $nested; do kill -KILL "$p" 2>/dev/null || true; done
  for p in $saver $nested; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work" "$HAKOP_SWAY_SHARE/run2"
}
trap cleanup EXIT
fail() { echo "not ok - $*"; exit 1; }
# shellcheck source=tests/e2e/processes.sh
source "$(dirname "$0")/../e2e/processes.sh"
# Polls a condition for up to N seconds (times the slowdown).
within() { # seconds command...
  local n=$1; shift
  for _ in $(seq 1 $((n * 10 * slowdown))); do "$@" && return 0; sleep 0.1; done
  return 1
}

# The outer sway floats the nested one's windows: closing one must not resize another.
swaymsg 'for_window [app_id="wlroots"] floating enable' >/dev/null
run2=$HAKOP_SWAY_SHARE/run2
mkdir -p "$run2" && chown "$user" "$run2" && chmod 700 "$run2"
printf 'xwayland disable\ndefault_border none\n' >"$HAKOP_SWAY_SHARE/config2"
setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
  env -i HOME="$run2" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$run2" WAYLAND_DISPLAY="$WAYLAND_DISPLAY" \
    WLR_BACKENDS=wayland WLR_RENDERER=pixman WLR_WL_OUTPUTS=2 \
  sway -c "$HAKOP_SWAY_SHARE/config2" >"$work/nested.log" 2>&1 &
nested=$!
inner() { WAYLAND_DISPLAY=$(echo "$run2"/wayland-*[0-9]) SWAYSOCK=$(echo "$run2"/sway-ipc.*.sock) "$@"; }
outputs() { inner swaymsg -t get_outputs -r 2>/dev/null | grep -o '"name": "WL-[0-9]*"' | tr -d '" ' | sed 's/name://' | sort | tr '\n' ' '; }
has_outputs() { [ "$(outputs)" = "$1" ]; }
within 10 has_outputs "WL-1 WL-2 " || { cat "$work/nested.log" >&2; fail "the nested sway did not start: $(outputs)"; }

shot() { inner grim -o "$1" "$2"; }
# Fraction of the picture's pixels that are magenta, the desktop's colour below.
magenta() { convert "$1" -fill black +opaque '#ff00ff' -fill white -opaque '#ff00ff' -format '%[fx:mean]' info:; }
brightest() { convert "$1" -format '%[fx:maxima]' info:; }
close_output() { swaymsg "[app_id=\"wlroots\" title=\"wlroots - $1\"] kill" >/dev/null; }

# A desktop with detail, so that a picture kept can be told from one lost.
convert -size 1280x720 -seed 5 plasma:fractal "$HAKOP_SWAY_SHARE/p.png"
inner swaymsg output '*' bg "$HAKOP_SWAY_SHARE/p.png" stretch >/dev/null
differ() { compare -metric AE "$1" "$2" null: 2>&1 | awk '{print int($1)}'; }
settled() { cp "$work/desk.png" "$work/before.png"; sleep 0.3; shot WL-1 "$work/desk.png" &&
  [ "$(differ "$work/before.png" "$work/desk.png")" = 0 ]; }
shot WL-1 "$work/desk.png"
within 5 settled || fail "the nested desktop does not settle"
# The protocol log (lines starting with '[') counts what the saver makes and lets go.
WAYLAND_DEBUG=client inner "$hakop" /s 2>"$work/err" &
saver=$!
errors() { grep -v '^\[' "$work/err"; }
differs() { alive "$saver" && shot WL-1 "$work/probe.png" && [ "$(differ "$work/desk.png" "$work/probe.png")" -gt 0 ]; }
within 10 differs || fail "no figures on WL-1: $(errors)"
# From here on, whatever is not covered shows magenta.
inner swaymsg output '*' bg '#ff00ff' solid_color >/dev/null

inner swaymsg create_output >/dev/null
within 5 has_outputs "WL-1 WL-2 WL-3 " || fail "no third output: $(outputs)"
black() { shot WL-3 "$work/h3.png" && [ "$(brightest "$work/h3.png")" = 0 ]; }
within 5 black || fail "the added output is not black: brightest $(brightest "$work/h3.png"), magenta $(magenta "$work/h3.png")"
echo "ok - an added output is covered black"

swaymsg '[app_id="wlroots" title="wlroots - WL-3"] resize set 1600 900' >/dev/null
grown() { shot WL-3 "$work/h3.png" && [ "$(identify -format '%w' "$work/h3.png")" = 1600 ]; }
within 5 grown || fail "WL-3 was not resized: $(identify -format '%wx%h' "$work/h3.png")"
within 5 black || fail "WL-3 resized is not covered: magenta $(magenta "$work/h3.png")"
echo "ok - a resized output is covered at its new size"

# The figures' output made larger: its new part is covered too, and the figures go on.
swaymsg '[app_id="wlroots" title="wlroots - WL-1"] resize set 1600 900' >/dev/null
grown1() { shot WL-1 "$work/h1.png" && [ "$(identify -format '%w' "$work/h1.png")" = 1600 ]; }
within 5 grown1 || fail "WL-1 was not resized: $(identify -format '%wx%h' "$work/h1.png")"
covered1() { shot WL-1 "$work/h1.png" && [ "$(magenta "$work/h1.png")" = 0 ]; }
within 5 covered1 || fail "WL-1 resized is not covered: magenta $(magenta "$work/h1.png")"
# Where it was, the picture is as before but for the figures (a few per cent).
# The figures leave black behind them: there the desktop counts, but most of
# it is still the picture.
convert "$work/h1.png" -crop "$(identify -format '%wx%h' "$work/desk.png")+0+0" +repage "$work/kept.png"
unblack=$(convert "$work/kept.png" -fill white +opaque black -format '%[fx:mean]' info:)
convert "$work/desk.png" \( "$work/kept.png" -transparent black \) -composite "$work/kept.png"
off=$(differ "$work/desk.png" "$work/kept.png")
[ "$off" -lt $(($(identify -format '%[fx:w*h]' "$work/desk.png") / 10)) ] && awk "BEGIN { exit !($unblack > 0.5) }" ||
  fail "WL-1 grown lost its picture: $off pixels differ, $unblack of it not black"
cp "$work/h1.png" "$work/desk.png"
within 5 differs || fail "the figures stopped when WL-1 grew: $(errors)"
echo "ok - the figures' output made larger is covered, keeps its picture, the figures go on"

# Five resizes of both: still one surface per output, and a few buffers.
live() { # made, let go (protocol log patterns)
  echo $(($(grep -cE "$1" "$work/err") - $(grep -cE "$2" "$work/err")))
}
for size in 1280x720 1600x900 1280x720 1600x900 1400x800; do
  for o in WL-1 WL-3; do swaymsg "[app_id=\"wlroots\" title=\"wlroots - $o\"] resize set ${size/x/ }" >/dev/null; done
  sized() { shot WL-1 "$work/h1.png" && shot WL-3 "$work/h3.png" &&
    [ "$(identify -format '%wx%h' "$work/h1.png")" = "$size" ] && [ "$(identify -format '%wx%h' "$work/h3.png")" = "$size" ]; }
  within 5 sized || fail "WL-1 and WL-3 were not resized to $size"
done
within 5 covered1 || fail "WL-1 is not covered after the resizes"
surfaces=$(live 'create_surface\(' 'wl_surface@[0-9]+\.destroy\(')
buffers=$(live 'create_buffer\(' 'wl_buffer@[0-9]+\.destroy\(')
# Three outputs; up to three buffers for the figures and one per other output.
[ "$surfaces" = 3 ] && [ "$buffers" -le 5 ] || fail "after five resizes: $surfaces surfaces, $buffers buffers"
echo "ok - resizes leave one surface per output and a few buffers"

close_output WL-2
within 5 has_outputs "WL-1 WL-3 " || fail "WL-2 did not go: $(outputs)"
sleep 1
alive "$saver" || fail "the saver ended when another output went: $(errors)"
shot WL-1 "$work/h1.png"
[ "$(magenta "$work/h1.png")" = 0 ] || fail "WL-1 is not covered after WL-2 went"
echo "ok - another output going leaves it running and covering"

close_output WL-1
rc=124
ended() { ! alive "$saver"; }
within 5 ended && { wait "$saver"; rc=$?; }
[ "$rc" = 0 ] || fail "the figures' output going: exit $rc, $(errors)"
[ -z "$(errors)" ] || fail "the figures' output going left: $(errors)"
saver=
echo "ok - the figures' output going ends it with 0"
# What the checks above would have seen of an output left uncovered.
uncovered() { shot WL-3 "$work/bare3.png" && [ "$(magenta "$work/bare3.png")" = 1 ]; }
within 5 uncovered || fail "WL-3 bare is not the magenta desktop: $(magenta "$work/bare3.png")"
