#!/bin/sh
# Installs the native plug-in bundles and the VST3 factory presets for the current
# user, or removes them again.
#   tools/install.sh install | uninstall
# The VST3 presets go where VST3 hosts look for a plug-in's presets. That folder also
# holds the presets users save themselves: only the factory files, by name, are
# written or removed there.
set -e
cd "$(dirname "$0")/.."
lv2_bundle=build/linux/lv2/Release/fernwood-emberpress.lv2
vst3_bundle=build/linux/vst3/Release/fernwood-emberpress.vst3
vst3_presets=build/linux/vst3/Release/presets/Fernwood/Emberpress
lv2_dir="$HOME/.lv2"
vst3_dir="$HOME/.vst3"
preset_dir="$vst3_dir/presets/Fernwood/Emberpress"

case "$1" in
install)
    for pair in "$lv2_bundle:$lv2_dir" "$vst3_bundle:$vst3_dir"; do
        src=${pair%%:*} dest=${pair#*:}
        if [ -d "$src" ]; then
            mkdir -p "$dest"
            rm -rf "$dest/$(basename "$src")"
            cp -R "$src" "$dest/"
            echo "installed $dest/$(basename "$src")"
        fi
    done
    if [ -d "$vst3_presets" ]; then
        mkdir -p "$preset_dir"
        cp "$vst3_presets"/*.vstpreset "$preset_dir/"
        echo "installed the VST3 presets in $preset_dir"
    fi
    ;;
uninstall)
    for path in "$lv2_dir/$(basename "$lv2_bundle")" "$vst3_dir/$(basename "$vst3_bundle")"; do
        if [ -d "$path" ]; then
            rm -rf "$path"
            echo "removed $path"
        fi
    done
    if [ -d "$vst3_presets" ] && [ -d "$preset_dir" ]; then
        for preset in "$vst3_presets"/*.vstpreset; do
            rm -f "$preset_dir/$(basename "$preset")"
        done
        echo "removed the VST3 factory presets from $preset_dir"
        # The folders go too once nothing else is in them.
        for dir in "$preset_dir" "$(dirname "$preset_dir")"; do
            if [ -z "$(ls -A "$dir")" ]; then rmdir "$dir"; fi
        done
    elif [ -d "$preset_dir" ]; then
        echo "left $preset_dir as it is: without the build's preset folder" \
            "($vst3_presets) the factory presets cannot be told from your own" >&2
    fi
    ;;
*)
    echo "usage: tools/install.sh install|uninstall" >&2
    exit 2
    ;;
esac
