# shellcheck shell=bash
# Sourced by end-to-end test scripts: waits on the programs they started.
# Waits scale with HAKOP_TEST_SLOWDOWN, as the tests' own do.
alive() { kill -0 "$1" 2>/dev/null; }
# The exit code of a process that should end within a few seconds; 124 if it did not.
exit_within() { # pid seconds
  for _ in $(seq 1 $(($2 * 10 * ${HAKOP_TEST_SLOWDOWN:-1}))); do
    alive "$1" || { wait "$1"; return $?; }
    sleep 0.1
  done
  return 124
}
