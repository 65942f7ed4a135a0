#!/bin/sh
# Whole nubo-clean runs on a 48-megapixel picture (8000 x 6000, a mosaic of 100
# distinct photographs, never one picture tiled) written as BMP and as PNG:
# the median of three alternating runs of each, and the ratio PNG / BMP (PNG
# output should take at most 1.5 times as long). With ffmpeg at hand it also
# checks that both files hold the same pixels.
# Usage: bench/png_bench.sh [build-dir] [datasets-dir] [threads]
#        (run from the repository root; threads 0 = every core)
set -eu
build=${1:-build}
sets=${2:-../shared/datasets/train}
threads=${3:-0}
cb=data/q16-25.cb
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ls "$sets"/urban100/*.jpg "$sets"/sunhays80/*.jpg | sed -n 1,100p >"$work/list"
"$build/nubo-mosaic" --cols 10 --rows 10 --cell-width 800 --cell-height 600 "$work/m48.jpg" \
  $(cat "$work/list")
median() { sort -n | sed -n 2p; }
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for run in 1 2 3; do
  for fmt in bmp png; do
    /usr/bin/time -a -o "$work/$fmt.times" -f "%e" \
      "$build/nubo-clean" --force --threads "$threads" --codebook "$cb" "$work/m48.jpg" "$work/out.$fmt"
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
bmp=$(median <"$work/bmp.times")
png=$(median <"$work/png.times")
echo "48 MP, $threads thread(s) (0 = all $(nproc)), BMP runs: $(tr '\n' ' ' <"$work/bmp.times")s, PNG runs: $(tr '\n' ' ' <"$work/png.times")s"
echo "median BMP $bmp s, PNG $png s, PNG/BMP $(awk "BEGIN { printf \"%.2f\", $png / $bmp }")"
echo "file sizes: BMP $(wc -c <"$work/out.bmp") bytes, PNG $(wc -c <"$work/out.png") bytes"
if command -v ffmpeg >/dev/null 2>&1; then
  a=$(ffmpeg -v error -i "$work/out.bmp" -f rawvideo -pix_fmt rgb24 - | md5sum)
  b=$(ffmpeg -v error -i "$work/out.png" -f rawvideo -pix_fmt rgb24 - | md5sum)
  [ "$a" = "$b" ] && echo "BMP and PNG hold the same pixels" || echo "BMP and PNG pixels DIFFER"
fi
