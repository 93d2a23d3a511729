#!/usr/bin/env bash
# hakop-idle's refusals, each one line and an exit status: a bad command line
# (2); no saver to start, sway's compositor without an idle notifier, its
# XWayland alone and no desktop at all (1). Run under with-sway --xwayland.
#   refusals_test.sh HAKOP_IDLE
set -uo pipefail
watcher=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -m 700 "$tmp/bin" "$tmp/run"
cp "$watcher" "$tmp/bin/hakop-idle"

refuses() { # status line-pattern [env assignments...] -- args...
  local want=$1 pattern=$2; shift 2
  local vars=()
  while [ "$1" != -- ]; do vars+=("$1"); shift; done
  shift
  local rc=0
  timeout 20 env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY PATH=/nonexistent "${vars[@]}" \
    "$tmp/bin/hakop-idle" "$@" >"$tmp/out" 2>"$tmp/err" </dev/null || rc=$?
  [ "$rc" = "$want" ] || fail "exit $rc, not $want, for: ${vars[*]} $*: $(cat "$tmp/err")"
  [ ! -s "$tmp/out" ] && [ "$(wc -l <"$tmp/err")" = 1 ] && grep -qE "^hakop-idle: $pattern" "$tmp/err" \
    || fail "not one line matching \"$pattern\" for: ${vars[*]} $*: $(cat "$tmp/out" "$tmp/err")"
}

refuses 2 'unknown argument "/s" \(see hakop-idle --help\)$' -- /s
refuses 2 '--after takes 1 to 86400 seconds, not 0 ' -- --after 0
refuses 1 'found no hakop program' -- --after 2

cat >"$tmp/bin/hakop" <<'STANDIN'
#!/bin/sh
exit 0
STANDIN
chmod 755 "$tmp/bin/hakop"
refuses 1 'this Wayland compositor has no idle notifier .*swayidle' -- --after 2
refuses 1 "the X display is a Wayland compositor's" \
  WAYLAND_DISPLAY=none DISPLAY="$HAKOP_XWAYLAND_DISPLAY" -- --after 2
refuses 1 'found no desktop to watch' WAYLAND_DISPLAY=none XDG_RUNTIME_DIR= -- --after 2
echo "each refusal is one line with its exit status"
