#!/bin/sh
# Makes docs/window.png, docs/window-flip.png and docs/window-difference.png:
# the desktop program under a private Xvfb server with the bundled sample photo
# cleaned and zoomed in; then the right panel flipped to the input (space), and
# showing what the cleaning changed ("v"). Run from the repository root after a
# build.
set -eu
build=${1:-build}
"$build/nubo-screenshot" "$(cd "$build" && pwd)" "$(pwd)" data/samples/astronaut-q20.jpg \
  docs/window.png docs/window-flip.png docs/window-difference.png
echo "wrote docs/window.png, docs/window-flip.png, docs/window-difference.png"
