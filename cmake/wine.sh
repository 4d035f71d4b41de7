#!/bin/sh
# Runs Windows programs under Wine, headless and quiet, in a prefix of the build's own.
#   wine.sh run   PREFIX PROGRAM [ARGS...]   run one program (creates the prefix on first use)
#   wine.sh start PREFIX                     start a persistent wineserver (fast test runs)
#   wine.sh stop  PREFIX                     stop that prefix's wineserver
set -e
cmd=$1 prefix=$2
shift 2

export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all LC_ALL=C.UTF-8
# No debugger: a crashing test ends at once with an error status instead of waiting.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY

# First use: create the prefix and select Wine's null graphics driver, which can
# create windows without any display. A lock keeps parallel test runs from racing.
ensure_prefix() {
    [ -f "$prefix/.emberpress-ready" ] && return 0
    mkdir -p "$prefix"
    (
        flock 9
        if [ ! -f "$prefix/.emberpress-ready" ]; then
            echo "wine.sh: creating the Wine prefix in $prefix (first run only)" >&2
            wineboot -i >/dev/null 2>&1 || true
            wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
            wineserver -w
            touch "$prefix/.emberpress-ready"
        fi
    ) 9>"$prefix.lock"
}

case "$cmd" in
run)
    ensure_prefix
    exec wine "$@"
    ;;
start)
    ensure_prefix
    wineserver -p
    wine cmd /c exit 0 >/dev/null 2>&1 || true
    ;;
stop)
    [ -d "$prefix" ] && wineserver -k 2>/dev/null || true
    ;;
*)
    echo "usage: wine.sh run|start|stop PREFIX [PROGRAM ARGS...]" >&2
    exit 2
    ;;
esac
