#!/bin/sh
# Makes data/logo.bmp, the logo the desktop program shows in the top-left
# corner of its graphics area, with nubo-logo. Run from the repository root
# after a build; with a second argument it also writes the desktop icons
# nubo-SIZE.png (16 to 256 pixels) into that folder.
set -eu
build=${1:-build}
"$build/nubo-logo" data/logo.bmp
if [ $# -ge 2 ]; then
  mkdir -p "$2"
  for size in 16 22 24 32 48 64 128 256; do
    "$build/nubo-logo" --icon "$size" "$2/nubo-$size.png"
  done
fi
