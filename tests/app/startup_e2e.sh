#!/usr/bin/env bash
# Start-up as a user sees it, on the private X server with-x provides:
#   startup_e2e.sh HAKOP FAKE_SAVER STANDINS_DIR
# - a second start in every mode is refused while a THAKOPForm window exists
#   (exit 0 at once, no window created, no service called);
# - /a calls MPR.DLL with "SCRSAVE <application window> 0 0" while that window,
#   titled "HAKOP", exists; /a without the service or its entry ends silently;
# - /p ends at once without a display; no display at all is one line on stderr.
set -uo pipefail
hakop=$1 fake_saver=$2 standins=$3
tmp=$(mktemp -d)
helper=
trap '[ -n "$helper" ] && kill "$helper" 2>/dev/null; rm -rf "$tmp"' EXIT
failures=0
# Qt warns on stderr when there is no runtime directory; a desktop session has one.
mkdir -m 700 "$tmp/runtime" && export XDG_RUNTIME_DIR=$tmp/runtime
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

now_ms() { date +%s%3N; }

# run NAME LIBDIR ARGS... : runs hakop (at most 5 s), leaves rc/ms/stderr in $tmp
run() {
  local name=$1 libdir=$2; shift 2
  local start; start=$(now_ms)
  LD_LIBRARY_PATH=$libdir HAKOP_STANDIN_LOG=$tmp/standin.log timeout 5 "$hakop" "$@" \
    >"$tmp/$name.out" 2>"$tmp/$name.err"
  echo $? >"$tmp/$name.rc"
  echo $(( $(now_ms) - start )) >"$tmp/$name.ms"
}
expect_quiet_quick_success() {
  local name=$1 limit=${2:-3000}
  [ "$(cat "$tmp/$name.rc")" = 0 ] || fail "$name: exit code $(cat "$tmp/$name.rc")"
  [ ! -s "$tmp/$name.err" ] || fail "$name: stderr: $(cat "$tmp/$name.err")"
  [ ! -s "$tmp/$name.out" ] || fail "$name: stdout: $(cat "$tmp/$name.out")"
  [ "$(cat "$tmp/$name.ms")" -lt "$limit" ] || fail "$name: took $(cat "$tmp/$name.ms") ms"
}
start_helper() {
  : >"$tmp/created.log"
  coproc HELPER { exec "$fake_saver" "$@" --watch "$tmp/created.log"; }
  helper=$HELPER_PID
  local line=
  read -r -t 10 line <&"${HELPER[0]}" || true
  [[ $line == ready* ]] || { echo "fake_saver did not start" >&2; exit 1; }
}
stop_helper() { kill "$helper" 2>/dev/null; wait "$helper" 2>/dev/null; helper=; }

map=()
if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then map=(--map); fi

# A saver is running: every mode is refused.
start_helper "${map[@]}"
: >"$tmp/standin.log"
for arg in /s /S /a /A /p "" /c; do
  name=refused${arg//\//_}
  if [ -z "$arg" ]; then run "$name" "$standins/record"; else run "$name" "$standins/record" "$arg"; fi
  expect_quiet_quick_success "$name"
done
sleep 0.5 # let the watcher see anything that was created
[ ! -s "$tmp/created.log" ] || fail "windows created beside a running saver: $(cat "$tmp/created.log")"
[ ! -s "$tmp/standin.log" ] || fail "password change called beside a running saver: $(cat "$tmp/standin.log")"
stop_helper

# Another program's window does not count; /a now reaches the service.
start_helper --class NotTheSaver "${map[@]}"
run change "$standins/record" /a
expect_quiet_quick_success change
mapfile -t record <"$tmp/standin.log"
if [[ ${record[0]:-} =~ ^SCRSAVE\ ([0-9]+)\ 0\ 0$ ]] && [ "${BASH_REMATCH[1]}" -ne 0 ]; then
  parent=${BASH_REMATCH[1]}
  [ "${record[1]:-}" = "parent-title WM_NAME=HAKOP _NET_WM_NAME=HAKOP" ] ||
    fail "parent window as the service saw it: ${record[1]:-none}"
  sleep 0.5
  grep -qx "created $parent" "$tmp/created.log" || fail "parent $parent is not a top-level window hakop created"
  xwininfo -id "$parent" >/dev/null 2>&1 && fail "application window $parent outlived the program"
else
  fail "service record: ${record[*]:-nothing}"
fi
stop_helper

# No service, or one without its entry point: a silent end.
: >"$tmp/standin.log"
mkdir "$tmp/empty"
run no_service "$tmp/empty" /a
expect_quiet_quick_success no_service
run no_entry "$standins/missing-entry" /A
expect_quiet_quick_success no_entry

# Preview needs no display at all.
start=$(now_ms)
env -u DISPLAY "$hakop" /p 1234 >"$tmp/p.out" 2>&1; rc=$?
ms=$(( $(now_ms) - start ))
[ $rc = 0 ] && [ ! -s "$tmp/p.out" ] || fail "/p without a display: exit $rc, output $(cat "$tmp/p.out")"
[ $ms -lt 1000 ] || fail "/p took $ms ms"
DISPLAY=:99999 "$hakop" /P >"$tmp/p.out" 2>&1 || fail "/P with a missing display: exit $?"

# Any other mode without a display: one clear line, non-zero exit.
for arg in /s /a; do
  DISPLAY=:99999 timeout 5 "$hakop" "$arg" >"$tmp/nodisplay.out" 2>"$tmp/nodisplay.err"; rc=$?
  { [ $rc -ne 0 ] && [ $rc -lt 124 ]; } || fail "$arg without a display: exit $rc"
  [ "$(wc -l <"$tmp/nodisplay.err")" = 1 ] && grep -q '^hakop: cannot open X display ":99999"$' "$tmp/nodisplay.err" ||
    fail "$arg without a display said: $(cat "$tmp/nodisplay.err")"
done

[ $failures = 0 ] && echo "all start-up checks passed"
exit $(( failures > 0 ))
