#!/usr/bin/env bash
# The run-path check itself: it must flag every shape of empty entry and pass
# real paths, or a passing build.no_empty_runpath would prove nothing.
set -euo pipefail
check=$1
cc=${2:-cc}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo 'int main(void) { return 0; }' >"$tmp/main.c"

build() { # name rpath [extra linker flag]
  mkdir -p "$tmp/$1"
  "$cc" "$tmp/main.c" -o "$tmp/$1/prog" "-Wl,-rpath,$2" ${3:+"$3"}
}
fails=0
expect() { # pass|fail folder
  if "$check" "$tmp/$2" >/dev/null; then got=pass; else got=fail; fi
  if [ "$got" != "$1" ]; then
    echo "FAIL: expected $1 for run path of $2, got $got"
    fails=$((fails + 1))
  fi
}

build good '/opt/a:$ORIGIN/../lib'
build doubled '/opt/a::/opt/b'
build leading ':/opt/a'
build trailing '/opt/a:'
build only-colons '::::'
build old-rpath '/opt/a::/opt/b' -Wl,--disable-new-dtags
mkdir -p "$tmp/none"
"$cc" "$tmp/main.c" -o "$tmp/none/prog"

expect pass good
expect pass none
for f in doubled leading trailing only-colons old-rpath; do expect fail "$f"; done
[ "$fails" -eq 0 ] && echo "run-path check: all cases as expected"
