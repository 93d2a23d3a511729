#!/usr/bin/env bash
# The saver on GNOME Shell (headless, one output), run under with-gnome-shell:
#   gnome_shell_e2e.sh HAKOP MUTTER_INPUT
# 1. The shell starts with its Activities overview open, where a fullscreen
#    window shows only as a thumbnail and never gets the keyboard: the saver
#    must not run on unseen as if it held the keys. It takes the missing
#    keyboard for a key, says so once, and (with no verifier) ends.
# 2. With the overview closed and the portal's screenshot allowed, the saver
#    covers the output with the desktop as it was: the live background
#    changed underneath never shows through. A key ends it.
set -uo pipefail
hakop=$1 input=$2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || skip "python3-dbus or python3-gi is not installed"
command -v convert >/dev/null || skip "convert is missing (Debian package imagemagick)"
as_user=$HAKOP_AS_DESKTOP_USER share=$HAKOP_DESKTOP_SHARE
# The clone may lie where the desktop's user cannot enter.
bin=$share/bin
mkdir -p "$bin" && cp "$hakop" "$(dirname "$hakop")/hakop-verifier" "$input" "$bin/" && chmod -R a+rX "$bin" ||
  fail "cannot copy the programs"
limit=$((20 * ${HAKOP_TEST_SLOWDOWN:-1}))

coproc IN { "$as_user" "$bin/$(basename "$input")"; }
read -r -t "$limit" -u "${IN[0]}" line && [ "$line" = ready ] || fail "no RemoteDesktop session"
send() { echo "$*" >&"${IN[1]}"; }
answer() { read -r -t "$limit" -u "${IN[0]}" line && [ "$line" = ok ]; }
send key 42 # a keyboard on the seat: the session's first key makes it

start=$(date +%s%N)
"$as_user" timeout "$limit" "$bin/hakop" /s 2>"$share/overview.log"
rc=$?
took=$((($(date +%s%N) - start) / 1000000))
said=$(grep -c 'gave the saver no keyboard' "$share/overview.log")
[ "$rc" = 0 ] && [ "$said" = 1 ] ||
  fail "overview: exit $rc after $took ms, the line said $said times: $(cat "$share/overview.log")"
echo "ok - with the overview open: ended by the missing keyboard after $took ms, said once"

send key 1 # Escape: the overview closes
"$as_user" gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
  --object-path /org/freedesktop/impl/portal/PermissionStore \
  --method org.freedesktop.impl.portal.PermissionStore.SetPermission screenshot true screenshot '' "['yes']" \
  >/dev/null || fail "cannot allow the portal's screenshot"
background() {
  "$as_user" gsettings set org.gnome.desktop.background picture-uri '' &&
    "$as_user" gsettings set org.gnome.desktop.background color-shading-type solid &&
    "$as_user" gsettings set org.gnome.desktop.background primary-color "#$1" || fail "cannot set the background"
}
# Pixels of colour $2 in the shell's screenshot $1.
shot() { "$as_user" rm -f "$share/$1.png"; send shot "$share/$1.png"; answer || fail "no screenshot from the shell"; }
count() { convert "$share/$1.png" -fill black +opaque "#$2" -fill white -opaque "#$2" -format '%[fx:int(mean*w*h)]' info:; }
# The shell takes a new background at its own pace.
until_shown() {
  for _ in $(seq 1 $((limit * 5))); do
    shot live; [ "$(count live "$1")" -gt 100000 ] && return 0; sleep 0.2
  done
  fail "the desktop never showed the background $1"
}
background ff00ff
until_shown ff00ff

# The portal's first answer after it starts may miss the saver's deadline
# (then the plain backdrop): a second start has it.
for attempt in 1 2 3; do
  "$as_user" env WAYLAND_DEBUG=1 timeout "$limit" "$bin/hakop" /s 2>"$share/saver.log" &
  saver=$!
  for _ in $(seq 1 $((limit * 10))); do
    grep -q 'wl_keyboard@[0-9]*\.enter(' "$share/saver.log" && break
    kill -0 "$saver" 2>/dev/null || fail "the saver ended: $(grep '^hakop:' "$share/saver.log")"
    sleep 0.1
  done
  grep -q '^hakop:.*did not come within' "$share/saver.log" || break
  send key 30; wait "$saver"
done
background 00ffff
sleep 1
shot frozen
frozen=$(count frozen ff00ff) live=$(count frozen 00ffff)
[ "$frozen" -gt 100000 ] && [ "$live" -lt 100 ] ||
  fail "not the frozen desktop: $frozen px of the old background, $live of the new; $(grep '^hakop:' "$share/saver.log")"
send key 30
rc=0; wait "$saver" || rc=$?
exec {IN[1]}>&-
[ "$rc" = 0 ] || fail "a key did not end the saver (exit $rc)"
echo "ok - the frozen desktop from the portal ($frozen px of it, $live of the live one), a key ends it"
