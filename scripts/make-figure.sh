#!/bin/sh
# Makes docs/before-after.png: original, JPEG quality 20 and cleaned, a 3x
# magnified crop of the astronaut sample. Run from the repository root after a build.
set -eu
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/nubo-clean" data/samples/astronaut-q20.jpg "$work/clean.png"
"$build/nubo-figure" data/samples/astronaut.png data/samples/astronaut-q20.jpg "$work/clean.png" \
  --crop 130 330 100 80 --zoom 3 -o docs/before-after.png
