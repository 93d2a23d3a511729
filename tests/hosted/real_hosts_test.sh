#!/usr/bin/env bash
# hakop-hosted under the real screensaver hosts from Debian's packages, run as
# an unprivileged user on the private X server with-x made:
#   real_hosts_test.sh xscreensaver|xsecurelock GUEST_EXECUTABLE README
# Each host is set up as the README tells a user to: xscreensaver with the
# README's labelled programs line, xsecurelock finding the guest on PATH.
# Passes when the host shows the figures (black silhouettes and the figures'
# white on a backdrop), and when the host goes the guest goes too.
# Exits 77 (skipped) with a message where a host or a tool is missing.
set -euo pipefail

mode=$1
guest_source=$2
readme=$3

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null 2>&1 || skip "$1 is not installed (Debian package $2)"; }

[ "$(id -u)" -eq 0 ] || skip "the hosts must run as another, unprivileged user; that needs root"
need setpriv util-linux
need import imagemagick
need convert imagemagick
need xsetroot x11-xserver-utils
case "$mode" in
  xscreensaver)
    need xscreensaver xscreensaver
    need xscreensaver-command xscreensaver
    [ -x /usr/libexec/xscreensaver/xscreensaver-gfx ] || skip "xscreensaver-gfx is missing (Debian package xscreensaver)"
    ;;
  xsecurelock) need xsecurelock xsecurelock ;;
  *) echo "usage: real_hosts_test.sh xscreensaver|xsecurelock GUEST" >&2; exit 2 ;;
esac
user=nobody
id "$user" >/dev/null 2>&1 || skip "there is no user $user"

# The build tree may be unreadable to that user: everything it runs is copied.
tmp=$(mktemp -d)
chmod 755 "$tmp"
mkdir -p "$tmp/bin" "$tmp/home"
install -m 755 "$guest_source" "$tmp/bin/hakop-hosted"
guest=$tmp/bin/hakop-hosted
chown "$user" "$tmp/home"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in $(guest_pids); do kill -9 "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# A command, not a function: started in the background, its PID is the host's own.
as_user=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups
  env -i HOME="$tmp/home" PATH="$tmp/bin:/usr/bin:/bin" DISPLAY="$DISPLAY")

# Our guest's live processes: matched by executable, since other test runs on
# this machine may run their own copies as the same user.
guest_pids() {
  local p exe state
  for p in $(pgrep -x hakop-hosted || true); do
    exe=$(readlink "/proc/$p/exe" 2>/dev/null || true)
    state=$(awk '{print $3}' "/proc/$p/stat" 2>/dev/null || echo Z)
    [ "$exe" = "$guest" ] && [ "$state" != Z ] && echo "$p"
  done
  return 0
}

# Pure black and pure white pixels both in the thousands, on a screen that is
# mostly neither: the figures on a backdrop (a blank screen is all black).
figures_shown() {
  import -window root "$tmp/shot.png" 2>/dev/null || return 1
  convert "$tmp/shot.png" -format %c histogram:info:- 2>/dev/null | awk '
    { n = $1; sub(":", "", n); total += n }
    /#000000/ { black += n }
    /#FFFFFF/ { white += n }
    END { exit !(black > 1000 && white > 300 && black + white < total / 2) }'
}

wait_for() {
  local what=$1 limit=$2
  shift 2
  for _ in $(seq 1 "$((limit * 4))"); do
    "$@" && return 0
    sleep 0.25
  done
  cat "$tmp/host.log" >&2 || true
  fail "$what"
}

no_guest_left() { [ -z "$(guest_pids)" ]; }

xsetroot -solid '#336699'

case "$mode" in
  xscreensaver)
    line=$(grep -m1 '^ *"HAKOP" ' "$readme") || fail "the README has no labelled programs line"
    cat >"$tmp/home/.xscreensaver" <<CONF
mode:		one
selected:	0
splash:		False
lock:		False
fade:		False
unfade:		False
programs:	\\
$line

CONF
    chown "$user" "$tmp/home/.xscreensaver"
    "${as_user[@]}" xscreensaver -no-splash >"$tmp/host.log" 2>&1 &
    pids+=($!)
    wait_for "xscreensaver did not answer" 20 "${as_user[@]}" xscreensaver-command -activate
    wait_for "no figures on screen under xscreensaver" 20 figures_shown
    [ -n "$(guest_pids)" ] || fail "the figures are not hakop-hosted's"
    "${as_user[@]}" xscreensaver-command -deactivate >/dev/null 2>&1 || true
    wait_for "hakop-hosted still runs after xscreensaver deactivated" 5 no_guest_left
    ;;
  xsecurelock)
    "${as_user[@]}" sh -c 'XSECURELOCK_SAVER="$(command -v hakop-hosted)" exec xsecurelock' >"$tmp/host.log" 2>&1 &
    host=$!
    pids+=("$host")
    wait_for "no figures on screen under xsecurelock" 20 figures_shown
    [ -n "$(guest_pids)" ] || fail "the figures are not hakop-hosted's"
    kill "$host"
    wait_for "hakop-hosted still runs after xsecurelock ended" 5 no_guest_left
    ;;
esac

# The guest ends quietly when its host ends it.
if grep -qE '^hakop(-hosted)?:' "$tmp/host.log"; then
  cat "$tmp/host.log" >&2
  fail "hakop-hosted complained"
fi
echo "PASSED: $mode shows the figures and ends the guest"
