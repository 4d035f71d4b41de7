// The plug-in's own entries in a saved state, written and checked the same way by
// the VST3 and the LV2 layer so that state moves between the two.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/params.h"

constexpr char kPluginStateId[] = "fernwood-emberpress";

// The platform this build writes into "platform": "windows" or "linux".
extern const char kPluginPlatform[];

// Builds the state bytes: info "id", the four version numbers 1.2.1.1, "format"
// (for example "vst3" or "lv2"), "platform", "sample_rate", and the six parameter
// values. Returns a heap buffer (release with free) or null.
uint8_t* plugin_state_save(const float values[kParamCount], const char* format,
                           const char* platform, float sample_rate, size_t* out_len);

// Reads state bytes: the archive must load, "id" must be this plug-in's, and each
// of the six parameters must be present, 4 bytes long and not a NaN. Writes the six
// stored values (unclamped) and returns 0; returns -1 and writes nothing otherwise.
int plugin_state_load(const void* bytes, size_t len, float values[kParamCount]);
