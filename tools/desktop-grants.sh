# shellcheck shell=bash disable=SC2154  # hakop, launch and me: set by the tool that sources this
# Sourced by the tools that measure the saver on KWin and GNOME Shell: what
# those desktops need before they show the saver the frozen desktop. Each
# runs the saver as "$launch $hakop" (launch: a program that runs its
# arguments as the desktop's user) and says what failed, prefixed $me.

# KWin shows the saver its screenshots once its desktop file names the
# saver's real path; KWin takes a moment to read a new one.
kwin_grant() {
  printf '[Desktop Entry]\nType=Application\nName=hakop\nNoDisplay=true\nExec=%s\n%s\n' "$(realpath "$hakop")" \
    X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2 >"$HAKOP_KWIN_APPS/hakop.desktop"
  quiet_start || { echo "$me: KWin does not grant the saver its screenshots" >&2; return 1; }
}
# The desktop portal takes screenshots for the saver once the user allowed it
# (the command the saver's own line gives); the portal starts on the first
# request.
portal_grant() {
  $launch gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
    --object-path /org/freedesktop/impl/portal/PermissionStore \
    --method org.freedesktop.impl.portal.PermissionStore.SetPermission screenshot true screenshot '' "['yes']" \
    >/dev/null
  quiet_start || { echo "$me: the desktop portal gives the saver no screenshot" >&2; return 1; }
}
# Until a start says nothing: the frozen picture came.
quiet_start() {
  for _ in $(seq 1 20); do
    $launch timeout 2 "$hakop" /s 2>&1 | grep -q . || return 0
  done
  return 1
}
export -f kwin_grant portal_grant quiet_start
