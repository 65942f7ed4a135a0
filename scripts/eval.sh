#!/bin/sh
# Runs the quality benchmark on the evaluation pictures at the qualities the
# README reports: JPEG at 10, 20, 30, 40, 50, 70 and 90, cleaned by nubo-clean, luminance PSNR.
# Run from the repository root (nubo-clean finds data/ below the current folder).
# Usage: scripts/eval.sh [BUILD_DIR] [more nubo-eval options]
#   NUBO_EVAL_SET  folder of lossless PNG originals
#                  (default ../shared/datasets/eval/mcmaster beside the repository)
#   NUBO_EVAL_QUALITIES  comma-separated JPEG qualities (default 10,20,30,40,50,70,90)
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")/.." && pwd)
set="${NUBO_EVAL_SET:-$here/../shared/datasets/eval/mcmaster}"
if [ ! -x "$build/nubo-eval" ] || [ ! -x "$build/nubo-clean" ]; then
  echo "eval.sh: build nubo-eval and nubo-clean in $build first (cmake --build $build)" >&2
  exit 2
fi
exec "$build/nubo-eval" --cleaner "$build/nubo-clean" --quality "${NUBO_EVAL_QUALITIES:-10,20,30,40,50,70,90}" "$@" "$set"
