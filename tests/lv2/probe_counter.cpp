// Linked into the probe builds of the plug-in with -Wl,--wrap=<engine_set_param>:
// every call from outside the engine's own file passes through here.
#include <atomic>

#include "engine/engine.h"
#include "lv2_probe.h"

static std::atomic<uint64_t> calls{0};

uint64_t probe_engine_set_param_calls() {
    return calls.load();
}

extern "C" void __real__Z16engine_set_paramR6Engineif(Engine& e, int index, float plain);

extern "C" void __wrap__Z16engine_set_paramR6Engineif(Engine& e, int index, float plain) {
    calls.fetch_add(1, std::memory_order_relaxed);
    __real__Z16engine_set_paramR6Engineif(e, index, plain);
}
