#!/bin/sh
# Runs the built bundle in a real VST3 host: Ardour's plug-in scanner indexes it, then
# Ardour's headless Lua session tool puts it on a mono track, sets drive and volume
# while the (dummy) audio engine runs, saves the session, loads it again and reads the
# values back, which have then gone through process, getState, setState and the
# controller's setComponentState.
#   real_host_session.sh BUNDLE
set -eu
bundle=$1
scanner=$(ls /usr/lib/ardour*/ardour-vst3-scanner | head -1)
lua=$(ls /usr/bin/ardour*-lua | head -1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME/.vst3"
cp -R "$bundle" "$HOME/.vst3/"
# The host trusts its scan cache only when it is newer than the module, to the second.
find "$HOME/.vst3" -exec touch -d '-1 minute' {} +

LD_LIBRARY_PATH=$(dirname "$scanner") "$scanner" -f -q "$HOME/.vst3/$(basename "$bundle")"

cat >"$work/save.lua" <<LUA
AudioEngine:set_backend("None (Dummy)", "", "")
AudioEngine:start(false)
-- Listing the plug-ins before the session exists makes the host read its scan cache.
for info in ARDOUR.LuaAPI.list_plugins():iter() do
  if info.type == ARDOUR.PluginType.VST3 then print("found", info.name, info.unique_id) end
end
local s = create_session("$work/session", "session", 48000)
assert(s, "no session")
local t = s:new_audio_track(1, 1, nil, 1, "t", ARDOUR.PresentationInfo.max_order,
                            ARDOUR.TrackMode.Normal, true)
local p = ARDOUR.LuaAPI.new_plugin(s, "Emberpress", ARDOUR.PluginType.VST3, "")
assert(not p:isnil(), "the host did not find the plug-in")
assert(t:front():add_processor_by_index(p, 0, nil, true) == 0, "cannot insert the plug-in")
print("parameters", p:to_insert():plugin(0):parameter_count())
ARDOUR.LuaAPI.set_processor_param(p, 0, 80)
ARDOUR.LuaAPI.set_processor_param(p, 4, 150)
ARDOUR.LuaAPI.usleep(300000)
s:save_state("", false, false, false, false, false)
print("saved")
close_session()
LUA

cat >"$work/load.lua" <<LUA
AudioEngine:set_backend("None (Dummy)", "", "")
AudioEngine:start(false)
local s = load_session("$work/session", "session")
assert(s, "cannot load the session")
ARDOUR.LuaAPI.usleep(300000)
for r in s:get_routes():iter() do
  local p = r:nth_plugin(0)
  if not p:isnil() then
    for i = 0, 5 do print("restored", i, ARDOUR.LuaAPI.get_processor_param(p, i, true)) end
  end
end
close_session()
LUA

out=$(timeout 120 "$lua" "$work/save.lua" 2>&1) || { echo "$out"; exit 1; }
echo "$out" | grep "^found"
echo "$out" | grep -qE "^parameters[[:space:]]+6$" || { echo "$out"; echo "want 6 parameters"; exit 1; }
echo "$out" | grep -q "^saved" || { echo "$out"; exit 1; }
# The session holds the plug-in's own saved state, with the values set above.
python3 - "$work/session/session.ardour" <<'PY' || exit 1
import base64, re, struct, sys
chunk = re.search(r"<chunk>([^<]*)</chunk>", open(sys.argv[1]).read())
state = base64.b64decode(chunk.group(1)) if chunk else b""
for key, value in ((b"drive", 80.0), (b"volume", 150.0)):
    if key + struct.pack("<f", value) not in state:
        sys.exit("the saved session lacks %s = %g in the plug-in's state" % (key.decode(), value))
PY
out=$(timeout 120 "$lua" "$work/load.lua" 2>&1) || { echo "$out"; exit 1; }
echo "$out" | grep "^restored"
for want in "0 80.0" "1 50.0" "2 50.0" "3 100.0" "4 150.0" "5 0.0"; do
    pattern="^restored[[:space:]]+${want% *}[[:space:]]+${want#* }([[:space:]]|$)"
    echo "$out" | grep -qE "$pattern" || { echo "$out"; echo "missing: $want"; exit 1; }
done
echo "ok"
