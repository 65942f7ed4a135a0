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

# By default pixels the pass leaves alone keep their bytes: where the codebook
# abstains everywhere the input comes back unchanged. --convert-all gives the
# every-pixel conversion back; --keep-untouched is still accepted.
"$build/nubo-train" --abstain --out "$work/abstain.cb" "$work" || exit 1
"$clean" --codebook "$work/abstain.cb" "$work/one.bmp" "$work/kept.bmp" 2>/dev/null
check "by default an abstaining codebook returns the input" cmp -s "$work/one.bmp" "$work/kept.bmp"
"$clean" --codebook "$work/abstain.cb" --keep-untouched "$work/one.bmp" "$work/kept2.bmp" 2>/dev/null
check "--keep-untouched is accepted and changes nothing" cmp -s "$work/kept.bmp" "$work/kept2.bmp"
"$clean" --codebook "$work/abstain.cb" --convert-all "$work/one.bmp" "$work/roundtrip.bmp" 2>/dev/null
check "--convert-all takes every interior pixel through the colour round trip" \
  test -s "$work/roundtrip.bmp" -a "$(cmp -s "$work/one.bmp" "$work/roundtrip.bmp"; echo $?)" = 1
"$clean" --codebook "$cb" --convert-all --threads 2 "$photo" "$work/all.bmp" 2>/dev/null
check "--convert-all differs from the default on a cleaned photo" \
  test -s "$work/all.bmp" -a "$(cmp -s "$work/one.bmp" "$work/all.bmp"; echo $?)" = 1

# Where the shipped index abstains (above quality 60), the decoded JPEG comes back byte for byte.
for q in 75 95; do
  "$build/nubo-compress" --quality $q "$src/data/samples/astronaut.png" "$work/q$q.jpg" || exit 1
  "$clean" --data-dir "$src/data" "$work/q$q.jpg" "$work/q$q.bmp" 2>"$work/err"
  "$clean" --codebook "$work/abstain.cb" "$work/q$q.jpg" "$work/q$q-decoded.bmp" 2>/dev/null
  check "quality $q with the shipped codebooks: the decoded JPEG unchanged" \
    cmp -s "$work/q$q.bmp" "$work/q$q-decoded.bmp"
  check "quality $q: estimated as such" grep -q "estimated JPEG quality $q" "$work/err"
done

# nubo-eval reports both modes; with the abstaining codebook the default gains exactly nothing.
"$build/nubo-eval" --cleaner "$clean" --codebook "$work/abstain.cb" --quality 90 \
  --protocol colour -j 1 "$work/out.png" >"$work/eval" 2>"$work/eval-err"
check "nubo-eval runs both modes" test $? -eq 0
check "nubo-eval prints the --convert-all table" grep -q "cleaner --convert-all" "$work/eval"
check "nubo-eval: the default gains +0.00 and makes nothing worse" \
  sh -c "grep -A4 'cleaner defaults' '$work/eval' | grep -q '| +0.00 | +0.00 (out.png) | 0 (0%) |'"

# Output names.
mkdir "$work/names" && cd "$work/names" || exit 1
mkdir a b
cp "$photo" a/IMG_1.jpg
cp "$photo" b/IMG_1.jpg
"$clean" --codebook "$cb" --out-dir new/deep a/IMG_1.jpg b/IMG_1.jpg 2>"$work/err"
check "same output name: exit 2" test $? -eq 2
check "same output name: one line naming both inputs" \
  sh -c "test \$(wc -l <'$work/err') -eq 1 && grep -q 'a/IMG_1.jpg and b/IMG_1.jpg' '$work/err'"
check "same output name: nothing written, no folder made" test ! -e new
"$clean" --codebook "$cb" a/IMG_1.jpg a/IMG_1.jpg new/ 2>/dev/null
check "the same input twice into a folder: exit 2" test $? -eq 2
"$clean" --codebook "$cb" --out-dir new/deep a/IMG_1.jpg 2>/dev/null
check "--out-dir creates the folder and its parents" cmp -s new/deep/IMG_1.bmp "$work/one.bmp"
"$clean" --codebook "$cb" a/IMG_1.jpg "" 2>"$work/err"
check "empty OUTPUT: exit 2" test $? -eq 2
check "empty OUTPUT: nothing written" test ! -e .bmp
"$clean" --codebook "$cb" a/IMG_1.jpg b 2>/dev/null
check "an existing folder as OUTPUT takes the input's name" cmp -s b/IMG_1.bmp "$work/one.bmp"
"$clean" --codebook "$cb" a/IMG_1.jpg c/ 2>/dev/null
check "OUTPUT ending in / is a folder" cmp -s c/IMG_1.bmp "$work/one.bmp"
check "... not a hidden .bmp" test ! -e c/.bmp
"$clean" --codebook "$cb" --format png a/IMG_1.jpg b/IMG_1.jpg d/ 2>"$work/err"
check "same name into a folder given as OUTPUT: exit 2" test $? -eq 2
"$clean" --codebook "$cb" --format png a/IMG_1.jpg e/ 2>/dev/null
check "--format png applies to a folder given as OUTPUT" test -s e/IMG_1.png
"$clean" --codebook "$cb" --format png a/IMG_1.jpg single 2>/dev/null
check "--format png with a single OUTPUT writes PNG" \
  test "$(head -c 4 single.png | tail -c 3)" = "PNG"
