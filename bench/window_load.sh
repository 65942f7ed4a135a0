#!/bin/sh
# The desktop program with a big picture, as a user starts it: `nubo PICTURE`
# under a private Xvfb. Prints the time from start until the load is done (the
# program has gone idle: its CPU time stops growing) and, with --clean X Y, the
# time of a clean started by a click at root-window pixel (X, Y) (the
# "2. Clean" button), then the peak memory of the process (/usr/bin/time) in
# bytes per picture pixel. Usage:
#   bench/window_load.sh [--program build/nubo] [--clean X Y] PICTURE
set -eu
program=build/nubo
cleanX=
cleanY=
while [ $# -gt 1 ]; do
  case $1 in
    --program) program=$2; shift 2 ;;
    --clean) cleanX=$2; cleanY=$3; shift 3 ;;
    *) break ;;
  esac
done
picture=$1
work=$(mktemp -d)
display=:$((70 + $$ % 20))
Xvfb "$display" -screen 0 1400x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
now() { date +%s.%N; }
cpu() {  # CPU ticks (user + system) of process $1
  awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}
# Waits until process $1 has used no CPU for half a second; prints the time
# of its last busy sample.
waitIdle() {
  last=$(cpu "$1"); busy=$(now); quiet=0
  while [ $quiet -lt 5 ]; do
    sleep 0.1
    c=$(cpu "$1")
    if [ "$c" -gt "$((last + 1))" ]; then busy=$(now); quiet=0; else quiet=$((quiet + 1)); fi
    last=$c
  done
  echo "$busy"
}
start=$(now)
# The shell becomes the program (exec), so the pid it writes is the program's.
DISPLAY=$display /usr/bin/time -f "%M" -o "$work/peak" \
  sh -c 'echo $$ >"$1"; exec "$2" "$3"' sh "$work/pid" "$program" "$picture" \
  >"$work/out" 2>"$work/err" &
timer=$!
while [ ! -s "$work/pid" ]; do sleep 0.05; done
pid=$(cat "$work/pid")
loaded=$(waitIdle "$pid")
echo "start and load: $(awk "BEGIN { printf \"%.2f\", $loaded - $start }") s"
if [ -n "$cleanX" ]; then
  DISPLAY=$display xdotool mousemove "$cleanX" "$cleanY" click 1
  clickAt=$(now)
  cleaned=$(waitIdle "$pid")
  echo "clean: $(awk "BEGIN { printf \"%.2f\", $cleaned - $clickAt }") s"
fi
if [ -n "${SHOT:-}" ]; then DISPLAY=$display xwd -root -silent >"$SHOT"; fi
kill "$pid"
wait "$timer" 2>/dev/null || true
size=$(file -L "$picture" | grep -o '[0-9]\+ *x *[0-9]\+' | tail -1 | tr -d ' ')
w=${size%x*}; h=${size#*x}
kb=$(cat "$work/peak" | tail -1)
echo "peak memory: $((kb / 1024)) MB, $(awk "BEGIN { printf \"%.1f\", $kb * 1024 / ($w * $h) }") bytes per picture pixel (${w} x ${h})"
