#!/usr/bin/env bash
# On GNOME the frozen picture comes from the desktop portal's screenshot, and
# only once the user has allowed it: before that no dialog holds the start,
# the plain backdrop stands in and one line gives the command that allows
# it; a portal that does not answer in time means the plain backdrop too;
# no screenshot file stays behind; each of two outputs gets its own part of
# the desktop. Run under with-gnome-shell --outputs 2:
#   portal_picture_e2e.sh DESKTOP_PICTURE
set -uo pipefail
tool=$1
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
for program in /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-gnome; do
  [ -x "$program" ] || skip "$program is missing (Debian packages xdg-desktop-portal, xdg-desktop-portal-gnome)"
done
command -v gsettings >/dev/null || skip "gsettings is missing (Debian package libglib2.0-bin)"

share=$HAKOP_DESKTOP_SHARE
as_user=$HAKOP_AS_DESKTOP_USER
home=$("$as_user" sh -c 'echo "$HOME"')
# The clone may lie where the desktop's user cannot enter.
cp "$tool" "$share/desktop_picture" && chmod 755 "$share/desktop_picture" || fail "cannot copy the tool"

# take NAME COLOUR: the saver's capture into $share/NAME, its report in
# NAME.out and its lines in NAME.err.
take() {
  "$as_user" mkdir -p "$share/$1"
  local start=$(date +%s%N)
  "$as_user" timeout $((30 * ${HAKOP_TEST_SLOWDOWN:-1})) "$share/desktop_picture" "$share/$1" "$2" \
    >"$share/$1.out" 2>"$share/$1.err" || { cat "$share/$1.err" >&2; fail "$1: the capture failed or hung"; }
  echo "$1: $(tr '\n' ' ' <"$share/$1.out")(run in $((($(date +%s%N) - start) / 1000000)) ms); $(cat "$share/$1.err")"
}
# The fewest pixels of the colour on any output, or nothing when one has no picture.
pixels() {
  [ "$(grep -c ': picture, ' "$share/$1.out")" = 2 ] &&
    sed -n 's/.*picture, \([0-9]*\) pixels.*/\1/p' "$share/$1.out" | sort -n | head -n1
}
none() { [ "$(grep -c '^output [01] 1280x720: none$' "$share/$1.out")" = 2 ]; }
no_files_left() {
  local left
  left=$(find "$home" -type f \( -iname '*.png' -o -iname '*.jpg' \) | grep -v "^$share/" || true)
  [ -z "$left" ] || fail "screenshot files stay behind: $left"
}
background() {
  "$as_user" gsettings set org.gnome.desktop.background picture-uri '' &&
    "$as_user" gsettings set org.gnome.desktop.background color-shading-type solid &&
    "$as_user" gsettings set org.gnome.desktop.background primary-color "#$1" || fail "cannot set the background"
}

# Not allowed yet: the portal is not even asked.
background ff00ff
take denied ff00ff
none denied || fail "a picture without the permission"
[ "$(wc -l <"$share/denied.err")" = 1 ] &&
  grep -q '^hakop: the desktop portal may not take screenshots without asking.*allow it once with: gdbus call' \
    "$share/denied.err" || fail "not the one line that says how to allow it"
no_files_left

# Allowed with the very command the line gives, as the user would type it.
command=$(sed -n 's/.*allow it once with: //p' "$share/denied.err")
"$as_user" sh -c "$command" >/dev/null || fail "the command the line gives failed: $command"

# The live desktop, as it changes: the shell takes a new background colour
# at its own pace.
for colour in ff00ff 00ffff; do
  background "$colour"
  for attempt in $(seq 1 20); do
    take "live-$colour-$attempt" "$colour"
    [ "$(pixels "live-$colour-$attempt")" -gt 100000 ] 2>/dev/null && break
    [ "$attempt" -lt 20 ] || fail "the picture never showed the background $colour"
    sleep 0.2
  done
  [ -s "$share/live-$colour-$attempt.err" ] && fail "lines for a picture that came: $(cat "$share/live-$colour-$attempt.err")"
  # The outputs show different things (the top bar and overview on the first).
  [ "$(sed -n 's/.*picture, \([0-9]*\) pixels.*/\1/p' "$share/live-$colour-$attempt.out" | sort -u | wc -l)" = 2 ] ||
    fail "both outputs got the same part of the desktop"
  no_files_left
done

# A portal whose back end does not answer: the plain backdrop by the deadline.
backend=$(ps -eo pid=,sid=,args= | awk -v s="$HAKOP_DESKTOP_SESSION" \
  '$2 == s && $3 == "/usr/libexec/xdg-desktop-portal-gnome" { print $1 }')
[ -n "$backend" ] || fail "the portal's GNOME back end is not running"
kill -STOP "$backend"
take silent 00ffff
kill -CONT "$backend"
none silent || fail "a picture from a portal that did not answer"
[ "$(wc -l <"$share/silent.err")" = 1 ] && grep -q "^hakop: the desktop portal's screenshot did not come within" \
  "$share/silent.err" || fail "not the one line about the portal's silence"
# What the back end does with the withdrawn request once it runs again.
sleep 2
no_files_left
echo "portal picture: not allowed, allowed, live and silent all as expected"
