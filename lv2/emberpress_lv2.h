// What the rest of the build knows of the LV2 plug-in: its URI, the key of its one state
// property, and its ports as the bundle's data (emberpress.ttl) declares them.
#pragma once

#include <cstdint>

#include "engine/params.h"

#define EMBERPRESS_URI "https://fernwood.audio/plugins/emberpress"
#define EMBERPRESS_STATE_KEY EMBERPRESS_URI "#state_data"

enum PortIndex : uint32_t {
    PORT_INPUT = 0,
    PORT_OUTPUT = 1,
    PORT_DRIVE = 2,
    PORT_TONE = 3,
    PORT_HEAT = 4,
    PORT_MIX = 5,
    PORT_VOLUME = 6,
    PORT_ENABLED = 7,
    PORT_COUNT = 8,
};

// Parameter index i sits on control port i + 2. The last one is the enable port,
// which carries the inverse of bypass (1 = processing).
constexpr uint32_t kFirstControlPort = PORT_DRIVE;
constexpr const char* kControlPortSymbols[kParamCount] = {"drive", "tone",   "heat",
                                                          "mix",   "volume", "enabled"};
