#!/bin/sh
# The installed tree: cmake --install into a temporary prefix, then the
# installed nubo-clean run from another folder gives the bytes the built one
# gives, finds no data when none is reachable, and the desktop entry, AppStream
# file and man pages are valid and match the programs' --help.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -u
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$(dirname "$0")/check.sh"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
for f in bin/nubo-clean bin/nubo-train bin/nubo-eval share/nubo/data/data share/nubo/data/index \
  share/applications/nubo.desktop share/man/man1/nubo-clean.1.gz share/man/man1/nubo-train.1.gz \
  share/man/man1/nubo-eval.1.gz share/man/man1/nubo.1.gz share/doc/nubo/copyright; do
  check "installs $f" test -s "$prefix/$f"
done
if [ -x "$build/nubo" ]; then
  check "installs bin/nubo" test -x "$prefix/bin/nubo"
  check "installs the logo" test -s "$prefix/share/nubo/data/logo.bmp"
fi
if [ -x "$build/nubo-logo" ]; then
  for size in 16 32 48 256; do
    check "installs the ${size}px icon" test -s "$prefix/share/icons/hicolor/${size}x${size}/apps/nubo.png"
  done
fi

photo=$src/data/samples/astronaut-q20.jpg
(cd "$src" && "$build/nubo-clean" "$photo" "$work/built.png" 2>/dev/null)
mkdir "$work/elsewhere"
(cd "$work/elsewhere" && "$prefix/bin/nubo-clean" "$photo" out.png 2>"$work/err")
check "installed nubo-clean cleans from another folder" test $? -eq 0
check "installed nubo-clean gives the bytes of the built one" cmp -s "$work/built.png" "$work/elsewhere/out.png"
check "the installed data folder is not named: it is the usual one" \
  sh -c "! grep -q 'data folder' '$work/err'"
(cd "$work/elsewhere" && "$prefix/bin/nubo-clean" --verbose --force "$photo" out.png 2>"$work/err")
check "--verbose names the installed data folder" \
  grep -q "using the data folder $prefix/share/nubo/data" "$work/err"

mkdir -p "$work/lone/bin" "$work/empty"
cp "$prefix/bin/nubo-clean" "$work/lone/bin/"
(cd "$work/elsewhere" && NUBO_DATA_DIR=$work/empty "$work/lone/bin/nubo-clean" "$photo" none.png \
  2>"$work/err")
check "no data reachable: exit status 1" test $? -eq 1
check "no data reachable: no output" test ! -e "$work/elsewhere/none.png"
check "no data reachable: lists the folders tried" \
  grep -q "no codebook found in data, $work/empty or $work/lone/share/nubo/data" "$work/err"

check "desktop-file-validate" desktop-file-validate "$prefix/share/applications/nubo.desktop"
check "the desktop entry opens files" grep -q '^Exec=nubo %f$' "$prefix/share/applications/nubo.desktop"
check "appstreamcli validate" appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml \
  >/dev/null

# Every option --help lists is in the man page, and the page has its sections.
for tool in nubo-clean nubo-train nubo-eval; do
  gzip -dc "$prefix/share/man/man1/$tool.1.gz" | sed 's/\\-/-/g' >"$work/$tool.man"
  "$build/$tool" --help | grep -o -- '--[a-z][a-z-]*' | sort -u >"$work/$tool.options"
  check "$tool --help lists options" test -s "$work/$tool.options"
  while read -r option; do
    check "$tool man page names $option" grep -q -- "$option" "$work/$tool.man"
  done <"$work/$tool.options"
  check "$tool man page: one exit status" \
    test "$(grep -c -i '^\.S[HS] "\?EXIT STATUS' "$work/$tool.man")" -eq 1
  check "$tool man page: version" grep -q "$tool 1\.[0-9]" "$work/$tool.man"
  check "$tool man page: a NAME line that says what it does" \
    sh -c "sed -n '/^\.SH NAME/{n;p;}' '$work/$tool.man' | grep -q '^$tool - [a-z].* [a-z]' &&
           ! sed -n '/^\.SH NAME/{n;p;}' '$work/$tool.man' | grep -q '^$tool - $tool\$'"
  check "$tool man page: SEE ALSO does not name the page itself" \
    sh -c "! sed -n '/^\.SH \"SEE ALSO/,\$p' '$work/$tool.man' | grep -q '^\.BR $tool '"
done
check "nubo-clean man page: examples" grep -q '^\.SH EXAMPLES' "$work/nubo-clean.man"
check "nubo-clean man page: one example a paragraph" \
  test "$(sed -n '/^\.SH EXAMPLES/,/^\.SH/p' "$work/nubo-clean.man" | grep -c '^nubo-clean \|^cat ')" -eq \
  "$(sed -n '/^\.SH EXAMPLES/,/^\.SH/p' "$work/nubo-clean.man" | grep -c '^\.IP')"
check "nubo-clean man page: BMP carries no metadata" \
  sh -c "tr '\n' ' ' <'$work/nubo-clean.man' | grep -q 'BMP output carries no metadata'"
gzip -dc "$prefix/share/man/man1/nubo.1.gz" | sed 's/\\-/-/g' >"$work/nubo.man"
check "nubo man page: NAME line" sh -c "sed -n '/^\.SH NAME/{n;p;}' '$work/nubo.man' | grep -q '^nubo - '"
check "nubo man page: SEE ALSO does not name the page itself" \
  sh -c "! sed -n '/^\.SH \"\?SEE ALSO/,\$p' '$work/nubo.man' | grep -q '^\.BR nubo '"
for key in PageUp PageDown Left Right Up Down '\.BR a' 'd' 'z' 'c' 's' 'x' '\.B h'; do
  check "nubo man page names the key $key" grep -q -- "$key" "$work/nubo.man"
done
check "nubo man page names the picture argument" grep -q 'PICTURE' "$work/nubo.man"

finish_checks
