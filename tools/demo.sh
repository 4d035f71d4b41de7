#!/bin/sh
# make demo: synthesises a guitar-like phrase, renders it through each factory preset
# with emberpress-render (printing each render's level change, crest factor and
# spectral centroid), plots the engine's transfer curves and a spectrum, renders the
# phrase through the LV2 plug-in in a real host (lv2apply) and checks that both agree
# sample for sample; last, it takes screenshots of the editor page, on its own and
# inside a real host (jalv.gtk3). Any of these that cannot be done fails the demo,
# after the files that were made are listed.
# Usage: tools/demo.sh [BUILD_DIR]   (default build/linux, built by `make demo`)
set -e
cd "$(dirname "$0")/.."
build=${1:-build/linux}
render=$build/tools/render/Release/emberpress-render
demo=$build/tools/demo/Release/emberpress-demo
preset_tool=$build/tools/presets/Release/emberpress-presets
bundles=$build/lv2/Release
uri=https://fernwood.audio/plugins/emberpress
out=out/demo

for tool in "$render" "$demo" "$preset_tool"; do
    [ -x "$tool" ] || { echo "demo: $tool is missing; build first (make demo)" >&2; exit 1; }
done
mkdir -p "$out"
rm -f "$out"/*.wav "$out"/*.svg

# The factory presets: symbol drive tone heat mix volume bypass name (bypass is 0).
presets=$("$preset_tool" list)

"$demo" phrase "$out/phrase.wav"
echo "$presets" | while read -r name drive tone heat mix volume _ title; do
    "$render" "$out/phrase.wav" "$out/$name.wav" --drive "$drive" --tone "$tone" \
        --heat "$heat" --mix "$mix" --volume "$volume"
    printf '%-18s ' "$title:"
    "$demo" measure "$out/phrase.wav" "$out/$name.wav"
done
"$demo" plot "$out/curves.svg"

# What could not be done, one line each; reported after the list of files.
problems=$(mktemp)
log=$(mktemp)
trap 'rm -f "$log" "$problems"' EXIT

# The same renders through the LV2 plug-in, hosted by lv2apply.
if [ ! -f "$bundles/fernwood-emberpress.lv2/manifest.ttl" ]; then
    echo "the LV2 bundle is not built in $bundles (make demo builds it)" >>"$problems"
elif ! command -v lv2apply >/dev/null; then
    echo "lv2apply is missing (tools/setup-deps.sh lv2 installs it)" >>"$problems"
else
    echo "$presets" | while read -r name drive tone heat mix volume _; do
        # lv2apply offers the plug-in no host features and says so on stderr;
        # that is shown only when the render fails.
        if ! LV2_PATH="$PWD/$bundles" lv2apply -i "$out/phrase.wav" \
            -o "$out/$name-lv2.wav" -c drive "$drive" -c tone "$tone" -c heat "$heat" \
            -c mix "$mix" -c volume "$volume" -c enabled 1 "$uri" 2>"$log"; then
            cat "$log" >&2
            echo "lv2apply failed on $name (its errors are above)" >>"$problems"
            continue
        fi
        printf 'lv2apply and emberpress-render, %s: ' "$name"
        "$demo" compare "$out/$name.wav" "$out/$name-lv2.wav" ||
            echo "the plug-in in lv2apply disagrees with emberpress-render on $name" >>"$problems"
    done
fi

# The editor page as a musician sees it, at its design size.
rm -f "$out/editor.png"
if [ ! -d page/node_modules/playwright-core ]; then
    echo "no editor screenshot: the page's tooling is missing (tools/setup-deps.sh page installs it)" >>"$problems"
elif ! (cd page && node tests/screenshot.js "../$out/editor.png"); then
    echo "no editor screenshot: tests/screenshot.js failed (its error is above)" >>"$problems"
fi

# ---- The editor inside a real host ------------------------------------------------
# jalv.gtk3 with the LV2 bundle under a private X server (tools/editor-in-host.sh).
rm -f "$out/editor-in-host.png"
tools/editor-in-host.sh "$out/editor-in-host.png" "$build" ||
    echo "no screenshot of the editor in jalv.gtk3 (tools/editor-in-host.sh failed, its error is above)" >>"$problems"
# ------------------------------------------------------------------------------------

echo "demo files:"
for f in "$out"/*.wav "$out"/*.svg "$out"/*.png; do
    [ -f "$f" ] || continue
    echo "  $PWD/$f"
done
if [ -s "$problems" ]; then
    sed 's/^/demo: /' "$problems" >&2
    exit 1
fi