"$clean" --codebook "$cb" --format png a/IMG_1.jpg clash.bmp 2>"$work/err"
check "an OUTPUT extension contradicting --format: exit 2" test $? -eq 2
check "... and nothing written" test ! -e clash.bmp -a ! -e clash.bmp.png
"$clean" --codebook "$cb" a/IMG_1.jpg - >stdout.bmp 2>/dev/null
check "- as OUTPUT writes BMP to standard output" cmp -s stdout.bmp "$work/one.bmp"
check "... and no file named -" test ! -e - -a ! -e -.bmp
"$clean" --codebook "$cb" a/IMG_1.jpg /dev/stdout >devstdout.bmp 2>/dev/null
check "/dev/stdout gets the picture, no .bmp added" cmp -s devstdout.bmp "$work/one.bmp"
"$clean" --codebook "$cb" --format png a/IMG_1.jpg - >stdout.png 2>/dev/null
"$clean" --codebook "$cb" single.png back.bmp 2>/dev/null
"$clean" --codebook "$cb" stdout.png back2.bmp 2>/dev/null
check "- with --format png writes PNG" test "$(head -c 4 stdout.png | tail -c 3)" = "PNG"
"$clean" --codebook "$cb" - fromstdin.bmp <a/IMG_1.jpg 2>"$work/err"
check "- as INPUT reads standard input" cmp -s fromstdin.bmp "$work/one.bmp"
"$clean" --codebook "$cb" - - <a/IMG_1.jpg | cmp -s - "$work/one.bmp"
check "- - cleans a pipe" test $? -eq 0
"$clean" --codebook "$cb" - outdir/ <a/IMG_1.jpg 2>/dev/null
check "- into a folder has no name: exit 2" test $? -eq 2
mkfifo fifo
cat fifo >fromfifo.bmp &
"$clean" --codebook "$cb" a/IMG_1.jpg fifo 2>/dev/null
wait
check "an existing pipe is written as it is, no .bmp added" cmp -s fromfifo.bmp "$work/one.bmp"
check "... and not replaced" test -p fifo -a ! -e fifo.bmp
"$clean" --codebook "$cb" a/IMG_1.jpg /dev/null 2>/dev/null
check "/dev/null as OUTPUT" test $? -eq 0 -a -c /dev/null -a ! -e /dev/null.bmp
cd "$work" || exit 1

# A damaged JPEG is still cleaned, with a warning naming the file.
cp "$photo" "$work/damaged.jpg"
size=$(wc -c <"$photo")
head -c 300 /dev/zero | tr '\000' '\125' |
  dd of="$work/damaged.jpg" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
"$clean" --codebook "$cb" "$work/damaged.jpg" "$work/damaged.bmp" 2>"$work/err"
check "a damaged JPEG is still cleaned" test $? -eq 0 -a -s "$work/damaged.bmp"
check "... with a warning: FILE: damaged JPEG data" \
  grep -q "warning: $work/damaged.jpg: damaged JPEG data (" "$work/err"

# Quiet when all is normal: data/ below the current folder is not named; --verbose names it.
(cd "$work" && "$clean" "$photo" "$work/quiet.bmp" 2>"$work/err")
check "data/ below the current folder is not named" sh -c "! grep -q 'data folder' '$work/err'"
(cd "$work" && "$clean" --verbose "$photo" "$work/verbose.bmp" 2>"$work/err")
check "--verbose names the data folder" grep -q "using the data folder data" "$work/err"
mkdir "$work/elsewhere"
(cd "$work/elsewhere" && NUBO_DATA_DIR=$work/data "$clean" "$photo" "$work/env.bmp" 2>"$work/err")
check "a data folder from \$NUBO_DATA_DIR is named" grep -q "using the data folder $work/data" "$work/err"

# A batch reads the next picture while one is cleaned: messages and results still come in
# input order, and an input that is a link to an output of the batch is read once it is written.
mkdir "$work/ahead"
ln -s "$work/ahead/a.bmp" "$work/link.bmp"
(cd "$work" && "$clean" --out-dir ahead a.jpg missing.jpg damaged.jpg link.bmp broken.jpg b.jpeg \
  2>"$work/err")
check "batch read ahead: a failure in the exit status" test $? -eq 1
printf ' a.jpg\n missing.jpg\n warning\n damaged.jpg\n link.bmp\n broken.jpg\n b.jpeg\n' \
  >"$work/expected"
check "batch read ahead: every message in input order" \
  sh -c "cut -d: -f2 '$work/err' | cmp -s - '$work/expected'"
check "batch read ahead: the damage and the missing file named" \
  sh -c "grep -q 'warning: damaged.jpg: damaged JPEG data (' '$work/err' &&
    grep -q 'missing.jpg: cannot open file' '$work/err'"
check "batch read ahead: same bytes as one at a time" \
  sh -c "cmp -s '$work/ahead/a.bmp' '$work/one.bmp' && cmp -s '$work/ahead/b.bmp' '$work/one.bmp' &&
    cmp -s '$work/ahead/damaged.bmp' '$work/damaged.bmp'"
check "batch read ahead: a link to an earlier output is read after it is written" \
  test -s "$work/ahead/link.bmp"

# A file is written while the next picture is cleaned: its failure still comes before the
# next picture's lines, and counts.
mkdir -p "$work/wfail/b.bmp/in"
(cd "$work" && "$clean" --force --out-dir wfail a.jpg b.jpeg missing.jpg 2>"$work/err")
check "a failed write in a batch: in the exit status" test $? -eq 1
printf ' a.jpg\n b.jpeg\n wfail/b.bmp\n missing.jpg\n' >"$work/expected"
check "a failed write in a batch: reported before the next picture's lines" \
  sh -c "cut -d: -f2 '$work/err' | cmp -s - '$work/expected'"

echo "$passes passed, $failures failed"
test $failures -eq 0
