#!/usr/bin/env bash
# What the Wayland tests stand on (run under with-sway): a client of ours
# reaches the unprivileged user's sway through the socket's path, grim reads
# each output at its configured size, and the virtual pointer is taken.
#   harness_test.sh VIRTUAL_POINTER
set -euo pipefail
pointer=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for out in HEADLESS-1 HEADLESS-2; do
  grim -o "$out" "$work/$out.png" || fail "grim cannot read $out"
  [ "$(identify -format %wx%h "$work/$out.png")" = 1280x720 ] || fail "$out is not 1280x720"
done
"$pointer" sleep 50 move 10 -10 click || fail "the virtual pointer was not taken"
"$pointer" bogus 2>/dev/null && fail "the virtual pointer took a bad action"
swaymsg -t get_inputs -r | grep -q '"type": "pointer"' && fail "the virtual pointer outlived its program"
echo "harness: outputs read, pointer driven"
