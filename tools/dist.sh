#!/bin/bash
# Writes the release folders and their archives, then checks them:
#   OUT/emberpress-VERSION-windows-x64/      and .zip     the Windows x64 VST3 and LV2 bundles
#   OUT/emberpress-VERSION-linux-x86_64/     and .tar.gz  the native Linux ones
# each with INSTALL.txt and SHA256SUMS (of every file in it), and OUT/SHA256SUMS of
# the two archives. Everything in them is built here; nothing else is added, and the
# factory presets are the .vstpreset files the build generates from the preset table.
#   tools/dist.sh [OUT]        OUT defaults to out/dist
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-out/dist}

fail() {
    echo "dist: $*" >&2
    exit 1
}

groups="build windows lv2 editor bench"
# shellcheck disable=SC2086
tools/setup-deps.sh $groups || fail "installing the packages failed (tools/setup-deps.sh $groups)"
for tree in windows linux; do
    tools/build.sh "$tree" emberpress_vst3 emberpress_vst3_presets emberpress_lv2 ||
        fail "building the $tree plug-ins failed (tools/build.sh $tree emberpress_vst3 emberpress_vst3_presets emberpress_lv2)"
done

version=$(sed -n 's/^project(Emberpress VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
windows_name=emberpress-$version-windows-x64
linux_name=emberpress-$version-linux-x86_64
mkdir -p "$out"
rm -rf "${out:?}/$windows_name" "${out:?}/$windows_name.zip" "${out:?}/$linux_name" \
    "${out:?}/$linux_name.tar.gz"

# The bundles exactly as the build made them, and the factory presets.
copy_release() { # TREE RELEASE_FOLDER PRESET_FOLDER
    local tree=$1 release=$2 preset_folder=$3
    mkdir -p "$release"
    for bundle in vst3/Release/fernwood-emberpress.vst3 lv2/Release/fernwood-emberpress.lv2; do
        [ -d "build/$tree/$bundle" ] || fail "build/$tree/$bundle is missing"
        cp -R "build/$tree/$bundle" "$release/"
    done
    local presets=build/$tree/vst3/Release/presets/Fernwood/Emberpress
    compgen -G "$presets/*.vstpreset" >/dev/null || fail "$presets holds no factory presets"
    mkdir -p "$release/$preset_folder"
    cp "$presets"/*.vstpreset "$release/$preset_folder/"
}

checksums() { # RELEASE_FOLDER
    local sums
    sums=$(cd "$1" && find . -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0 sha256sum)
    printf '%s\n' "$sums" >"$1/SHA256SUMS"
}

windows=$out/$windows_name
copy_release windows "$windows" "VST3 Presets/Fernwood/Emberpress"
{
    cat <<EOF
Emberpress $version for Windows (64-bit), by Fernwood: a mono overdrive.

VST3
  Copy the folder fernwood-emberpress.vst3 as a whole into the common VST3 folder,
    C:\\Program Files\\Common Files\\VST3\\
  (the module is in Contents\\x86_64-win, the editor page in Contents\\Resources).

LV2
  Copy the folder fernwood-emberpress.lv2 as a whole into your own LV2 folder,
    %APPDATA%\\LV2\\
  or, for every user of the computer, into the common LV2 folder,
    C:\\Program Files\\Common Files\\LV2\\
EOF
    if [ -d "$windows/VST3 Presets" ]; then
        cat <<'EOF'

Presets
  Copy the folder "VST3 Presets\Fernwood" into your own preset folder,
    %USERPROFILE%\Documents\VST3 Presets\
  or, for every user of the computer, into
    C:\ProgramData\VST3 Presets\
EOF
    fi
    cat <<'EOF'

The editor
  The editor is a web page shown by the Microsoft Edge WebView2 Runtime, which
  Windows 11 and most Windows 10 computers already have. The plug-in finds the
  runtime itself: nothing else needs installing beside it. Without the runtime, or
  when it fails to start, the editor shows a short note and a button to the
  runtime's download page,
    https://developer.microsoft.com/microsoft-edge/webview2/
  and the plug-in keeps working: the host's own controls still set its parameters.
  Once the runtime is installed, the editor opens with it the next time.

SHA256SUMS holds the SHA-256 of every file here
  (certutil -hashfile FILE SHA256, or sha256sum -c SHA256SUMS).
EOF
} | sed 's/$/\r/' >"$windows/INSTALL.txt"
checksums "$windows"

linux=$out/$linux_name
copy_release linux "$linux" "vst3-presets/Fernwood/Emberpress"
{
    cat <<EOF
Emberpress $version for Linux (x86-64), by Fernwood: a mono overdrive.

VST3
  Copy the folder fernwood-emberpress.vst3 as a whole into ~/.vst3/
  (or, for every user, /usr/local/lib/vst3/).

LV2
  Copy the folder fernwood-emberpress.lv2 as a whole into ~/.lv2/
  (or, for every user, /usr/local/lib/lv2/).
EOF
    if [ -d "$linux/vst3-presets" ]; then
        cat <<'EOF'

Presets
  Copy the folder vst3-presets/Fernwood into ~/.vst3/presets/.
EOF
    fi
    cat <<'EOF'

The editor
  Both plug-ins show their editor, a web page, inside the host's window (X11). The
  page runs in the program emberpress-editor beside the plug-in, which needs GTK 3
  and WebKitGTK 4.1 (Debian and Ubuntu: sudo apt install libwebkit2gtk-4.1-0).
  Without them the editor does not open: one line on standard error names what is
  missing, the host shows its own controls for the six parameters, and the plug-in
  works as before.

SHA256SUMS holds the SHA-256 of every file here (sha256sum -c SHA256SUMS).
EOF
} >"$linux/INSTALL.txt"
checksums "$linux"

(cd "$out" && cmake -E tar cf "$windows_name.zip" --format=zip "$windows_name")
(cd "$out" && tar --sort=name --owner=0 --group=0 -czf "$linux_name.tar.gz" "$linux_name")
(cd "$out" && sha256sum "$windows_name.zip" "$linux_name.tar.gz" >SHA256SUMS)

tests/check_dist.sh "$out" "$version" || fail "the release archives failed their check"
echo "dist: $out/$windows_name.zip"
echo "dist: $out/$linux_name.tar.gz"
