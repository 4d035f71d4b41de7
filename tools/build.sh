#!/bin/sh
# Configures (once) and builds one CMake preset, or only the given targets of it:
#   tools/build.sh linux|windows|fuzz [TARGET...]
set -e
preset=$1
shift
cd "$(dirname "$0")/.."
[ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" --target "$@"
else
    cmake --build --preset "$preset"
fi
