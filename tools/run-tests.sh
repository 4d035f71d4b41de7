#!/bin/bash
# Builds every preset and runs every test suite: native (Linux), Windows (under
# Wine, in the build's own prefix), the release archives' check, the bounded fuzz run
# and the editor page tests.
# Ends with one summary line per suite; exits non-zero if any suite failed.
set -u
cd "$(dirname "$0")/.."

tools/setup-deps.sh build windows lv2 editor fuzz bench hosts || exit 1
[ -d page/tests ] && { tools/setup-deps.sh page || exit 1; }

declare -a names results
fail=0

record() {  # NAME STATUS DETAIL
    names+=("$1")
    results+=("$(printf '%-8s %-5s %s' "$1" "$2" "$3")")
    [ "$2" = PASS ] || fail=1
}

# Runs ctest for a preset and records its "N tests passed/failed" line.
run_ctest() {  # SUITE PRESET [CTEST ARGS...]
    local suite=$1 preset=$2
    shift 2
    local log="build/$preset-ctest.log"
    ctest --preset "$preset" "$@" 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    local line
    line=$(grep -E 'tests passed|No tests were found' "$log" | tail -1)
    if [ "$status" -eq 0 ] && [ -n "$line" ]; then
        record "$suite" PASS "$line"
    else
        record "$suite" FAIL "${line:-ctest exited with status $status}"
    fi
}

echo "== native build"
if tools/build.sh linux; then
    run_ctest native linux
else
    record native FAIL "build failed"
fi

echo "== Windows build"
if tools/build.sh windows; then
    prefix="$PWD/build/windows/wine-prefix"
    cmake/wine.sh start "$prefix"
    run_ctest windows windows
    cmake/wine.sh stop "$prefix"
else
    record windows FAIL "build failed"
fi

echo "== release archives"
if tools/dist.sh build/dist-check; then
    record dist PASS "both archives hold exactly the release's files"
else
    record dist FAIL "tools/dist.sh build/dist-check failed"
fi

echo "== fuzz build"
if tools/build.sh fuzz; then
    run_ctest fuzz fuzz
else
    record fuzz FAIL "build failed"
fi

if [ -d page/tests ]; then
    echo "== editor page"
    if (cd page && npm ci --silent --no-audit --no-fund >/dev/null && npm test); then
        record page PASS "page tests passed"
    else
        record page FAIL "page tests failed"
    fi
fi

echo
echo "== summary"
for r in "${results[@]}"; do echo "$r"; done
if [ "$fail" -eq 0 ]; then echo "ALL SUITES PASSED"; else echo "SOME SUITES FAILED"; fi
exit "$fail"
