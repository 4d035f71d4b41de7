#!/bin/sh
# The factory presets as a user gets them: `tools/install.sh install` (what `make
# install` runs) into a private home folder; lv2info lists the LV2 presets of the
# installed bundle; Ardour's headless Lua session tool lists the LV2 and the VST3
# presets and loads every one of them into the plug-in, whose six values must then be
# the preset's; `tools/install.sh uninstall` removes the factory files and keeps a
# preset of the user's own in the same folder.
#   installed_presets.sh SOURCE_DIR PRESETS_TOOL
set -eu
source_dir=$1
presets_tool=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
mkdir -p "$HOME"
uri=https://fernwood.audio/plugins/emberpress
preset_dir="$HOME/.vst3/presets/Fernwood/Emberpress"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$source_dir/tools/install.sh" install
# symbol drive tone heat mix volume bypass name
"$presets_tool" list >"$work/presets"

info=$(LV2_PATH="$HOME/.lv2" lv2info "$uri")
while read -r _ _ _ _ _ _ _ name; do
    echo "$info" | grep -qxF "	         $name" || fail "lv2info does not list '$name'"
    [ -f "$preset_dir/$name.vstpreset" ] || fail "$name.vstpreset is not installed"
done <"$work/presets"
echo "lv2info lists the $(wc -l <"$work/presets") presets of the installed bundle"

lua=$(ls /usr/bin/ardour*-lua 2>/dev/null | head -1)
if [ -n "$lua" ]; then
    scanner=$(ls /usr/lib/ardour*/ardour-vst3-scanner | head -1)
    # The host trusts its scan cache only when it is newer than the module.
    find "$HOME/.vst3" -exec touch -d '-1 minute' {} +
    LD_LIBRARY_PATH=$(dirname "$scanner") "$scanner" -f -q "$HOME/.vst3/fernwood-emberpress.vst3"

    {
        echo 'AudioEngine:set_backend("None (Dummy)", "", "")'
        echo 'AudioEngine:start(false)'
        echo 'for info in ARDOUR.LuaAPI.list_plugins():iter() do'
        echo '  if info.name == "Emberpress" then'
        echo '    for p in info:get_presets(false):iter() do print("listed", info.type, p.label) end'
        echo '  end'
        echo 'end'
        echo "local s = create_session(\"$work/session\", \"session\", 48000)"
        echo 'assert(s, "no session")'
        echo 'local names = {'
        while read -r _ _ _ _ _ _ _ name; do echo "  \"$name\","; done <"$work/presets"
        echo '}'
        echo 'for _, kind in ipairs({{ARDOUR.PluginType.LV2, "LV2"}, {ARDOUR.PluginType.VST3, "VST3"}}) do'
        echo '  local t = s:new_audio_track(1, 1, nil, 1, kind[2], ARDOUR.PresentationInfo.max_order,'
        echo '                              ARDOUR.TrackMode.Normal, true):front()'
        echo '  local p = ARDOUR.LuaAPI.new_plugin(s, "Emberpress", kind[1], "")'
        echo '  assert(not p:isnil(), "the host did not find the plug-in")'
        echo '  assert(t:add_processor_by_index(p, 0, nil, true) == 0)'
        echo '  local plugin = p:to_insert():plugin(0)'
        echo '  for _, name in ipairs(names) do'
        echo '    local preset = plugin:preset_by_label(name)'
        echo '    assert(preset and preset.valid, "no preset " .. name)'
        echo '    assert(plugin:load_preset(preset), "cannot load " .. name)'
        echo '    ARDOUR.LuaAPI.usleep(100000)'
        echo '    local v = {}'
        echo '    for i = 0, 5 do v[#v + 1] = string.format("%g", ARDOUR.LuaAPI.get_processor_param(p, i, true)) end'
        echo '    print("loaded " .. kind[2] .. " " .. plugin:last_preset().label .. " " .. table.concat(v, " "))'
        echo '  end'
        echo 'end'
        echo 'close_session()'
    } >"$work/presets.lua"
    out=$(timeout 240 "$lua" "$work/presets.lua" 2>&1) || { echo "$out"; fail "the Lua session failed"; }
    while read -r _ drive tone heat mix volume bypass name; do
        for kind in LV2 VST3; do
            # Ardour shows the enable port of the LV2 plug-in, the bypass parameter of
            # the VST3 one.
            if [ "$kind" = LV2 ]; then last=$([ "$bypass" = 0.0 ] && echo 1 || echo 0); else last=${bypass%.0}; fi
            want="loaded $kind $name $(printf '%g %g %g %g %g' "$drive" "$tone" "$heat" "$mix" "$volume") $last"
            echo "$out" | grep -qxF "$want" || { echo "$out"; fail "not loaded as: $want"; }
        done
    done <"$work/presets"
    listed=$(echo "$out" | grep -c "^listed")
    [ "$listed" -eq $((2 * $(wc -l <"$work/presets"))) ] || { echo "$out"; fail "Ardour lists $listed presets"; }
    # The LV2 presets carry the plug-in's state property: restoring them is quiet.
    if echo "$out" | grep -q "Cannot restore state"; then echo "$out"; fail "a restore complained"; fi
    echo "Ardour lists and loads every LV2 and VST3 preset"
else
    echo "(Ardour's Lua session tool is not installed: presets not loaded in Ardour)"
fi

echo "my own" >"$preset_dir/Mine.vstpreset"
"$source_dir/tools/install.sh" uninstall
[ -f "$preset_dir/Mine.vstpreset" ] || fail "uninstall removed the user's own preset"
[ "$(ls "$preset_dir")" = Mine.vstpreset ] || fail "factory presets left: $(ls "$preset_dir")"
[ ! -e "$HOME/.lv2/fernwood-emberpress.lv2" ] || fail "the LV2 bundle is still installed"
rm "$preset_dir/Mine.vstpreset"
"$source_dir/tools/install.sh" uninstall
[ ! -e "$HOME/.vst3/presets/Fernwood" ] || fail "empty preset folders left behind"
echo "ok"
