#!/bin/sh
# The Debian package: cpack -G DEB builds it, its dependencies name the shared
# libraries and a dialog program, and unpacked into a temporary root with
# dpkg-deb -x its nubo-clean runs from there and finds its codebooks.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR
set -u
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$(dirname "$0")/check.sh"
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1)
check "cpack -G DEB" test $? -eq 0
deb=$(ls "$work"/out/nubo_*_amd64.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { cat "$work/cpack.log"; echo "0 passed, 1 failed"; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
check "depends on a dialog program" sh -c "echo '$depends' | grep -q 'zenity | kdialog'"
check "depends on the libraries it links" sh -c "echo '$depends' | grep -q 'libdevil1c2'"
dpkg-deb -x "$deb" "$work/root" || exit 1
mkdir "$work/elsewhere"
(cd "$work/elsewhere" && "$work/root/usr/bin/nubo-clean" "$src/data/samples/astronaut-q20.jpg" \
  out.bmp 2>"$work/err")
check "unpacked nubo-clean runs" test $? -eq 0 -a -s "$work/elsewhere/out.bmp"
check "unpacked nubo-clean finds its codebooks" \
  grep -q "codebook $work/root/usr/share/nubo/data/q16-25.cb" "$work/err"
if command -v lintian >/dev/null; then
  lintian "$deb" >"$work/lintian" 2>&1
  check "lintian reports no errors" sh -c "! grep -q '^E:' '$work/lintian'"
  grep '^[EW]:' "$work/lintian"
fi
finish_checks
