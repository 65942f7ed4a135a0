#!/bin/sh
# Fails when a C++ file of the project is not formatted as .clang-format says.
# Usage: format_check.sh SOURCE_DIR
set -u
cd "$1" || exit 1
bad=0
for f in $(git ls-files '*.cc' '*.h'); do
  case "$f" in tests/data/*) continue ;; esac
  if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f (clang-format -i $f)"
    bad=1
  fi
done
[ $bad -eq 0 ] && echo "every C++ file is formatted"
exit $bad
