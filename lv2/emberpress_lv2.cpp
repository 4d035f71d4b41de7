// Emberpress as an LV2 plug-in: one mono audio channel through the engine, six
// control ports for its parameters, and the saved state as one chunk property.
//
// The host's audio thread runs `run`; save and restore come from other threads and
// meet `run` only through the parameter hand-over (engine/handover.h).

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/core/lv2_util.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include "engine/denormals.h"
#include "engine/engine.h"
#include "engine/handover.h"
#include "engine/params.h"
#include "lv2/emberpress_lv2.h"
#include "state/plugin_state.h"

struct Emberpress {
    Engine engine;
    float sample_rate;

    const float* input;
    float* output;
    const float* controls[kParamCount];

    ParamHandover handover;

    LV2_Log_Logger logger;
    LV2_URID_Map* map;
    LV2_URID chunk_type;
    LV2_URID state_key;
};

// ---------------------------------------------------------------------------------
// Control ports

// A control port's value as the parameter's plain value. The enable port carries
// the inverse of bypass. A NaN or infinite value is refused (false) so that the
// parameter keeps its last good value: a NaN would pass the range clamp and stall
// the engine's smoothers until the next reset.
static bool port_to_plain(int param, float v, float* plain) {
    if (!std::isfinite(v)) return false;
    if (param == PARAM_BYPASS) {
        *plain = v > 0.0f ? 0.0f : 1.0f;
        return true;
    }
    const float lo = static_cast<float>(kParams[param].min);
    const float hi = static_cast<float>(kParams[param].max);
    *plain = v < lo ? lo : (v > hi ? hi : v);
    return true;
}

// ---------------------------------------------------------------------------------
// Lifecycle

static LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*,
                              const LV2_Feature* const* features) {
    Emberpress* self = new (std::nothrow) Emberpress();
    if (!self) return nullptr;

    LV2_Log_Log* log = nullptr;
    LV2_URID_Map* map = nullptr;
    const char* missing = lv2_features_query(features, LV2_LOG__log, (void**)&log, false,
                                             LV2_URID__map, (void**)&map, true, nullptr);
    lv2_log_logger_init(&self->logger, map, log);
    if (missing) lv2_log_error(&self->logger, "Missing feature <%s>\n", missing);

    self->map = map;
    if (map) {
        self->chunk_type = map->map(map->handle, LV2_ATOM__Chunk);
        self->state_key = map->map(map->handle, EMBERPRESS_STATE_KEY);
    }

    self->sample_rate = static_cast<float>(rate);
    engine_init(self->engine);
    engine_set_sample_rate(self->engine, self->sample_rate);

    // Save and restore may come before the first activate: start from the defaults
    // that engine_init gave the engine, with the lock free.
    handover_init(self->handover, kParamDefaults);
    return self;
}

static void connect_port(LV2_Handle instance, uint32_t port, void* data) {
    Emberpress* self = static_cast<Emberpress*>(instance);
    if (port == PORT_INPUT) {
        self->input = static_cast<const float*>(data);
    } else if (port == PORT_OUTPUT) {
        self->output = static_cast<float*>(data);
    } else if (port >= kFirstControlPort && port < PORT_COUNT) {
        self->controls[port - kFirstControlPort] = static_cast<const float*>(data);
    }
}

static void activate(LV2_Handle instance) {
    Emberpress* self = static_cast<Emberpress*>(instance);
    float values[kParamCount];
    for (int i = 0; i < kParamCount; ++i) {
        const float* port = self->controls[i];
        values[i] = kParamDefaults[i];
        // A connected port holding NaN or infinity keeps the last good value.
        if (port && !port_to_plain(i, *port, &values[i])) values[i] = self->handover.received[i];
        engine_set_param(self->engine, i, values[i]);
    }
    handover_init(self->handover, values);
    engine_reset(self->engine);
}

