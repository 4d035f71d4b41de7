#!/bin/sh
# Installs the native plug-in bundles for the current user, or removes them again.
#   tools/install.sh install | uninstall
set -e
cd "$(dirname "$0")/.."
lv2_bundle=build/linux/lv2/Release/fernwood-emberpress.lv2
vst3_bundle=build/linux/vst3/Release/fernwood-emberpress.vst3
lv2_dir="$HOME/.lv2"
vst3_dir="$HOME/.vst3"

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
    ;;
uninstall)
    for path in "$lv2_dir/$(basename "$lv2_bundle")" "$vst3_dir/$(basename "$vst3_bundle")"; do
        if [ -d "$path" ]; then
            rm -rf "$path"
            echo "removed $path"
        fi
    done
    ;;
*)
    echo "usage: tools/install.sh install|uninstall" >&2
    exit 2
    ;;
esac
