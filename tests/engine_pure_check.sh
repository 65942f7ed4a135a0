#!/bin/sh
# Fails when engine/ reaches outside memory: a window-system or image-library
# header, a file or process header, or a call that opens, renames or removes a
# file, or prints. Files belong to fileio/, pictures to imageio/. Nor may it
# include a header of the modules built on it: the window's display buffers
# and its clean of them belong to app/.
# Usage: engine_pure_check.sh SOURCE_DIR
set -u
cd "$1/engine" || exit 1
bad=0
if grep -nE '#include <(GL|GLUT|IL)/|#include <(fstream|filesystem|fcntl\.h|unistd\.h|sys/[a-z]+\.h|dirent\.h|iostream)>' \
  ./*.h ./*.cc; then
  echo "engine/ includes a header of the window system, the image library or the file system"
  bad=1
fi
if grep -nE '(^|[^A-Za-z0-9_.>])(std::)?(fopen|freopen|open|openat|rename|renameat2?|unlink|remove|mkstemp|mkostemp|printf|fprintf|puts|perror)\(' \
  ./*.h ./*.cc; then
  echo "engine/ opens, renames, removes or prints"
  bad=1
fi
if grep -nE '#include "(app|view|toolkit|platform|imageio|fileio|jpegutil|codebooks|datadir|tools|train|bench|fuzz)/' \
  ./*.h ./*.cc; then
  echo "engine/ includes a header of a module built on it"
  bad=1
fi
[ $bad -eq 0 ] && echo "engine/ works on memory only"
exit $bad
