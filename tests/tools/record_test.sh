#!/usr/bin/env bash
# hakop-record against hakop-sim: the same picture and seed give the same
# frames, a fixed seed gives the same file twice, and bad input is refused
# with a clear message and exit code 2.
#   record_test.sh HAKOP_RECORD HAKOP_SIM
set -euo pipefail
record=$1 sim=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
fail() { echo "FAIL: $*" >&2; exit 1; }

# Few colours, so the GIF's palette holds every pixel exactly.
convert -size 320x240 xc:'#3a6ea5' -fill '#c0c0c0' -draw 'rectangle 20,20 200,150' \
        -fill '#000080' -draw 'rectangle 20,20 200,38' PNG24:desk.png

"$record" desk.png 2 a.gif --seed 1234 2>record.err || fail "record exited $?: $(cat record.err)"
"$record" desk.png 2 b.gif --seed 1234 2>/dev/null
cmp -s a.gif b.gif || fail "two recordings with one seed differ"
grep -q 'frame 20/20' record.err || fail "no progress line: $(cat record.err)"

[ "$(identify -format '%T ' a.gif)" = "$(printf '10 %.0s' $(seq 20))" ] || fail "not 20 frames at 10 fps"
convert a.gif -coalesce -alpha off PNG24:frame%02d.png
"$sim" desk.png 1234 19 last.png --every 1 sim >/dev/null
"$sim" desk.png 1234 0 sim000000.png >/dev/null
changed=0
for t in $(seq 0 19); do
  want=$(printf 'sim%06d.png' "$t") got=$(printf 'frame%02d.png' "$t")
  diff=$(compare -metric AE "$want" "$got" null: 2>&1 || true)
  [ "$diff" = 0 ] || fail "frame $t differs from hakop-sim's tick $t in $diff pixels"
  cmp -s "$want" sim000000.png || changed=1
done
[ "$changed" = 1 ] || fail "the figures never moved"

# A different seed gives a different film.
"$record" desk.png 2 c.gif --seed 99 2>/dev/null
cmp -s a.gif c.gif && fail "the seed makes no difference"

expect_refusal() { # message-pattern args...
  local pattern=$1; shift
  set +e; "$record" "$@" 2>err.txt; local rc=$?; set -e
  [ "$rc" = 2 ] || fail "$* exited $rc, not 2"
  grep -q "^hakop-record: .*$pattern" err.txt || fail "$*: unclear message: $(cat err.txt)"
}
expect_refusal 'missing.png: no such file' missing.png 1 out.gif
echo 'not a picture' > text.png
expect_refusal 'cannot read picture text.png' text.png 1 out.gif
expect_refusal 'folder' . 1 out.gif
expect_refusal 'SECONDS' desk.png 0 out.gif
expect_refusal 'seed' desk.png 1 out.gif --seed -1
[ ! -e out.gif ] || fail "a refused run wrote its output"
echo ok
