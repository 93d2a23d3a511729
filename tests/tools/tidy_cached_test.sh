#!/usr/bin/env bash
# tools/tidy-cached skips only what clang-tidy found clean with the same
# input: a clean file is not analysed twice, also from a clone elsewhere; a
# file with a finding is never taken as clean, and a NOLINT taken away counts
# as a change.
#   tidy_cached_test.sh TIDY_CACHED
set -euo pipefail
tidy_cached=$1
command -v clang-tidy >/dev/null && command -v clang++ >/dev/null || { echo "skipped: no clang-tidy or clang++ here"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export HAKOP_TIDY_CACHE=$tmp/cache

# A project of one file, with a check that finds rand().
make_project() { # folder
  mkdir -p "$1/build"
  printf 'Checks: "-*,cert-msc50-cpp"\nWarningsAsErrors: "*"\n' >"$1/.clang-tidy"
  printf 'int one() { return 1; }\n' >"$1/a.cpp"
  printf '[{"directory": "%s/build", "command": "c++ -std=c++20 -o a.o -c %s/a.cpp", "file": "%s/a.cpp"}]\n' \
    "$1" "$1" "$1" >"$1/build/compile_commands.json"
}
lint() { # folder: prints tidy-cached's summary line, returns its status
  "$tidy_cached" "$1/build" "$1" "^$1/" 1 | tee "$tmp/out" | tail -n1
}
expect() { # folder pattern status
  local out rc=0
  out=$(lint "$1") || rc=$?
  [[ "$out" == *"$2"* ]] || fail "expected '$2', got '$out' ($(cat "$tmp/out"))"
  [ "$rc" -eq "$3" ] || fail "exit $rc, expected $3: $out"
}

make_project "$tmp/one"
expect "$tmp/one" "0 clean from the cache" 0
expect "$tmp/one" "1 clean from the cache" 0
make_project "$tmp/two"
expect "$tmp/two" "1 clean from the cache" 0

printf '#include <cstdlib>\nint r() { return std::rand(); } // NOLINT\n' >>"$tmp/one/a.cpp"
expect "$tmp/one" "0 clean from the cache, 1 analysed, 0 with findings" 0
sed -i 's| // NOLINT||' "$tmp/one/a.cpp"
expect "$tmp/one" "1 with findings" 1
grep -q 'cert-msc50-cpp' "$tmp/out" || fail "the finding is not shown: $(cat "$tmp/out")"
expect "$tmp/one" "0 clean from the cache, 1 analysed, 1 with findings" 1
echo "tidy-cached skips only what was found clean with the same input"
