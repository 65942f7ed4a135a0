#!/bin/sh
# Sets up, builds, and cleans the bundled sample photo into astronaut-clean.png.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh
./build/nubo-clean --force data/samples/astronaut-q20.jpg astronaut-clean.png
echo "wrote astronaut-clean.png"
