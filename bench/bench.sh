#!/bin/sh
# Speed of whole cleaning runs on mosaics of distinct photographs (never one
# picture tiled: repeated patches keep codebook leaves in the caches): the
# plain baseline (nubo-straight), the per-stage table of whole-bench for one
# thread and every core, nubo-clean's peak memory, and a batch of 30 pictures.
# PNG output against BMP on a 48-megapixel picture: bench/png_bench.sh.
# Usage: bench/bench.sh [build-dir] [datasets-dir]   (run from the repository root)
set -eu
build=${1:-build}
sets=${2:-../shared/datasets/train}
cb=data/q16-25.cb
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ls "$sets"/urban100/*.jpg "$sets"/sunhays80/*.jpg >"$work/list"
pick() { sed -n "$1,$2p" "$work/list"; }
# 2560 x 1600 (4.1 MP) of 16 photos and 6000 x 4000 (24 MP) of 100, quality 20.
"$build/nubo-mosaic" --cols 4 --rows 4 --cell-width 640 --cell-height 400 "$work/m4.jpg" $(pick 1 16)
"$build/nubo-mosaic" --cols 10 --rows 10 --cell-width 600 --cell-height 400 "$work/m24.jpg" $(pick 30 129)
mkdir "$work/batch" "$work/out"
for k in $(seq 1 30); do
  "$build/nubo-mosaic" --cols 1 --rows 1 --cell-width 768 --cell-height 512 "$work/batch/p$k.jpg" $(pick $((130 + k)) $((130 + k)))
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/nubo-straight" --codebook "$cb" "$work/m4.jpg" "$work/straight.bmp"
for pic in m4 m24; do
  "$build/whole-bench" --codebook "$cb" --out "$work/out.bmp" --repeats 3 "$work/$pic.jpg"
  for t in 1 $(nproc); do
    /usr/bin/time -f "nubo-clean $pic, $t thread(s): %e s, peak %M KB" \
      "$build/nubo-clean" --force --threads "$t" --codebook "$cb" "$work/$pic.jpg" "$work/$pic.bmp"
  done
done
cmp "$work/straight.bmp" "$work/m4.bmp" && echo "baseline and nubo-clean give the same bytes"
/usr/bin/time -f "batch of 30 pictures (11.8 MP): %e s, peak %M KB" \
  "$build/nubo-clean" --force --codebook "$cb" --out-dir "$work/out" "$work"/batch/*.jpg
