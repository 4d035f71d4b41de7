#!/bin/sh
# A screenshot of the LV2 editor inside a real host: jalv.gtk3 with the built bundle,
# under a private X server (Xvfb) and a private JACK server (dummy backend, no sound
# hardware). Everything it starts is stopped again by its PID.
#   tools/editor-in-host.sh OUT.png [BUILD_DIR]   (default build/linux)
# Fails, saying why, when the host does not show the drawn page within a minute.
set -eu
cd "$(dirname "$0")/.."
shot=$1
bundles=${2:-build/linux}/lv2/Release
uri=https://fernwood.audio/plugins/emberpress
limit_s=60
drawn_colours=1000 # the drawn page has thousands; the empty view and a menu bar, few

fail() {
    echo "editor-in-host: $*" >&2
    exit 1
}

for tool in Xvfb jackd jack_wait jalv.gtk3 xdotool import identify; do
    command -v "$tool" >/dev/null || fail "$tool is missing (tools/setup-deps.sh lv2 editor)"
done
[ -f "$bundles/fernwood-emberpress.lv2/fernwood-emberpress-ui.so" ] ||
    fail "the LV2 bundle with its editor is not built ($bundles)"

scratch=$(mktemp -d)
xvfb="" jack="" host=""
stop() {
    for pid in $host $jack $xvfb; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap stop EXIT

# The server picks a free display and writes its number when it takes connections.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb=$!
i=0
until [ -s "$scratch/display" ]; do
    i=$((i + 1))
    [ $i -le 100 ] || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
    sleep 0.1
done
DISPLAY=:$(head -n1 "$scratch/display")
export DISPLAY

server=emberpress-demo-$$
jackd --no-realtime -n "$server" -d dummy -r 48000 -p 256 >"$scratch/jackd.log" 2>&1 &
jack=$!
jack_wait -s "$server" -w -t 20 >"$scratch/jack_wait.log" 2>&1 ||
    fail "the JACK server did not start: $(cat "$scratch/jackd.log" "$scratch/jack_wait.log")"

JACK_DEFAULT_SERVER=$server LV2_PATH=$PWD/$bundles jalv.gtk3 "$uri" >"$scratch/jalv.log" 2>&1 &
host=$!

# Screenshots of jalv's window until the page is drawn in it.
start=$(date +%s)
while :; do
    kill -0 "$host" 2>/dev/null || fail "jalv.gtk3 ended: $(cat "$scratch/jalv.log")"
    window=$(xdotool search --onlyvisible --pid "$host" 2>/dev/null | head -n1 || true)
    if [ -n "$window" ] && import -window "$window" "$scratch/shot.png" 2>/dev/null; then
        colours=$(identify -format '%k' "$scratch/shot.png")
        if [ "$colours" -gt "$drawn_colours" ]; then
            sleep 1 # the page's last paint
            mkdir -p "$(dirname "$shot")"
            import -window "$window" "$shot" || fail "import could not take the screenshot"
            exit 0
        fi
    fi
    [ $(($(date +%s) - start)) -lt $limit_s ] ||
        fail "no drawn editor in jalv.gtk3 within $limit_s s: $(cat "$scratch/jalv.log")"
    sleep 0.5
done
