// The six parameters of the effect: one table for every layer (engine, VST3, LV2,
// saved state, editor page). A parameter is addressed by its row number everywhere.
#pragma once

#include <cstdint>

constexpr int kParamCount = 6;

enum ParamIndex : int {
    PARAM_DRIVE = 0,
    PARAM_TONE = 1,
    PARAM_HEAT = 2,
    PARAM_MIX = 3,
    PARAM_VOLUME = 4,
    PARAM_BYPASS = 5,
};

struct ParamInfo {
    // As the engine side keeps a row.
    uint64_t index;       // engine parameter index; equals the row number
    double min, max, def; // plain units
    int64_t toggled;      // 1 for bypass: host values round to 0 or 1
    // What the other layers show and store.
    const char* key;   // state key
    uint32_t vst3_id;  // fixed VST3 parameter identifier
    const char* title; // title and short title
    const char* units;
    int32_t step_count;
    int32_t vst3_flags; // kCanAutomate (1), kIsBypass (0x10000)
    double default_normalized;
};

constexpr ParamInfo kParams[kParamCount] = {
    {0, 0, 100, 50, 0, "drive", 0x74888ACAu, "Drive", "%", 0, 0x1, 0.5},
    {1, 0, 100, 50, 0, "tone", 0x4C2D6AF2u, "Tone", "%", 0, 0x1, 0.5},
    {2, 0, 100, 50, 0, "heat", 0x18E203D0u, "Heat", "%", 0, 0x1, 0.5},
    {3, 0, 100, 100, 0, "mix", 0x3615B43Cu, "Mix", "%", 0, 0x1, 1.0},
    {4, 0, 200, 100, 0, "volume", 0x06DC463Au, "Volume", "%", 0, 0x1, 0.5},
    {5, 0, 1, 0, 1, "bypass", 0x08FC0058u, "Bypass", "", 1, 0x10001, 0.0},
};

// A parameter's position maps to its row through this identity table.
constexpr int kParamOrder[kParamCount] = {0, 1, 2, 3, 4, 5};

constexpr float kParamDefaults[kParamCount] = {50, 50, 50, 100, 100, 0};

// Normalized (0..1) to plain, unclamped, in double precision.
constexpr double param_to_plain(int index, double normalized) {
    const ParamInfo& p = kParams[index];
    return p.min + (p.max - p.min) * normalized;
}

// Plain to normalized, unclamped, in double precision.
constexpr double param_to_normalized(int index, double plain) {
    const ParamInfo& p = kParams[index];
    return (plain - p.min) / (p.max - p.min);
}

// A plain value about to be stored: the toggle rounds to 0 or 1 (at 0.5), then the
// value is clamped to the range. A NaN passes through (callers refuse it first).
constexpr double param_store_plain(int index, double plain) {
    const ParamInfo& p = kParams[index];
    if (p.toggled) plain = plain >= 0.5 ? 1.0 : 0.0;
    if (plain < p.min) plain = p.min;
    if (plain > p.max) plain = p.max;
    return plain;
}

// The row whose VST3 identifier is id, or -1.
constexpr int param_index_from_vst3_id(uint32_t id) {
    for (int i = 0; i < kParamCount; ++i)
        if (kParams[i].vst3_id == id) return i;
    return -1;
}
