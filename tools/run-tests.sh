#!/bin/bash
# Builds every preset and runs every test suite: native (Linux), Windows (under
# Wine, in the build's own prefix), the release archives' check, the bounded fuzz run
# and the editor page tests.
# Ends with one summary line per suite and, last, the total across suites
# ("N passed, N failed"); exits non-zero if any suite failed.
set -u
cd "$(dirname "$0")/.." || exit 1

tools/setup-deps.sh build windows lv2 editor fuzz bench hosts || exit 1
[ -d page/tests ] && { tools/setup-deps.sh page || exit 1; }

results=() not_run=()
fail=0 total_passed=0 total_failed=0 total_skipped=0

# One summary line per suite. PASSED FAILED SKIPPED are its test counts, absent when
# the suite could not run at all (it then appears in the total line by name).
record() {  # NAME STATUS DETAIL [PASSED FAILED SKIPPED]
    results+=("$(printf '%-8s %-5s %s' "$1" "$2" "$3")")
    [ "$2" = PASS ] || fail=1
    if [ $# -ge 6 ]; then
        total_passed=$((total_passed + $4))
        total_failed=$((total_failed + $5))
        total_skipped=$((total_skipped + $6))
    else
        not_run+=("$1")
    fi
}

# Runs ctest for a preset and records its "N% tests passed, N tests failed out of N"
# line; skipped tests count as run out of that N, so they are taken off the passed.
run_ctest() {  # SUITE PRESET [CTEST ARGS...]
    local suite=$1 preset=$2
    shift 2
    local log="build/$preset-ctest.log"
    ctest --preset "$preset" "$@" 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    local line skipped
    line=$(grep -E 'tests passed|No tests were found' "$log" | tail -1)
    skipped=$(grep -cE '\((Skipped|Disabled)\)$' "$log")
    if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
        local failed=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
        local verdict=FAIL
        [ "$status" -eq 0 ] && verdict=PASS
        record "$suite" "$verdict" "$line" $((total - failed - skipped)) "$failed" "$skipped"
    elif [ "$status" -eq 0 ] && [ -n "$line" ]; then
        record "$suite" PASS "$line" 0 0 0
    else
        record "$suite" FAIL "${line:-ctest exited with status $status}"
    fi
}

# Runs the page tests (TAP, ending in "# pass N", "# fail N" ...) and records their counts;
# cancelled tests (a hook that failed, a timeout) count as failed.
run_page_tests() {
    local log=build/page-tests.log
    (cd page && npm test) 2>&1 | tee "$log"
    local status=${PIPESTATUS[0]}
    local passed failed cancelled skipped
    passed=$(sed -n 's/^# pass \([0-9]*\)$/\1/p' "$log")
    failed=$(sed -n 's/^# fail \([0-9]*\)$/\1/p' "$log")
    cancelled=$(sed -n 's/^# cancelled \([0-9]*\)$/\1/p' "$log")
    skipped=$(sed -n 's/^# skipped \([0-9]*\)$/\1/p' "$log")
    if [ -z "$passed" ] || [ -z "$failed" ]; then
        record page FAIL "npm test exited with status $status before its summary"
        return
    fi
    failed=$((failed + ${cancelled:-0}))
    local verdict=FAIL
    [ "$status" -eq 0 ] && [ "$failed" -eq 0 ] && verdict=PASS
    record page "$verdict" "$passed tests passed, $failed failed" "$passed" "$failed" "${skipped:-0}"
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

# The release check is one test: both archives, their files, sums and modules.
echo "== release archives"
if tools/dist.sh build/dist-check; then
    record dist PASS "both archives hold exactly the release's files" 1 0 0
else
    record dist FAIL "tools/dist.sh build/dist-check failed" 0 1 0
fi

echo "== fuzz build"
if tools/build.sh fuzz; then
    run_ctest fuzz fuzz
else
    record fuzz FAIL "build failed"
fi

if [ -d page/tests ]; then
    echo "== editor page"
    mkdir -p build
    run_page_tests
fi

echo
echo "== summary"
for r in "${results[@]}"; do echo "$r"; done
total="$total_passed passed, $total_failed failed"
[ "$total_skipped" -eq 0 ] || total="$total, $total_skipped skipped"
[ ${#not_run[@]} -eq 0 ] || total="$total; did not run: ${not_run[*]}"
echo "$total"
exit "$fail"
