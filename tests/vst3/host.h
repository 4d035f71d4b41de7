// A small VST3 host for the tests: it loads the built module the way a host does and
// supplies the host-side objects the module calls (a memory stream, parameter-change
// queues, a recording component handler). Everything reaches the module only through
// GetPluginFactory and the interface tables.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "vst3/vst3_abi.h"

using namespace vst3;

// --- The module --------------------------------------------------------------------

// A loaded shared library (host_module_posix.cpp / host_module_win32.cpp).
struct LoadedModule {
    void* handle = nullptr;
    std::string error;
};
LoadedModule module_load(const std::string& path);
void* module_symbol(const LoadedModule& m, const char* name);
void module_unload(LoadedModule& m);
// A folder for scratch files, unique to this process.
std::string scratch_folder();
// A path the build handed over, as this platform's file functions take it.
std::string native_path(const std::string& path);

// The bundle under test, loaded once per test program and entered as a host would
// (ModuleEntry on Linux before the factory is asked for).
IPluginFactory3* test_factory();
const LoadedModule& test_module();

// Objects from the factory (the bundle under test's by default). Each helper fails the
// current test if creation fails.
IComponent* new_processor(IPluginFactory3* factory = nullptr);
IEditController* new_controller();

template <class I>
I* query(FUnknown* object, const Uid& iid) {
    void* out = nullptr;
    if (object->vtbl->queryInterface(object, iid.bytes, &out) != kResultOk) return nullptr;
    return static_cast<I*>(out);
}
template <class I, class O>
I* query(O* object, const Uid& iid) {
    return query<I>(reinterpret_cast<FUnknown*>(object), iid);
}
template <class O>
uint32_t add_ref(O* object) {
    return object->vtbl->unknown.addRef(object);
}
template <class O>
uint32_t release(O* object) {
    return object->vtbl->unknown.release(object);
}

// --- IBStream over memory ----------------------------------------------------------

struct MemoryStream {
    IBStream iface;
    std::atomic<int32_t> refs{1};
    std::vector<uint8_t> bytes;
    int64_t pos = 0;
    // Fault injection: the call that fails, and where writes stop short.
    bool fail_seek = false, fail_tell = false, short_read = false;
    int64_t write_limit = -1; // bytes accepted in total; negative: unlimited

    MemoryStream();
    explicit MemoryStream(std::vector<uint8_t> content);
    IBStream* stream() { return &iface; }
};

// --- IParameterChanges / IParamValueQueue -------------------------------------------

struct Point {
    int32_t offset;
    double value;
};

struct ValueQueue {
    IParamValueQueue iface;
    ParamID id;
    std::vector<Point> points;
    ValueQueue(ParamID id, std::vector<Point> points);
};

struct ParamChanges {
    IParameterChanges iface;
    std::vector<ValueQueue> queues;
    bool null_queues = false; // hand out null instead of the queues (a broken host)
    ParamChanges();
    void add(ParamID id, std::vector<Point> points) { queues.emplace_back(id, std::move(points)); }
    IParameterChanges* changes() { return &iface; }
};

// --- IComponentHandler -------------------------------------------------------------

struct RecordingHandler {
    IComponentHandler iface;
    std::atomic<int32_t> refs{1};
    std::vector<std::string> calls;
    RecordingHandler();
    IComponentHandler* handler() { return &iface; }
};

// --- Driving a processor -----------------------------------------------------------

// A processor set up for processing: initialised, both buses active, 48 kHz.
struct ActiveProcessor {
    IComponent* component = nullptr;
    IAudioProcessor* audio = nullptr;
    explicit ActiveProcessor(double rate = 48000, bool input_bus = true, bool output_bus = true,
                             IPluginFactory3* factory = nullptr);
    ~ActiveProcessor();
    // One mono block, in place of the host's buffers.
    void process(const float* in, float* out, int32_t n, IParameterChanges* changes = nullptr);
    std::vector<uint8_t> state(); // getState into memory
    tresult set_state(const std::vector<uint8_t>& bytes);
};

// The six plain values a saved state holds (through the state library).
std::vector<float> state_values(const std::vector<uint8_t>& bytes);
// The text of an info entry of a saved state ("" when absent).
std::string state_info_text(const std::vector<uint8_t>& bytes, const char* key);
float state_info_float(const std::vector<uint8_t>& bytes, const char* key);

std::u16string u16(const char16* text);
