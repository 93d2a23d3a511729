#!/usr/bin/env bash
# GNOME Shell starts headless with its Activities overview open, where a
# fullscreen window shows only as a thumbnail and never gets the keyboard.
# The saver must not run on unseen as if it held the keys: it takes the
# missing keyboard for a key, says so once, and (with no verifier) ends.
# Run under with-gnome-shell:
#   gnome_overview_e2e.sh HAKOP MUTTER_INPUT
set -uo pipefail
hakop=$1 input=$2
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
/usr/bin/python3 -c 'import dbus' 2>/dev/null || skip "python3-dbus is not installed"
as_user=$HAKOP_AS_DESKTOP_USER
# The clone may lie where the desktop's user cannot enter.
bin=$HAKOP_DESKTOP_SHARE/bin
mkdir -p "$bin" && cp "$hakop" "$(dirname "$hakop")/hakop-verifier" "$input" "$bin/" && chmod -R a+rX "$bin" ||
  fail "cannot copy the programs"
limit=$((20 * ${HAKOP_TEST_SLOWDOWN:-1}))

# A keyboard on the seat: the session's first key makes it.
coproc IN { "$as_user" "$bin/$(basename "$input")"; }
read -r -t "$limit" -u "${IN[0]}" line && [ "$line" = ready ] || fail "no RemoteDesktop session"
echo "key 42" >&"${IN[1]}"

start=$(date +%s%N)
"$as_user" timeout "$limit" "$bin/hakop" /s 2>"$HAKOP_DESKTOP_SHARE/log"
rc=$?
took=$((($(date +%s%N) - start) / 1000000))
exec {IN[1]}>&-
said=$(grep -c 'gave the saver no keyboard' "$HAKOP_DESKTOP_SHARE/log")
[ "$rc" = 0 ] && [ "$said" = 1 ] ||
  fail "exit $rc after $took ms, the line said $said times: $(cat "$HAKOP_DESKTOP_SHARE/log")"
echo "ended by the missing keyboard after $took ms, said once"
