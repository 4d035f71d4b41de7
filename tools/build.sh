#!/bin/sh
# Configures (once) and builds one CMake preset: tools/build.sh linux|windows|fuzz
set -e
preset=$1
cd "$(dirname "$0")/.."
[ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
