#!/bin/bash
# Checks the release archives tools/dist.sh wrote: each lists exactly the files a
# release holds (and the factory presets the build made), every bundle file is the one
# the build made, the checksums hold, and the archived modules still export only
# their entry points and import only system DLLs.
#   check_dist.sh OUT VERSION
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(cd "$1" && pwd)
version=$2
windows_name=emberpress-$version-windows-x64
linux_name=emberpress-$version-linux-x86_64
status=0

problem() {
    echo "check_dist: $*" >&2
    status=1
}

page="editor.css editor.js index.html news.js presets.js protocol.js"

# The release's files, one a line, sorted: TREE NAME
expected() {
    local tree=$1 name=$2 preset_folder vst3_arch lv2_data vst3_binaries
    if [ "$tree" = windows ]; then
        preset_folder="VST3 Presets/Fernwood/Emberpress" vst3_arch=x86_64-win
        lv2_data="emberpress.ttl emberpress_ui.ttl fernwood-emberpress.dll manifest.ttl presets.ttl"
        vst3_binaries="fernwood-emberpress.vst3"
    else
        # The Linux editor's browser runs in its own program beside each module; the
        # LV2 editor is a UI binary of its own beside the plug-in's.
        preset_folder="vst3-presets/Fernwood/Emberpress" vst3_arch=x86_64-linux
        lv2_data="emberpress-editor emberpress.ttl emberpress_ui.ttl fernwood-emberpress-ui.so
            fernwood-emberpress.so manifest.ttl presets.ttl"
        vst3_binaries="emberpress-editor fernwood-emberpress.so"
    fi
    {
        echo "$name/INSTALL.txt"
        echo "$name/SHA256SUMS"
        for f in $vst3_binaries; do echo "$name/fernwood-emberpress.vst3/Contents/$vst3_arch/$f"; done
        for f in $page; do echo "$name/fernwood-emberpress.vst3/Contents/Resources/$f"; done
        for f in $lv2_data $page; do echo "$name/fernwood-emberpress.lv2/$f"; done
        for f in "$root/build/$tree/vst3/Release/presets/Fernwood/Emberpress/"*.vstpreset; do
            echo "$name/$preset_folder/$(basename "$f")"
        done
    } | LC_ALL=C sort
}

# The files an archive lists (folders left out), sorted.
listed() {
    case "$1" in
    *.zip) python3 -c 'import sys, zipfile
for n in zipfile.ZipFile(sys.argv[1]).namelist():
    n.endswith("/") or print(n)' "$1" ;;
    *.tar.gz) tar -tzf "$1" | grep -v '/$' ;;
    esac | LC_ALL=C sort
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for tree in windows linux; do
    if [ "$tree" = windows ]; then name=$windows_name archive=$windows_name.zip; else
        name=$linux_name archive=$linux_name.tar.gz
    fi
    [ -f "$out/$archive" ] || { problem "$archive is missing"; continue; }
    if ! diff -u <(expected "$tree" "$name") <(listed "$out/$archive") >"$scratch/diff"; then
        problem "$archive does not hold exactly the release's files (- missing, + extra):"
        cat "$scratch/diff" >&2
    fi

    mkdir -p "$scratch/$tree"
    cmake -E chdir "$scratch/$tree" cmake -E tar xf "$out/$archive"
    release=$scratch/$tree/$name
    (cd "$release" && sha256sum --quiet -c SHA256SUMS) || problem "$archive: SHA256SUMS does not hold"
    for bundle in vst3/Release/fernwood-emberpress.vst3 lv2/Release/fernwood-emberpress.lv2; do
        built=$root/build/$tree/$bundle
        (cd "$release/$(basename "$bundle")" && find . -type f -printf '%P\n') | while read -r f; do
            cmp -s "$release/$(basename "$bundle")/$f" "$built/$f" ||
                echo "$archive: $(basename "$bundle")/$f is not the file the build made"
        done >"$scratch/differs"
        [ -s "$scratch/differs" ] && problem "$(cat "$scratch/differs")"
    done

    vst3=$release/fernwood-emberpress.vst3/Contents
    if [ "$tree" = windows ]; then
        "$root/tests/check_exports.sh" win32 "$vst3/x86_64-win/fernwood-emberpress.vst3" \
            GetPluginFactory || problem "$archive: the VST3 module's exports or imports"
        "$root/tests/check_exports.sh" win32 "$release/fernwood-emberpress.lv2/fernwood-emberpress.dll" \
            lv2_descriptor lv2ui_descriptor || problem "$archive: the LV2 module's exports or imports"
    else
        "$root/tests/check_exports.sh" posix "$vst3/x86_64-linux/fernwood-emberpress.so" \
            GetPluginFactory ModuleEntry ModuleExit || problem "$archive: the VST3 module's exports"
        "$root/tests/check_exports.sh" posix "$release/fernwood-emberpress.lv2/fernwood-emberpress.so" \
            lv2_descriptor || problem "$archive: the LV2 module's exports"
        "$root/tests/check_exports.sh" posix "$release/fernwood-emberpress.lv2/fernwood-emberpress-ui.so" \
            lv2ui_descriptor || problem "$archive: the LV2 UI module's exports"
    fi
done

(cd "$out" && sha256sum --quiet -c SHA256SUMS) || problem "SHA256SUMS of the archives does not hold"
[ "$status" -eq 0 ] && echo "check_dist: both archives hold exactly the release's files; modules checked"
exit "$status"
