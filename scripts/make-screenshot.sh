#!/bin/sh
# Makes docs/window.png: the desktop program under a private Xvfb server with
# the bundled sample photo cleaned and zoomed in. Run from the repository root
# after a build.
set -eu
build=${1:-build}
"$build/nubo-screenshot" "$(cd "$build" && pwd)" "$(pwd)" data/samples/astronaut-q20.jpg docs/window.png
echo "wrote docs/window.png"
