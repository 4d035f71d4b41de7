// Factory presets: named starting points, each a full set of the six plain values.
// This table is the only place they are written down. When the plug-ins are built,
// emberpress-presets (tools/presets) turns it into the LV2 preset data, one VST3
// preset file per row and the editor page's presets.js.
//
// The values were chosen by measurement on the demo phrase (emberpress-demo phrase):
// every preset changes the phrase's RMS level by its level_db to within 1 dB, so that
// presets compare fairly by ear; `emberpress-demo presets` measures them again and
// writes the table in the README.
#pragma once

#include "engine/params.h"

struct Preset {
    const char* name;          // what hosts and the editor show; also the VST3 preset's file name
    const char* symbol;        // the last part of the LV2 preset's URI
    float values[kParamCount]; // plain values in parameter order; bypass always 0
    // The intended change of RMS level on the demo phrase, in dB: 0 for the
    // level-matched presets; the others say theirs in their name, except "Default",
    // whose values are the parameter defaults a fresh instance starts with.
    float level_db;
};

constexpr Preset kPresets[] = {
    {"Default", "default", {50, 50, 50, 100, 100, 0}, 6},
    {"Clean Boost +6 dB", "clean-boost", {0, 50, 50, 0, 72, 0}, 6},
    {"Edge of Breakup", "edge-of-breakup", {15, 60, 30, 70, 65, 0}, 0},
    {"Light Crunch", "light-crunch", {30, 55, 40, 85, 73, 0}, 0},
    {"Crunch", "crunch", {60, 65, 35, 92, 70, 0}, 0},
    {"Heavy Crunch", "heavy-crunch", {75, 55, 65, 100, 74, 0}, 0},
    {"Dark Lead", "dark-lead", {85, 10, 90, 100, 90, 0}, 0},
    {"Bright Lead", "bright-lead", {90, 90, 25, 100, 62, 0}, 0},
    {"Full Saturation", "full-saturation", {100, 50, 100, 100, 76, 0}, 0},
    {"Bass Drive", "bass-drive", {35, 35, 40, 60, 64, 0}, 0},
};

constexpr int kPresetCount = int(sizeof kPresets / sizeof kPresets[0]);

// --- What every row must satisfy, checked when this header is compiled ---------------

namespace preset_rules {

constexpr bool text_made_of(const char* s, bool (*allowed)(char)) {
    if (!*s) return false;
    for (; *s; ++s)
        if (!allowed(*s)) return false;
    return true;
}
// Names become file names on every platform: letters, digits, spaces, '+' and '-'.
constexpr bool name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '+' || c == '-';
}
constexpr bool symbol_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}
constexpr bool same_text(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr bool row_ok(const Preset& p) {
    if (!text_made_of(p.name, name_char) || !text_made_of(p.symbol, symbol_char)) return false;
    for (int i = 0; i < kParamCount; ++i)
        if (!(p.values[i] >= kParams[i].min && p.values[i] <= kParams[i].max)) return false;
    return p.values[PARAM_BYPASS] == 0;
}

constexpr bool all_ok() {
    bool has_defaults = false;
    for (int a = 0; a < kPresetCount; ++a) {
        if (!row_ok(kPresets[a])) return false;
        bool defaults = true;
        for (int i = 0; i < kParamCount; ++i)
            defaults = defaults && kPresets[a].values[i] == kParamDefaults[i];
        has_defaults = has_defaults || defaults;
        for (int b = a + 1; b < kPresetCount; ++b) {
            bool same_values = true;
            for (int i = 0; i < kParamCount; ++i)
                same_values = same_values && kPresets[a].values[i] == kPresets[b].values[i];
            if (same_values || same_text(kPresets[a].name, kPresets[b].name) ||
                same_text(kPresets[a].symbol, kPresets[b].symbol))
                return false;
        }
    }
    return has_defaults;
}

} // namespace preset_rules

static_assert(kPresetCount >= 8 && kPresetCount <= 12);
static_assert(preset_rules::all_ok(),
              "each preset: a file-safe name, a symbol of a-z 0-9 '-', values in range, bypass "
              "0; names, symbols and values all different; one preset holds the defaults");
