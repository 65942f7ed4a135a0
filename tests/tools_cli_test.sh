#!/bin/sh
# The command-line conventions of every tool: --version, --help, exit status 2
# with one line pointing to --help for usage errors, 1 when the work fails.
# Usage: tools_cli_test.sh BUILD_DIR VERSION
set -u
build=$(cd "$1" && pwd)
version=$2
. "$(dirname "$0")/check.sh"
one_line_pointing_to_help() {  # FILE TOOL
  test "$(wc -l <"$1")" -eq 1 && grep -q "^$2: .*$2 --help" "$1"
}

for tool in nubo-clean nubo-train nubo-eval nubo-compress nubo-figure nubo-devcodebook clean-bench; do
  [ -x "$build/$tool" ] || { echo "FAIL: $tool not built"; failed=$((failed + 1)); continue; }
  "$build/$tool" --version >"$work/out" 2>"$work/err"
  check "$tool --version exits 0" test $? -eq 0
  check "$tool --version prints its name and version" test "$(cat "$work/out")" = "$tool $version"
  "$build/$tool" --help >"$work/out" 2>&1
  check "$tool --help exits 0" test $? -eq 0
  check "$tool --help lists --version" grep -q -- "--version" "$work/out"
  "$build/$tool" --no-such-option >"$work/out" 2>"$work/err"
  check "$tool: an unknown option exits 2" test $? -eq 2
  check "$tool: an unknown option gives one line pointing to --help" \
    one_line_pointing_to_help "$work/err" "$tool"
  check "$tool: nothing on standard output for a usage error" test ! -s "$work/out"
done

clean=$build/nubo-clean
"$clean" 2>"$work/err"
check "nubo-clean without arguments exits 2" test $? -eq 2
check "nubo-clean without arguments: one line" one_line_pointing_to_help "$work/err" nubo-clean
"$clean" a.jpg 2>"$work/err"
check "nubo-clean with one path exits 2" test $? -eq 2
check "nubo-clean with one path: one line" one_line_pointing_to_help "$work/err" nubo-clean
"$clean" --threads many a.jpg b.bmp 2>"$work/err"
check "nubo-clean with a bad number exits 2" test $? -eq 2
"$clean" --format gif --out-dir "$work" a.jpg 2>"$work/err"
check "nubo-clean with an unknown format exits 2" test $? -eq 2
"$clean" a.jpg "" 2>"$work/err"
check "nubo-clean with an empty OUTPUT exits 2" test $? -eq 2
check "nubo-clean with an empty OUTPUT: one line" one_line_pointing_to_help "$work/err" nubo-clean
"$clean" --convert-all --keep-untouched a.jpg b.bmp 2>"$work/err"
check "nubo-clean with --convert-all and --keep-untouched exits 2" test $? -eq 2
"$clean" - - - 2>"$work/err"
check "nubo-clean reading standard input twice exits 2" test $? -eq 2
"$build/nubo-devcodebook" --out "$work/cb" || exit 1
"$clean" --codebook "$work/cb" "$work/missing.jpg" "$work/out.bmp" 2>"$work/err"
check "nubo-clean on a missing input exits 1" test $? -eq 1
printf 'not a picture' >"$work/bad.jpg"
"$clean" --codebook "$work/cb" "$work/bad.jpg" "$work/out.bmp" 2>"$work/err"
check "nubo-clean on a damaged input exits 1" test $? -eq 1
"$build/nubo-compress" "$work/missing.png" "$work/out.jpg" 2>/dev/null
check "nubo-compress on a missing input exits 1" test $? -eq 1
"$build/nubo-train" --out "$work/x.cb" "$work/no-such-folder" 2>/dev/null
check "nubo-train on a missing input fails" test $? -ne 0 -a $? -ne 2
# --evaluate scores every input, or with --eval-fraction only the share a
# training run would set aside (chosen by file name).
mkdir "$work/pictures"
for name in a b c d e f g h; do
  cp "$(dirname "$0")/data/imageio/top_red_bottom_blue.jpg" "$work/pictures/$name.jpg"
done
scored() {  # the picture count of the score line
  "$build/nubo-train" --evaluate "$work/cb" --eval-qualities 20 "$@" "$work/pictures" 2>/dev/null |
    awk '$1 == 20 { print $2 }'
}
check "nubo-train --evaluate scores every input" test "$(scored)" = 8
check "nubo-train --evaluate --eval-fraction scores the set-aside share" \
  test "$(scored --eval-fraction 0.5)" = 2

finish_checks
