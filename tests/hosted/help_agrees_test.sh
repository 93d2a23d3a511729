#!/usr/bin/env bash
# What the guest says it does is one text (hosted/help.txt): --help prints it,
# the man page describes with it, and the README quotes --help whole.
#   help_agrees_test.sh GUEST README MAN_PAGE VERSION
set -uo pipefail
guest=$1 readme=$2 page=$3 version=$4
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
squash() { tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }

help=$("$guest" --help) || fail "--help exited $?"
quoted=$(awk '/^```text$/ {inb = 1; block = ""; next}
  /^```$/ && inb {inb = 0; if (block ~ /^usage: hakop-hosted/) {printf "%s", block; exit}}
  inb {block = block $0 "\n"}' "$readme")
[ "$quoted" = "$help" ] || fail "the README's --help differs: $(diff <(echo "$quoted") <(echo "$help"))"

[ "$("$guest" --version)" = "hakop-hosted $version" ] || fail "--version says '$("$guest" --version)'"

if command -v man >/dev/null; then
  # One long line per paragraph: nothing hyphenated at a line's end.
  described=$(LC_ALL=C MANWIDTH=4000 man -l "$page" 2>/dev/null |
    awk '/^DESCRIPTION/ {on = 1; next} on && /^ *$/ {exit} on' | squash)
  expected=$(tail -n +3 <<<"$help" | squash)
  [ "$described" = "$expected" ] || fail "the man page describes otherwise:
  man:  $described
  help: $expected"
else
  echo "skipped: the man page (no man here; Debian package man-db)"
fi
[ "$failures" -eq 0 ] || exit 1
echo "--help, --version, the man page and the README agree"
