#!/bin/sh
# Trains the shipped codebooks in data/: one per band of JPEG quality, the
# quality-independent data/data, the abstaining codebook for high qualities,
# and data/index. Works from a clean clone: it builds nubo-train itself.
# Usage: scripts/train-codebooks.sh [build-dir] [datasets-dir]
#   datasets-dir  holds train/wikiphotos, train/bsds500, train/urban100 and
#                 train/sunhays80 (default: $NUBO_DATASETS, else
#                 ../shared/datasets beside the repository)
# Without settings it makes the codebooks shipped in data/ (about 100 minutes
# on 2 cores, under 4 GB). Settings for other sets (see train/TRAINING.md):
#   NUBO_PHOTOS=0          leave out the photographs of Debian's wallpaper
#                          packages listed in train/PHOTOS.md (by default they are
#                          installed here when missing, as root, and reduced to
#                          about a megapixel into build-dir/photos)
#   NUBO_ORIENTATIONS=N    1, 2, 4 or 8 flipped and rotated copies of every
#                          original compressed as training pairs (default 4)
#   NUBO_PATCHES=N         training patches per codebook (default 80000000; the
#                          trainer needs about 25 bytes a patch, see TRAINING.md)
#   NUBO_LEAF_SIZE=N       codewords per leaf (default 2)
#   NUBO_QUALITY_STEP=N    train each band on every N-th quality from its low to
#                          its high end (6-14, 16-24, 26-34, 36-44, 46-60;
#                          default 4: 6,10,14 and so on)
# Run long jobs politely: nice -n 15 sh scripts/train-codebooks.sh
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-train}
datasets=${2:-${NUBO_DATASETS:-$here/../shared/datasets}}
out=$here/data

train=""
for folder in wikiphotos bsds500 urban100 sunhays80; do
  if [ ! -d "$datasets/train/$folder" ]; then
    echo "train-codebooks.sh: no $datasets/train/$folder (give the datasets folder)" >&2
    exit 2
  fi
  train="$train $datasets/train/$folder"
done
mkdir -p "$out"

# Photographs from Debian packages: only the files checked by eye and listed as
# photographs in train/PHOTOS.md (the packages also ship drawings and renderings).
photos=$build/photos
if [ "${NUBO_PHOTOS:-1}" = 1 ]; then
  packages="lomiri-wallpapers-16.04 lomiri-wallpapers-20.04 ffmpeg"
  missing=""
  for p in $packages; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
  done
  if [ -n "$missing" ]; then
    if [ "$(id -u)" != 0 ]; then
      echo "train-codebooks.sh: install$missing (as root), or set NUBO_PHOTOS=0" >&2
      exit 2
    fi
    apt-get update
    # shellcheck disable=SC2086  # a word list
    apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends $missing
  fi
  mkdir -p "$photos"
  # The list: lines "| `/usr/share/...` | photograph |" of train/PHOTOS.md.
  # shellcheck disable=SC2016  # the backquotes of the Markdown table
  sed -n 's/^| `\(\/usr\/share\/[^`]*\)` | photograph |.*/\1/p' "$here/train/PHOTOS.md" |
    while read -r file; do
      name=$(basename "$file")
      target=$photos/${name%.*}.png
      [ -s "$target" ] && continue
      # Reduce by the whole factor that brings the picture nearest one megapixel,
      # averaging over the factor's squares: the reduction removes the files' own
      # JPEG artefacts, as the wikiphotos were made.
      size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height \
        -of csv=p=0 "$file")
      factor=$(echo "$size" | awk -F, '{ f = int(sqrt($1 * $2 / 1000000) + 0.5); print f < 1 ? 1 : f }')
      ffmpeg -nostdin -loglevel error -y -i "$file" \
        -vf "scale=trunc(iw/$factor):trunc(ih/$factor):flags=area" -pix_fmt rgb24 \
        "$target.tmp.png"
      mv "$target.tmp.png" "$target"
    done
  train="$train $photos"
fi

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target nubo-train
tool=$build/nubo-train

# Every codebook: the same tree shape and sample budget; the pictures set aside
# by --eval-fraction (chosen by file name, the same share of every folder) only
# score the result. The k-means of every node clusters on the patch joined by
# the correction its centre wants, weighted 64 (the search still goes by patch
# distance alone): that more than doubled the gain in the weight sweep of
# train/TRAINING.md.
common="--depth 5 --leaf-size ${NUBO_LEAF_SIZE:-2} --max-patches ${NUBO_PATCHES:-80000000}
  --orientations ${NUBO_ORIENTATIONS:-4} --seed 1 --threads 2 --eval-fraction 0.1
  --leaf-target-weight 64 --node-target-weight 64"

# The qualities a band trains on: every NUBO_QUALITY_STEP-th from its low end.
band() {  # low high
  seq -s, "$1" "${NUBO_QUALITY_STEP:-4}" "$2"
}

start=$(date +%s)
# shellcheck disable=SC2086  # $train and $common are word lists
$tool $train $common --qualities "$(band 6 14)" --eval-qualities 10 --out "$out/q01-15.cb"
# shellcheck disable=SC2086
$tool $train $common --qualities "$(band 16 24)" --eval-qualities 20 --out "$out/q16-25.cb"
# shellcheck disable=SC2086
$tool $train $common --qualities "$(band 26 34)" --eval-qualities 30 --out "$out/q26-35.cb"
# shellcheck disable=SC2086
$tool $train $common --qualities "$(band 36 44)" --eval-qualities 40 --out "$out/q36-45.cb"
# shellcheck disable=SC2086
$tool $train $common --qualities "$(band 46 60)" --eval-qualities 50,60 --out "$out/q46-60.cb"
# shellcheck disable=SC2086
$tool $train $common --qualities 10,15,20,25,30,40,50 --eval-qualities 10,20,30,40,50 \
  --out "$out/data"
$tool --abstain --out "$out/abstain.cb" "$out"
end=$(date +%s)

cat > "$out/index" <<'INDEX'
# JPEG quality band -> codebook trained on pictures compressed in that band.
# <min-quality> <max-quality> <file>; qualities outside every band use data.
1 15 q01-15.cb
16 25 q16-25.cb
26 35 q26-35.cb
36 45 q36-45.cb
46 60 q46-60.cb
# Above 60 the picture has little ringing left: the codebook abstains everywhere.
61 100 abstain.cb
INDEX
echo "training took $((end - start)) s"
