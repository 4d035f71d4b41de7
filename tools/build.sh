#!/bin/sh
# Configures (once) and builds one CMake preset, or only the named targets of it:
#   tools/build.sh linux|windows|fuzz [TARGET...]
set -e
preset=$1
shift
cd "$(dirname "$0")/.."
# build.ninja appears only when configuring succeeded, so a failed configure runs again.
[ -f "build/$preset/build.ninja" ] ||
    tools/run-step.sh "build: configuring the $preset tree failed; install what CMake says is missing (tools/setup-deps.sh lists the package groups), then run make again" \
        cmake --preset "$preset"
[ $# -eq 0 ] || set -- --target "$@"
cmake --build --preset "$preset" "$@" || {
    echo "build: building the $preset tree failed; mend the errors shown above (after the line starting with FAILED:), then run make again" >&2
    exit 1
}
