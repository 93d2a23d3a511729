# Sourced by the desktops' launchers (here, and tests/wayland/with-sway) once
# their options are read: $user runs the desktop, $desktop names it in the
# messages. Skips (77) where a desktop cannot run as another user here;
# else makes the launcher's folder:
#   $tmp       readable by all; the launcher removes it at its end
#   $tmp/run   the desktop's runtime folder, its user's alone
#   $tmp/home  the desktop user's home
# and as_user, the command prefix that runs a program as that user, without
# our groups.
skip() { echo "SKIPPED: $*"; exit 77; }
needs() { # PROGRAM PACKAGE
  command -v "$1" >/dev/null || skip "$1 is not installed (Debian package $2)"
}
needs setpriv util-linux
[ "$(id -u)" -eq 0 ] || skip "$desktop must run as another, unprivileged user; that needs root"
id "$user" >/dev/null 2>&1 || skip "there is no user $user"

tmp=$(mktemp -d)
chmod 755 "$tmp"
mkdir -m 700 "$tmp/run"
mkdir "$tmp/home"
chown "$user" "$tmp/run" "$tmp/home"
as_user=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups)
