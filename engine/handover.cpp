#include "handover.h"

#include <cmath>
#include <emmintrin.h>

#include "engine.h"
#include "thread_yield.h"

void handover_init(ParamHandover& h, const float values[kParamCount]) {
    for (int i = 0; i < kParamCount; ++i) h.received[i] = h.applied[i] = values[i];
    h.param_lock.store(0);
    h.synced = 1;
    h.restore_pending = 0;
}

static bool try_lock(ParamHandover& h) {
    return h.param_lock.exchange(1) == 0;
}

void handover_lock(ParamHandover& h) {
    bool taken = false;
    for (int attempt = 0; attempt < 100 && !taken; ++attempt) {
        taken = try_lock(h);
        if (!taken) _mm_pause();
    }
    while (!taken) {
        thread_yield();
        taken = try_lock(h);
    }
    h.synced = 0;
}

void handover_unlock(ParamHandover& h) {
    h.param_lock.exchange(0);
}

void handover_restore(ParamHandover& h, const float values[kParamCount]) {
    handover_lock(h);
    for (int i = 0; i < kParamCount; ++i) h.applied[i] = values[i];
    h.restore_pending = 1;
    handover_unlock(h);
}

void handover_snapshot(ParamHandover& h, const Engine& engine, float out[kParamCount]) {
    handover_lock(h);
    for (int i = 0; i < kParamCount; ++i) out[i] = engine.values[i];
    handover_unlock(h);
}

bool handover_begin_block(ParamHandover& h, Engine& engine) {
    if (!try_lock(h)) return false;
    if (!h.synced) {
        if (h.restore_pending) {
            for (int i = 0; i < kParamCount; ++i) {
                h.received[i] = h.applied[i];
                engine_set_param(engine, i, h.applied[i]);
            }
        } else {
            for (int i = 0; i < kParamCount; ++i) {
                // A NaN compares unequal to itself, so it counts as different.
                if (!(h.received[i] == h.applied[i])) {
                    h.applied[i] = h.received[i];
                    engine_set_param(engine, i, h.applied[i]);
                }
            }
        }
    }
    h.synced = 1;
    h.restore_pending = 0;
    return true;
}

void handover_offer(ParamHandover& h, Engine& engine, bool locked, int index, float value) {
    if (index < 0 || index >= kParamCount || !std::isfinite(value)) return;
    if (value == h.received[index]) return;
    h.received[index] = value;
    if (locked) {
        h.applied[index] = value;
        engine_set_param(engine, index, value);
    }
}

void handover_end_block(ParamHandover& h, bool locked) {
    if (locked) handover_unlock(h);
}
