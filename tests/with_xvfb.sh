#!/bin/sh
# Runs a command under a virtual X server of its own (xvfb-run). Tests run in
# parallel, so a display number may be taken while the server starts: then it
# tries again from another number.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
attempt=0
while [ $attempt -lt 5 ]; do
  attempt=$((attempt + 1))
  first=$(( ($$ * 7 + attempt * 131) % 800 + 100 ))  # spread the numbers out
  xvfb-run -a -n "$first" -s "-screen 0 1280x1024x24 -nolisten tcp" "$@" 2>"$log"
  status=$?
  if ! grep -q "Xvfb failed to start" "$log"; then
    cat "$log" >&2
    exit $status
  fi
done
cat "$log" >&2
exit $status
