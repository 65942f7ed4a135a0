#!/bin/sh
# Runs a command under a virtual X server of its own. The server picks a free
# display number itself (-displayfd), so tests running in parallel never
# share or race for one; -noreset keeps it up between clients.
set -u
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$dir"' EXIT
tries=0
while [ ! -s "$dir/display" ]; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ] || ! kill -0 $server 2>/dev/null; then  # 10 s
    echo "with_xvfb.sh: Xvfb did not start" >&2
    cat "$dir/log" >&2
    exit 1
  fi
  sleep 0.1
done
DISPLAY=:$(cat "$dir/display") "$@"