static void run(LV2_Handle instance, uint32_t n_samples) {
    Emberpress* self = static_cast<Emberpress*>(instance);
    DenormalGuard denormals;

    const bool locked = handover_begin_block(self->handover, self->engine);
    for (int i = 0; i < kParamCount; ++i) {
        float plain;
        const float* port = self->controls[i];
        if (port && port_to_plain(i, *port, &plain)) {
            handover_offer(self->handover, self->engine, locked, i, plain);
        }
    }
    handover_end_block(self->handover, locked);

    // A host that left an audio port unconnected gets no audio, and no buffer is
    // touched; parameter changes above were still taken up.
    if (self->input && self->output && n_samples > 0) {
        engine_process(self->engine, self->input, self->output, n_samples);
    }
}

static void cleanup(LV2_Handle instance) {
    delete static_cast<Emberpress*>(instance);
}

// ---------------------------------------------------------------------------------
// State: one chunk property holding the state archive

static LV2_State_Status save(LV2_Handle instance, LV2_State_Store_Function store,
                             LV2_State_Handle handle, uint32_t, const LV2_Feature* const*) {
    Emberpress* self = static_cast<Emberpress*>(instance);
    if (!self->map) {
        lv2_log_error(&self->logger, "Host is trying to store state but didn't provide URID map\n");
        return LV2_STATE_ERR_UNKNOWN;
    }

    float values[kParamCount];
    handover_snapshot(self->handover, self->engine, values);

    size_t len = 0;
    uint8_t* bytes = plugin_state_save(values, "lv2", kPluginPlatform, self->sample_rate, &len);
    if (!bytes) return LV2_STATE_ERR_UNKNOWN;

    const LV2_State_Status stored = store(handle, self->state_key, bytes, len, self->chunk_type,
                                          LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    free(bytes);
    return stored == LV2_STATE_SUCCESS ? LV2_STATE_SUCCESS : LV2_STATE_ERR_UNKNOWN;
}

// A stored value as it is applied: clamped to its range, bypass set when above 0.
static float restored_plain(int param, float v) {
    if (param == PARAM_BYPASS) return v > 0.0f ? 1.0f : 0.0f;
    const float lo = static_cast<float>(kParams[param].min);
    const float hi = static_cast<float>(kParams[param].max);
    return v < lo ? lo : (v > hi ? hi : v);
}

static LV2_State_Status restore(LV2_Handle instance, LV2_State_Retrieve_Function retrieve,
                                LV2_State_Handle handle, uint32_t, const LV2_Feature* const*) {
    Emberpress* self = static_cast<Emberpress*>(instance);
    if (!self->map) {
        lv2_log_error(&self->logger,
                      "Host is trying to restore state but didn't provide URID map\n");
        return LV2_STATE_ERR_UNKNOWN;
    }

    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    // Any type is read as archive bytes: the archive checks them itself.
    const void* data = retrieve(handle, self->state_key, &size, &type, &flags);
    if (!data) {
        lv2_log_error(&self->logger,
                      "Cannot restore state since property <%s> could not be retrieved\n",
                      EMBERPRESS_STATE_KEY);
        return LV2_STATE_ERR_NO_PROPERTY;
    }

    float stored[kParamCount];
    if (plugin_state_load(data, size, stored) != 0) return LV2_STATE_ERR_UNKNOWN;

    float values[kParamCount];
    for (int i = 0; i < kParamCount; ++i) values[i] = restored_plain(i, stored[i]);
    handover_restore(self->handover, values);
    return LV2_STATE_SUCCESS;
}

static const LV2_State_Interface state_interface = {save, restore};

#ifdef EMBER_LV2_PROBE
// Test builds only: the tests reach the parameter lock through this extension.
#include "tests/lv2/lv2_probe.h"
static ParamHandover* probe_handover(LV2_Handle instance) {
    return &static_cast<Emberpress*>(instance)->handover;
}
static const EmberpressProbe probe = {probe_handover, probe_engine_set_param_calls};
#endif

static const void* extension_data(const char* uri) {
    if (!strcmp(uri, LV2_STATE__interface)) return &state_interface;
#ifdef EMBER_LV2_PROBE
    if (!strcmp(uri, EMBERPRESS_PROBE_URI)) return &probe;
#endif
    return nullptr;
}

// ---------------------------------------------------------------------------------
// Descriptor

static const LV2_Descriptor descriptor = {
    EMBERPRESS_URI, instantiate, connect_port, activate, run, nullptr, cleanup, extension_data,
};

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
