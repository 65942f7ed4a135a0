#!/bin/sh
# Installs every Debian package that building, testing and running Nubo needs.
# Run as root (CI and the README's commands do); safe to run again.
set -eu
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: run as root (apt-get needs it)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
# ffmpeg: bench/bench.sh times its spp filter beside nubo-clean.
# clang, its sanitiser and libFuzzer runtimes and llvm-symbolizer build and run
# the fuzz targets (scripts/fuzz.sh).
# zenity (else kdialog) shows the desktop program's file dialogs and message boxes.
apt-get install -y --no-install-recommends \
  build-essential cmake pkg-config \
  clang-14 libclang-rt-14-dev llvm-14 \
  libdevil-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev liblcms2-dev libexif-dev \
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev \
  freeglut3-dev libglu1-mesa-dev \
  help2man desktop-file-utils appstream dpkg-dev file lintian \
  libx11-dev libxtst-dev \
  xvfb xauth xdotool x11-apps libgl1-mesa-dri time \
  zenity kdialog \
  ffmpeg
