#!/usr/bin/env bash
# The example modules of the module guide build with its command and export
# what the program looks up:
#   readme_examples_test.sh docs/modules.md
set -euo pipefail
readme=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Every ```c block, in order: the verifier, then the password-change module.
awk -v dir="$tmp" '/^```c$/ {n++; out = dir "/example" n ".c"; next}
                   /^```/ {out = ""} out != "" {print > out}' "$readme"
[ -f "$tmp/example1.c" ] && [ -f "$tmp/example2.c" ] || { echo "FAIL: two C examples expected" >&2; exit 1; }
for n in 1 2; do
  lines=$(grep -c . "$tmp/example$n.c")
  [ "$lines" -le 12 ] || { echo "FAIL: example $n has $lines lines" >&2; exit 1; }
done
# The build commands as the guide gives them.
cp "$tmp/example1.c" "$tmp/verifier.c"
cp "$tmp/example2.c" "$tmp/change.c"
(cd "$tmp" && grep -E '^cc -shared' "$readme" | sh -e)
nm -D --defined-only "$tmp/PASSWORD.CPL" | grep -qw VerifyScreenSavePwd || { echo "FAIL: PASSWORD.CPL lacks VerifyScreenSavePwd" >&2; exit 1; }
nm -D --defined-only "$tmp/MPR.DLL" | grep -qw PwdChangePasswordA || { echo "FAIL: MPR.DLL lacks PwdChangePasswordA" >&2; exit 1; }
# A system-wide copy is found by its SONAME only.
readelf -d "$tmp/PASSWORD.CPL" | grep -q 'SONAME.*\[PASSWORD\.CPL\]' || { echo "FAIL: PASSWORD.CPL has no SONAME PASSWORD.CPL" >&2; exit 1; }
echo "README examples build and export their entry points"
