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
# What each group is for:
# - the compiler, CMake and pkg-config (lcms2 and libexif are found with it);
# - clang, its sanitiser and libFuzzer runtimes and the llvm tools (the
#   symboliser of sanitiser reports) for the fuzz targets and the checked
#   build (scripts/fuzz.sh, scripts/sanitize-test.sh);
# - the image libraries behind imageio/ and jpegutil/ (the tests link DevIL,
#   libjpeg, zlib, lcms2 and libexif directly as well);
# - GoogleTest and CLI11 (every tool's options); clang-format and git for the
#   test that every C++ file is formatted;
# - freeglut and GLU for the window and its toolkit;
# - help2man for the man pages; desktop-file-utils, appstream, lintian and
#   dpkg-dev (with file, which CPack needs for the package's library
#   dependencies) for the install and package tests;
# - X11 and XTest headers, Xvfb and the Mesa software renderer for the window
#   tests under a private X server; xdotool, x11-apps (xwd) and time for the
#   window benchmark (bench/window_load.sh);
# - zenity, which shows the desktop program's file dialogs and message boxes;
# - ffmpeg: bench/bench.sh times its spp filter beside nubo-clean, and
#   scripts/train-codebooks.sh reduces the training photographs with it.
apt-get install -y --no-install-recommends \
  build-essential cmake pkg-config \
  clang-14 libclang-rt-14-dev llvm-14 \
  libdevil-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev liblcms2-dev libexif-dev \
  libgtest-dev libcli11-dev clang-format git \
  freeglut3-dev libglu1-mesa-dev \
  help2man desktop-file-utils appstream dpkg-dev file lintian \
  libx11-dev libxtst-dev \
  xvfb xdotool x11-apps libgl1-mesa-dri time \
  zenity \
  ffmpeg
