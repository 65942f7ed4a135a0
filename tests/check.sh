# Shared by the shell tests: a temporary work folder removed at exit, and
# check DESCRIPTION COMMAND... counting passes and failures; finish_checks
# prints "N passed, N failed" and fails when any check did.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
  what=$1
  shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL: $what"; failed=$((failed + 1)); fi
}
finish_checks() {
  echo "$passed passed, $failed failed"
  test "$failed" -eq 0
}
