#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ and runs the tests there: every unit test program, the replay of
# the fuzz corpora and the command-line tests. Any memory error, leak or
# undefined behaviour ends the program that met it and fails its test.
#
# Left out: the window's end-to-end tests under Xvfb (slow under the
# sanitisers, and they drive the same code the unit tests cover) and the
# installation and package tests (they check files, not code).
set -eu
cd "$(dirname "$0")/.."
build=build-asan
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUBO_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
# The one known leak of the image library, outside our code (see the file).
export LSAN_OPTIONS="suppressions=$(pwd)/fuzz/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" \
  -E '^Gui\.|_under_xvfb$|^install_tree$|^debian_package$'
