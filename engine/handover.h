// Parameter hand-over between host threads and the audio thread.
//
// The audio thread never waits: once per exchange it tries a one-byte lock. Host
// threads (state save and restore) spin for the lock and then yield until they get
// it; they hold it only to copy six values in or out. Values the audio thread reads
// from the host while another thread holds the lock wait in `received` and reach the
// engine at the first later block that gets the lock.
//
// Each plug-in instance (VST3 processor, LV2 instance) embeds one ParamHandover next
// to its Engine.
#pragma once

#include <atomic>
#include <cstdint>

#include "params.h"

struct Engine;

struct ParamHandover {
    float received[kParamCount]; // newest value from the host (audio thread only)
    float applied[kParamCount];  // last value given to the engine, or a restore waiting
    std::atomic<uint8_t> param_lock;
    uint8_t synced;          // clear: the next block holding the lock must reconcile
    uint8_t restore_pending; // set: `applied` holds restored values for the engine
};

// received = applied = values; lock free; synced; no restore pending.
void handover_init(ParamHandover& h, const float values[kParamCount]);

// --- Non-audio threads -----------------------------------------------------------

// Spins (100 attempts with a pause hint), then yields before every further attempt
// until the lock is taken. Clears `synced`.
void handover_lock(ParamHandover& h);
void handover_unlock(ParamHandover& h);

// Hands a complete set of restored plain values to the audio thread.
void handover_restore(ParamHandover& h, const float values[kParamCount]);

// Copies the six plain values the engine was last given, as one consistent set.
void handover_snapshot(ParamHandover& h, const Engine& engine, float out[kParamCount]);

// --- Audio thread ----------------------------------------------------------------

// Tries the lock once. With the lock and `synced` clear, gives the engine the
// restored values (restore pending) or every `received` value that differs from
// `applied`. Returns whether this block holds the lock.
bool handover_begin_block(ParamHandover& h, Engine& engine);

// A value read from the host for parameter `index` (plain, already converted and
// clamped). A value equal to `received` is ignored, and so is a non-finite one, which
// would otherwise silence the engine until the next reset. Otherwise it is stored
// in `received` and, when `locked`, also in `applied` and given to the engine.
void handover_offer(ParamHandover& h, Engine& engine, bool locked, int index, float value);

// Releases the lock if handover_begin_block took it.
void handover_end_block(ParamHandover& h, bool locked);
