// A test-only extension of the probe builds of the plug-in (EMBER_LV2_PROBE): it lets
// the tests take the instance's parameter lock as a state call would, and counts the
// calls into engine_set_param (the module is linked with --wrap for that).
#pragma once

#include <cstdint>

#include <lv2/core/lv2.h>

struct ParamHandover;

#define EMBERPRESS_PROBE_URI "urn:emberpress:test:probe"

struct EmberpressProbe {
    ParamHandover* (*handover)(LV2_Handle instance);
    uint64_t (*engine_set_param_calls)(); // since the module was loaded
};

uint64_t probe_engine_set_param_calls();
