#!/bin/sh
# Installs the Debian packages (when run as root) and builds everything into build/.
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then
  sh scripts/install-deps.sh
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
