// The audio processor component: one mono input bus, one mono output bus, six
// parameters, no events, no latency, no tail. It runs one Engine per instance and feeds
// it the host's parameter changes at block boundaries through the parameter hand-over,
// so that state calls on other threads never make the audio thread wait.
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/denormals.h"
#include "engine/engine.h"
#include "engine/handover.h"
#include "state/plugin_state.h"
#include "vst3/com_object.h"
#include "vst3/emberpress_vst3.h"

using namespace vst3;

namespace {

struct Vst3Processor : ComObject<Vst3Processor, IComponent, IAudioProcessor,
                                 IProcessContextRequirements, IConnectionPoint> {
    FUnknown* host_context; // no reference held
    Engine engine;
    float activated_rate; // of the last setActive(true); saved with the state
    float setup_rate;     // of the last setupProcessing
    ParamHandover handover;
    float* input;  // channel 0 of input bus 0, taken afresh in each process call
    float* output; // channel 0 of output bus 0
    uint8_t processing_enabled;
    uint8_t input_bus_active;
    uint8_t output_bus_active;

    static void destroy(Vst3Processor* p) { delete p; }
};

template <class I>
Vst3Processor* self(I* i) {
    return Vst3Processor::of(i);
}

// --- IComponent --------------------------------------------------------------------

tresult initialize(IComponent* i, FUnknown* context) {
    Vst3Processor* p = self(i);
    if (p->host_context) return kResultFalse;
    p->host_context = context;
    engine_init(p->engine);
    p->activated_rate = 0;
    p->setup_rate = 0;
    handover_init(p->handover, kParamDefaults);
    p->processing_enabled = 0;
    p->input_bus_active = 0;
    p->output_bus_active = 0;
    return kResultOk;
}

tresult terminate(IComponent* i) {
    self(i)->host_context = nullptr;
    return kResultOk;
}

tresult get_controller_class_id(IComponent*, char* cid) {
    if (!cid) return kResultFalse;
    std::memcpy(cid, kControllerClassId.bytes, 16);
    return kResultOk;
}

tresult set_io_mode(IComponent*, IoMode) {
    return kNotImplemented;
}

int32_t get_bus_count(IComponent*, MediaType type, BusDirection dir) {
    return type == kAudio && (dir == kInput || dir == kOutput) ? 1 : 0;
}

bool is_audio_bus(MediaType type, BusDirection dir, int32_t index) {
    return type == kAudio && index == 0 && (dir == kInput || dir == kOutput);
}

tresult get_bus_info(IComponent*, MediaType type, BusDirection dir, int32_t index, BusInfo* bus) {
    if (!is_audio_bus(type, dir, index) || !bus) return kInvalidArgument;
    bus->mediaType = kAudio;
    bus->direction = dir;
    bus->channelCount = 1;
    vst3_put_text(bus->name, dir == kInput ? "Input" : "Output");
    bus->busType = kMain;
    bus->flags = kDefaultActive;
    return kResultOk;
}

tresult get_routing_info(IComponent*, RoutingInfo*, RoutingInfo*) {
    return kNotImplemented;
}

tresult activate_bus(IComponent* i, MediaType type, BusDirection dir, int32_t index, TBool state) {
    if (!is_audio_bus(type, dir, index)) return kInvalidArgument;
    Vst3Processor* p = self(i);
    (dir == kInput ? p->input_bus_active : p->output_bus_active) = state;
    return kResultOk;
}

tresult set_active(IComponent* i, TBool state) {
    Vst3Processor* p = self(i);
    if (state) {
        // Without a usable rate (no setupProcessing yet) the engine's filters would
        // turn every sample into NaN: the processor stays silent instead.
        const bool rate_ok = p->setup_rate > 0 && std::isfinite(p->setup_rate);
        p->processing_enabled = p->input_bus_active && p->output_bus_active && rate_ok;
        if (rate_ok) engine_set_sample_rate(p->engine, p->setup_rate);
        p->activated_rate = p->setup_rate;
        engine_reset(p->engine);
    }
    return kResultOk;
}

tresult set_state(IComponent* i, IBStream* stream) {
    float stored[kParamCount];
    if (!vst3_read_state(stream, stored)) return kResultFalse;
    float values[kParamCount];
    for (int k = 0; k < kParamCount; ++k) values[k] = float(param_store_plain(k, stored[k]));
    handover_restore(self(i)->handover, values);
    return kResultOk;
}

tresult get_state(IComponent* i, IBStream* stream) {
    if (!stream) return kResultFalse;
    Vst3Processor* p = self(i);
    float values[kParamCount];
    handover_snapshot(p->handover, p->engine, values);
    size_t len = 0;
    uint8_t* bytes = plugin_state_save(values, "vst3", kPluginPlatform, p->activated_rate, &len);
    if (!bytes) return kResultFalse;
    const bool written = vst3_write_bytes(stream, bytes, len);
    std::free(bytes);
    return written ? kResultOk : kResultFalse;
}

constexpr IComponentVtbl kComponentVtbl = {
    Vst3Processor::kUnknownSlots<IComponent>,
    initialize,
    terminate,
    get_controller_class_id,
    set_io_mode,
    get_bus_count,
    get_bus_info,
    get_routing_info,
    activate_bus,
    set_active,
    set_state,
    get_state,
};

// --- IAudioProcessor ---------------------------------------------------------------

tresult set_bus_arrangements(IAudioProcessor*, SpeakerArrangement* inputs, int32_t num_ins,
                             SpeakerArrangement* outputs, int32_t num_outs) {
    if (num_ins < 0 || num_outs < 0) return kInvalidArgument;
    if (num_ins == 1 && num_outs == 1 && inputs && outputs && inputs[0] == kSpeakerM &&
        outputs[0] == kSpeakerM)
        return kResultTrue;
    return kResultFalse;
}

tresult get_bus_arrangement(IAudioProcessor*, BusDirection dir, int32_t index,
                            SpeakerArrangement* arr) {
    if (index != 0 || (dir != kInput && dir != kOutput) || !arr) return kInvalidArgument;
    *arr = kSpeakerM;
    return kResultOk;
}

tresult can_process_sample_size(IAudioProcessor*, int32_t size) {
    return size == kSample32 ? kResultTrue : kNotImplemented;
}

uint32_t get_latency_samples(IAudioProcessor*) {
    return 0;
}

tresult setup_processing(IAudioProcessor* i, ProcessSetup* setup) {
    if (!setup) return kInvalidArgument;
    self(i)->setup_rate = float(setup->sampleRate);
    return kResultOk;
}

tresult set_processing(IAudioProcessor*, TBool) {
    return kNotImplemented;
}

enum class Phase { start, end };

// One pass over the block's parameter queues: the first point if it sits at offset 0
// (start of the block), or the last point if it lies past offset 0 (end of the block).
void exchange_parameters(Vst3Processor* p, IParameterChanges* changes, Phase phase) {
    const bool locked = handover_begin_block(p->handover, p->engine);
    const int32_t count = changes ? changes->vtbl->getParameterCount(changes) : 0;
    for (int32_t q = 0; q < count; ++q) {
        IParamValueQueue* queue = changes->vtbl->getParameterData(changes, q);
        if (!queue) continue;
        const int32_t points = queue->vtbl->getPointCount(queue);
        if (points <= 0) continue;
        int32_t offset = 0;
        ParamValue normalized = 0;
        const int32_t which = phase == Phase::start ? 0 : points - 1;
        if (queue->vtbl->getPoint(queue, which, &offset, &normalized) != kResultOk) continue;
        if (phase == Phase::start ? offset != 0 : offset <= 0) continue;
        const int index = param_index_from_vst3_id(queue->vtbl->getParameterId(queue));
        // A non-finite host value would otherwise clamp to an end of the range or, as a
        // NaN, silence the engine; the last good value stays.
        if (index < 0 || !std::isfinite(normalized)) continue;
        const float plain = float(param_store_plain(index, param_to_plain(index, normalized)));
        handover_offer(p->handover, p->engine, locked, index, plain);
    }
    handover_end_block(p->handover, locked);
}

// Channel 0 of bus 0 of a bus array, or null when the host gave none.
float* first_channel(AudioBusBuffers* buses, int32_t count) {
    if (!buses || count < 1 || buses[0].numChannels < 1 || !buses[0].channelBuffers32)
        return nullptr;
    return buses[0].channelBuffers32[0];
}

void silence_outputs(const ProcessData& data, uint32_t n) {
    if (!data.outputs || n == 0) return;
    for (int32_t b = 0; b < data.numOutputs; ++b) {
        const AudioBusBuffers& bus = data.outputs[b];
        if (!bus.channelBuffers32) continue;
        for (int32_t c = 0; c < bus.numChannels; ++c)
            if (bus.channelBuffers32[c]) std::memset(bus.channelBuffers32[c], 0, n * sizeof(float));
    }
}

tresult process(IAudioProcessor* i, ProcessData* data) {
    if (!data) return kInvalidArgument;
    Vst3Processor* p = self(i);
    DenormalGuard denormals;
    const uint32_t n = data->numSamples > 0 ? uint32_t(data->numSamples) : 0;

    exchange_parameters(p, data->inputParameterChanges, Phase::start);
    p->input = first_channel(data->inputs, data->numInputs);
    p->output = first_channel(data->outputs, data->numOutputs);
    if (p->processing_enabled && (n == 0 || (p->input && p->output)))
        engine_process(p->engine, p->input, p->output, n);
    else
        // Not enabled, or a block without a usable input or output ("parameter flush"
        // calls): whatever output buffers there are get silence.
        silence_outputs(*data, n);
    exchange_parameters(p, data->inputParameterChanges, Phase::end);
    return kResultOk;
}

uint32_t get_tail_samples(IAudioProcessor*) {
    return 0;
}

constexpr IAudioProcessorVtbl kAudioVtbl = {
    Vst3Processor::kUnknownSlots<IAudioProcessor>,
    set_bus_arrangements,
    get_bus_arrangement,
    can_process_sample_size,
    get_latency_samples,
    setup_processing,
    set_processing,
    process,
    get_tail_samples,
};

// --- IProcessContextRequirements ---------------------------------------------------

uint32_t get_process_context_requirements(IProcessContextRequirements*) {
    return 0;
}

constexpr IProcessContextRequirementsVtbl kContextRequirementsVtbl = {
    Vst3Processor::kUnknownSlots<IProcessContextRequirements>,
    get_process_context_requirements,
};

} // namespace

IComponent* vst3_processor_new() {
    Vst3Processor* p = new (std::nothrow) Vst3Processor{};
    if (!p) return nullptr;
    p->set_tables(&kComponentVtbl, &kAudioVtbl, &kContextRequirementsVtbl,
                  &kIdleConnectionVtbl<Vst3Processor>);
    return p->as<IComponent>();
}
