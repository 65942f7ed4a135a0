#!/bin/sh
# Prints megapixels per second of the clean pass and of whole nubo-clean runs
# on a 4.2-megapixel photo (the astronaut sample tiled 4 x 4, JPEG quality 20),
# with the shipped codebook, for one thread and for every core.
# Usage: bench/bench.sh [build-dir]   (run from the repository root)
set -eu
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
photo=$work/large-q20.jpg
"$build/nubo-compress" --quality 20 --tile 4 data/samples/astronaut.png "$photo"
"$build/clean-bench" --codebook data/data "$photo"

cores=$(nproc)
mp=$(awk 'BEGIN { printf "%.4f", 2048 * 2048 / 1e6 }')
for threads in 1 "$cores"; do
  best=
  for run in 1 2 3; do
    start=$(date +%s.%N)
    "$build/nubo-clean" --force --threads "$threads" "$photo" "$work/out.bmp" 2>/dev/null
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  awk -v t="$best" -v mp="$mp" -v n="$threads" \
    'BEGIN { printf "nubo-clean load+clean+save, %d thread(s): %.3f s, %.2f MP/s\n", n, t, mp / t }'
done
