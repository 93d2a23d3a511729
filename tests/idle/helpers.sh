# Shared by the idle session scripts (as_session_user.sh sources it first).
set -uo pipefail
tmp=$1 helper=$2 out=$1/out
compositor_pid=
fail() { echo "FAIL: $*" >&2; exit 1; }
# Waits (up to a minute) for a condition that must come, while the compositor lives.
until_true() {
  for _ in $(seq 600); do
    eval "$1" && return 0
    [ -z "$compositor_pid" ] || kill -0 "$compositor_pid" 2>/dev/null || fail "the compositor ended"
    sleep 0.1
  done
  fail "never: $1"
}
starts() { [ -f "$out/started" ] && wc -l <"$out/started" || echo 0; }
