#!/bin/sh
# End-to-end checks of nubo-clean on a real photo and on broken input.
# Usage: cli_test.sh BUILD_DIR SOURCE_DIR
set -u
[ -n "${NUBO_TRACE:-}" ] && set -x
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
clean=$build/nubo-clean
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0
check() {  # check DESCRIPTION COMMAND...
  what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passes=$((passes + 1))
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}

photo=$src/data/samples/astronaut-q20.jpg
mkdir -p "$work/data"
"$build/nubo-devcodebook" --out "$work/data/data" || exit 1
cb=$work/data/data

"$clean" --codebook "$cb" --threads 1 "$photo" "$work/one.bmp" 2>"$work/err1"
check "cleans a JPEG into a BMP" test $? -eq 0 -a -s "$work/one.bmp"
"$clean" --codebook "$cb" --threads 2 "$photo" "$work/two.bmp" 2>/dev/null
check "one and two threads give the same bytes" cmp -s "$work/one.bmp" "$work/two.bmp"
"$clean" --codebook "$cb" --threads 7 "$photo" "$work/seven" 2>/dev/null
check "a name without extension gets .bmp" cmp -s "$work/one.bmp" "$work/seven.bmp"
check "quiet on a non-terminal" test ! -s "$work/err1"

"$clean" --codebook "$cb" "$photo" "$work/out.png" 2>/dev/null
check "writes PNG" test "$(head -c 4 "$work/out.png" | tail -c 3)" = "PNG"
"$clean" --codebook "$cb" "$work/out.png" "$work/again.bmp" 2>/dev/null
check "reads its own PNG" test -s "$work/again.bmp"

# Cut inside the tables, before any scan data: no picture to be had (a file cut
# in its scan data decodes up to the cut, with a warning).
head -c 400 "$photo" >"$work/broken.jpg"
"$clean" --codebook "$cb" "$work/broken.jpg" "$work/broken.bmp" 2>"$work/err"
status=$?
check "broken input fails" test $status -ne 0
check "broken input: one line naming the file" \
  sh -c "test \$(wc -l <'$work/err') -eq 1 && grep -q broken.jpg '$work/err'"
check "broken input leaves no output" test ! -e "$work/broken.bmp"

printf 'old' >"$work/keep.bmp"
"$clean" --codebook "$cb" "$photo" "$work/keep.bmp" 2>"$work/err"
check "existing output is refused without --force" test $? -ne 0
check "refused output keeps its content" test "$(cat "$work/keep.bmp")" = "old"
"$clean" --codebook "$cb" --force "$photo" "$work/keep.bmp" 2>/dev/null
check "--force overwrites" cmp -s "$work/one.bmp" "$work/keep.bmp"

"$clean" --codebook "$cb" "$photo" "$work/no/such/folder/x.bmp" 2>"$work/err"
check "unwritable output fails" test $? -ne 0

mkdir "$work/outdir"
cp "$photo" "$work/a.jpg"
cp "$photo" "$work/b.jpeg"
"$clean" --codebook "$cb" --out-dir "$work/outdir" "$work/a.jpg" "$work/broken.jpg" "$work/b.jpeg" \
  2>"$work/err"
check "several inputs: failure reported in the exit status" test $? -ne 0
check "several inputs: good ones written" cmp -s "$work/outdir/a.bmp" "$work/outdir/b.bmp"
check "several inputs: same bytes as one at a time" cmp -s "$work/outdir/a.bmp" "$work/one.bmp"

out=$(cd "$work" && "$clean" --data-dir "$work/none" "$photo" "$work/nocb.bmp" 2>"$work/err")
check "missing codebook says so on stdout" test "$out" = "can't open file $work/none/data"
check "missing codebook: no output" test ! -e "$work/nocb.bmp"
check "missing codebook: the reason on stderr" grep -q "no codebook is loaded" "$work/err"

(cd "$work" && "$clean" "$photo" "$work/default.bmp" 2>"$work/err")
check "default codebook is data/data below the current folder" cmp -s "$work/one.bmp" "$work/default.bmp"
check "says which codebook it used" grep -q "data/data" "$work/err"
check "says the estimated quality" grep -q "estimated JPEG quality 20" "$work/err"

"$clean" --help >"$work/help"
check "--help" grep -q -- "--out-dir" "$work/help"
"$clean" 2>/dev/null
check "no arguments is an error" test $? -ne 0

# --keep-untouched: where the codebook abstains everywhere the input comes back unchanged.
"$build/nubo-train" --abstain --out "$work/abstain.cb" "$work" || exit 1
"$clean" --codebook "$work/abstain.cb" --keep-untouched "$work/one.bmp" "$work/kept.bmp" 2>/dev/null
check "--keep-untouched with an abstaining codebook returns the input" \
  cmp -s "$work/one.bmp" "$work/kept.bmp"
"$clean" --codebook "$work/abstain.cb" "$work/one.bmp" "$work/roundtrip.bmp" 2>/dev/null
check "without it every interior pixel takes the colour round trip" \
  test -s "$work/roundtrip.bmp" -a "$(cmp -s "$work/one.bmp" "$work/roundtrip.bmp"; echo $?)" = 1

# nubo-eval reports both modes; with the abstaining codebook the kept mode gains exactly nothing.
"$build/nubo-eval" --cleaner "$clean" --codebook "$work/abstain.cb" --quality 90 \
  --protocol colour -j 1 "$work/out.png" >"$work/eval" 2>"$work/eval-err"
check "nubo-eval runs both modes" test $? -eq 0
check "nubo-eval prints the --keep-untouched table" grep -q "cleaner --keep-untouched" "$work/eval"
check "nubo-eval: kept mode gains +0.00 and makes nothing worse" \
  sh -c "grep -A4 'cleaner --keep-untouched' '$work/eval' | grep -q '| +0.00 | +0.00 (out.png) | 0 (0%) |'"

echo "$passes passed, $failures failed"
test $failures -eq 0
