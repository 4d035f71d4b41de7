#!/bin/sh
# Runs one set-up step with its output held back. When the step fails, prints the
# tool's own last lines, then the given sentence saying what failed and what to do,
# and exits with the step's status.
# Usage: tools/run-step.sh 'WHAT FAILED AND WHAT TO DO' COMMAND [ARG...]
SHOWN_LINES=20

advice=$1
shift
log=$(mktemp) || exit 1
"$@" >"$log" 2>&1
status=$?
if [ "$status" -ne 0 ]; then
    tail -n "$SHOWN_LINES" "$log" >&2
    echo "$advice (exit status $status)" >&2
fi
rm -f "$log"
exit "$status"
