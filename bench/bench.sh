#!/bin/sh
# Speed of whole cleaning runs on mosaics of distinct photographs (never one
# picture tiled: repeated patches keep codebook leaves in the caches):
#  1. nubo-clean with the shipped codebooks on 2 threads, a 4.1 MP picture at
#     quality 20, against ffmpeg's spp filter on the same file (median of 3);
#  2. nubo-clean on 1 and 2 threads against the plain baseline (nubo-straight),
#     both with a depth-3 codebook of 32-codeword leaves trained here;
#  3. whole-bench's per-stage table, peak memory, a 24 MP picture and a batch
#     of 30 pictures;
#  4. the desktop program's load, clean and peak memory with a 48 MP mosaic.
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
# Median wall time of three runs of a command, in seconds.
median3() {
  for r in 1 2 3; do
    /usr/bin/time -f %e -o "$work/t" "$@" >/dev/null 2>&1
    cat "$work/t"
  done | sort -n | sed -n 2p
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
# 2560 x 1600 (4.1 MP) of 16 photos and 6000 x 4000 (24 MP) of 100, quality 20.
"$build/nubo-mosaic" --cols 4 --rows 4 --cell-width 640 --cell-height 400 "$work/m4.jpg" $(pick 1 16)
"$build/nubo-mosaic" --cols 10 --rows 10 --cell-width 600 --cell-height 400 "$work/m24.jpg" $(pick 30 129)
mkdir "$work/batch" "$work/out"
for k in $(seq 1 30); do
  "$build/nubo-mosaic" --cols 1 --rows 1 --cell-width 768 --cell-height 512 "$work/batch/p$k.jpg" $(pick $((130 + k)) $((130 + k)))
done
mp=$(awk 'BEGIN { printf "%.2f", 2560 * 1600 / 1e6 }')
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"

# 1. Shipped codebooks (chosen by the picture's quality), 2 threads, and spp.
clean2=$(median3 "$build/nubo-clean" --force --threads 2 --data-dir data "$work/m4.jpg" "$work/m4.bmp")
spp=$(median3 ffmpeg -nostdin -v error -y -i "$work/m4.jpg" -vf spp=quality=3:qp=8:mode=hard "$work/spp.bmp")
echo "4.1 MP, quality 20, shipped codebooks, 2 threads: nubo-clean ${clean2} s" \
  "($(awk -v s="$clean2" -v m="$mp" 'BEGIN { printf "%.2f", m / s }') MP/s);" \
  "ffmpeg spp=quality=3:qp=8:mode=hard ${spp} s; nubo-clean / spp = $(ratio "$clean2" "$spp")"

# 2. The plain baseline against nubo-clean, same depth-3 x 32 codebook.
"$build/nubo-train" --qualities 20 --depth 3 --leaf-size 32 --seed 1 --max-patches 200000 \
  --out "$work/d3.cb" "$sets/bsds500" >/dev/null 2>&1
straight=$(median3 "$build/nubo-straight" --codebook "$work/d3.cb" "$work/m4.jpg" "$work/straight.bmp")
# The baseline converts every pixel back, as nubo-clean --convert-all does.
base1=$(median3 "$build/nubo-clean" --force --convert-all --threads 1 --codebook "$work/d3.cb" "$work/m4.jpg" "$work/b1.bmp")
base2=$(median3 "$build/nubo-clean" --force --convert-all --threads 2 --codebook "$work/d3.cb" "$work/m4.jpg" "$work/b2.bmp")
echo "depth-3 x 32 codebook, 4.1 MP: nubo-straight ${straight} s; nubo-clean 1 thread ${base1} s" \
  "($(ratio "$base1" "$straight")x), 2 threads ${base2} s ($(ratio "$base2" "$straight")x)"
cmp "$work/straight.bmp" "$work/b1.bmp" && cmp "$work/b1.bmp" "$work/b2.bmp" &&
  echo "baseline and nubo-clean give the same bytes"

# 3. Stages, memory, a large picture, a batch.
for pic in m4 m24; do
  "$build/whole-bench" --codebook "$cb" --out "$work/out.bmp" --repeats 3 "$work/$pic.jpg"
  for t in 1 $(nproc); do
    /usr/bin/time -f "nubo-clean $pic, $t thread(s): %e s, peak %M KB" \
      "$build/nubo-clean" --force --threads "$t" --codebook "$cb" "$work/$pic.jpg" "$work/$pic.bmp"
  done
done
/usr/bin/time -f "batch of 30 pictures (11.8 MP): %e s, peak %M KB" \
  "$build/nubo-clean" --force --codebook "$cb" --out-dir "$work/out" "$work"/batch/*.jpg

# 4. The desktop program: 8000 x 6000 (48 MP) of 100 photos; its stages without a
# window, then the program itself under Xvfb (load only: a clean is timed with
# bench/window_load.sh --clean X Y, the button's place on the screen).
"$build/nubo-mosaic" --cols 10 --rows 10 --cell-width 800 --cell-height 600 "$work/m48.jpg" $(pick 1 100)
"$build/window-bench" --codebook "$cb" "$work/m48.jpg"
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  sh bench/window_load.sh --program "$build/nubo" "$work/m48.jpg"
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
