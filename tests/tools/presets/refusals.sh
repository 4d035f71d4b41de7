#!/bin/sh
# emberpress-presets refuses what it cannot do, says why, and leaves nothing half
# written: a wrong command line, a folder that does not exist, a manifest it cannot
# read, a file the disk cannot hold.
#   refusals.sh PRESETS_TOOL
set -u
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# expect STATUS TEXT COMMAND...: the command exits with STATUS and says TEXT on stderr.
expect() {
    want=$1 text=$2
    shift 2
    "$@" >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq "$want" ] || fail "$* exited $status, not $want: $(cat "$work/err")"
    grep -qF "$text" "$work/err" || fail "$* did not say '$text': $(cat "$work/err")"
    [ -s "$work/out" ] && fail "$* wrote to stdout"
    return 0
}

expect 2 "usage: emberpress-presets" "$tool"
expect 2 "usage: emberpress-presets" "$tool" vst3
expect 2 "usage: emberpress-presets" "$tool" page "$work" extra
expect 1 "cannot write '$work/none/" "$tool" vst3 "$work/none"

mkdir "$work/bundle"
expect 1 "cannot read '$work/missing.ttl'" "$tool" lv2 "$work/missing.ttl" "$work/bundle"
[ -z "$(ls -A "$work/bundle")" ] || fail "lv2 wrote files without a manifest: $(ls "$work/bundle")"

# A full disk: the write fails when the file is closed, and the file is removed again.
mkdir "$work/page"
ln -s /dev/full "$work/page/presets.js"
expect 1 "cannot write '$work/page/presets.js'" "$tool" page "$work/page"
[ ! -e "$work/page/presets.js" ] && [ ! -L "$work/page/presets.js" ] || fail "presets.js left behind"
echo ok
