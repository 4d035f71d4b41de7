#include "host.h"

#include <cstring>
#include <gtest/gtest.h>

#include "state/plugin_state.h"
#include "state/state_archive.h"

// --- Loading the bundle under test -------------------------------------------------

const LoadedModule& test_module() {
    static LoadedModule module = [] {
        LoadedModule m = module_load(EMBER_VST3_MODULE);
        if (!m.handle) {
            ADD_FAILURE() << "cannot load " << EMBER_VST3_MODULE << ": " << m.error;
            return m;
        }
        // A Linux host enters the module before asking for the factory.
        using Entry = bool (*)(void*);
        if (auto entry = reinterpret_cast<Entry>(module_symbol(m, "ModuleEntry"))) {
            EXPECT_TRUE(entry(m.handle));
        }
        return m;
    }();
    return module;
}

IPluginFactory3* test_factory() {
    const LoadedModule& m = test_module();
    using GetFactory = IPluginFactory3* (*)();
    auto get = reinterpret_cast<GetFactory>(module_symbol(m, "GetPluginFactory"));
    if (!get) {
        ADD_FAILURE() << "GetPluginFactory is not exported";
        return nullptr;
    }
    return get();
}

IComponent* new_processor(IPluginFactory3* factory) {
    IPluginFactory3* f = factory ? factory : test_factory();
    void* obj = nullptr;
    if (!f ||
        f->vtbl->createInstance(f, make_uid(0x66AD22C7, 0xC20E462C, 0xB29447BB, 0xA4505C82).bytes,
                                kIComponentIid.bytes, &obj) != kResultOk) {
        ADD_FAILURE() << "no processor";
        return nullptr;
    }
    return static_cast<IComponent*>(obj);
}

IEditController* new_controller() {
    IPluginFactory3* f = test_factory();
    void* obj = nullptr;
    if (!f ||
        f->vtbl->createInstance(f, make_uid(0x0301513B, 0x7A934919, 0xB64CA7F5, 0x703CCE54).bytes,
                                kIEditControllerIid.bytes, &obj) != kResultOk) {
        ADD_FAILURE() << "no controller";
        return nullptr;
    }
    return static_cast<IEditController*>(obj);
}

// --- A host context the objects may keep (they take no reference) -------------------

namespace {
tresult context_query(FUnknown*, const char*, void** obj) {
    *obj = nullptr;
    return kNoInterface;
}
uint32_t context_ref(FUnknown*) {
    return 1;
}
const UnknownSlots<FUnknown> kContextVtbl = {context_query, context_ref, context_ref};
FUnknown host_context = {&kContextVtbl};
} // namespace

// --- MemoryStream ------------------------------------------------------------------

namespace {
MemoryStream* as_stream(IBStream* s) {
    return reinterpret_cast<MemoryStream*>(s);
}

tresult stream_query(IBStream* s, const char* iid, void** obj) {
    if (uid_equal(iid, kFUnknownIid) || uid_equal(iid, kIBStreamIid)) {
        *obj = s;
        as_stream(s)->refs++;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}
uint32_t stream_add_ref(IBStream* s) {
    return uint32_t(++as_stream(s)->refs);
}
uint32_t stream_release(IBStream* s) {
    return uint32_t(--as_stream(s)->refs);
}

tresult stream_read(IBStream* s, void* buffer, int32_t n, int32_t* got) {
    MemoryStream* m = as_stream(s);
    if (n < 0) return kInvalidArgument;
    int64_t left = int64_t(m->bytes.size()) - m->pos;
    int64_t count = n < left ? n : (left > 0 ? left : 0);
    if (m->short_read && count > 0) count /= 2;
    if (count > 0) std::memcpy(buffer, m->bytes.data() + m->pos, size_t(count));
    m->pos += count;
    if (got) *got = int32_t(count);
    return kResultOk;
}

tresult stream_write(IBStream* s, void* buffer, int32_t n, int32_t* put) {
    MemoryStream* m = as_stream(s);
    if (n < 0) return kInvalidArgument;
    int64_t count = n;
    if (m->write_limit >= 0) {
        const int64_t room = m->write_limit - m->pos;
        count = room < count ? (room > 0 ? room : 0) : count;
    }
    if (m->pos + count > int64_t(m->bytes.size())) m->bytes.resize(size_t(m->pos + count));
    if (count > 0) std::memcpy(m->bytes.data() + m->pos, buffer, size_t(count));
    m->pos += count;
    if (put) *put = int32_t(count);
    return kResultOk;
}

tresult stream_seek(IBStream* s, int64_t pos, int32_t mode, int64_t* result) {
    MemoryStream* m = as_stream(s);
    if (m->fail_seek) return kInternalError;
    const int64_t base = mode == kIBSeekSet   ? 0
                         : mode == kIBSeekCur ? m->pos
                         : mode == kIBSeekEnd ? int64_t(m->bytes.size())
                                              : -1;
    if (base < 0 || base + pos < 0) return kInvalidArgument;
    m->pos = base + pos;
    if (result) *result = m->pos;
    return kResultOk;
}

tresult stream_tell(IBStream* s, int64_t* pos) {
    MemoryStream* m = as_stream(s);
    if (m->fail_tell || !pos) return kInternalError;
    *pos = m->pos;
    return kResultOk;
}

const IBStreamVtbl kStreamVtbl = {{stream_query, stream_add_ref, stream_release},
                                  stream_read,
                                  stream_write,
                                  stream_seek,
                                  stream_tell};
} // namespace

MemoryStream::MemoryStream() : iface{&kStreamVtbl} {}
MemoryStream::MemoryStream(std::vector<uint8_t> content)
    : iface{&kStreamVtbl}, bytes(std::move(content)) {}

// --- Parameter changes -------------------------------------------------------------

namespace {
ValueQueue* as_queue(IParamValueQueue* q) {
    return reinterpret_cast<ValueQueue*>(q);
}
ParamChanges* as_changes(IParameterChanges* c) {
    return reinterpret_cast<ParamChanges*>(c);
}

template <class I>
tresult no_query(I*, const char*, void** obj) {
    *obj = nullptr;
    return kNoInterface;
}
template <class I>
uint32_t fixed_ref(I*) {
    return 1;
}

ParamID queue_id(IParamValueQueue* q) {
    return as_queue(q)->id;
}
int32_t queue_count(IParamValueQueue* q) {
    return int32_t(as_queue(q)->points.size());
}
tresult queue_point(IParamValueQueue* q, int32_t index, int32_t* offset, ParamValue* value) {
    ValueQueue* v = as_queue(q);
    if (index < 0 || size_t(index) >= v->points.size()) return kInvalidArgument;
    *offset = v->points[size_t(index)].offset;
    *value = v->points[size_t(index)].value;
    return kResultOk;
}
tresult queue_add(IParamValueQueue*, int32_t, ParamValue, int32_t*) {
    return kResultFalse;
}

const IParamValueQueueVtbl kQueueVtbl = {
    {no_query<IParamValueQueue>, fixed_ref<IParamValueQueue>, fixed_ref<IParamValueQueue>},
    queue_id,
    queue_count,
    queue_point,
    queue_add};

int32_t changes_count(IParameterChanges* c) {
    return int32_t(as_changes(c)->queues.size());
}
IParamValueQueue* changes_data(IParameterChanges* c, int32_t index) {
    ParamChanges* p = as_changes(c);
    if (p->null_queues || index < 0 || size_t(index) >= p->queues.size()) return nullptr;
    return &p->queues[size_t(index)].iface;
}
IParamValueQueue* changes_add(IParameterChanges*, const ParamID*, int32_t*) {
    return nullptr;
}

const IParameterChangesVtbl kChangesVtbl = {
    {no_query<IParameterChanges>, fixed_ref<IParameterChanges>, fixed_ref<IParameterChanges>},
    changes_count,
    changes_data,
    changes_add};
} // namespace

ValueQueue::ValueQueue(ParamID id, std::vector<Point> points)
    : iface{&kQueueVtbl}, id(id), points(std::move(points)) {}
ParamChanges::ParamChanges() : iface{&kChangesVtbl} {}

// --- RecordingHandler --------------------------------------------------------------

namespace {
RecordingHandler* as_handler(IComponentHandler* h) {
    return reinterpret_cast<RecordingHandler*>(h);
}
uint32_t handler_add_ref(IComponentHandler* h) {
    return uint32_t(++as_handler(h)->refs);
}
uint32_t handler_release(IComponentHandler* h) {
    return uint32_t(--as_handler(h)->refs);
}
tresult handler_query(IComponentHandler* h, const char* iid, void** obj) {
    if (uid_equal(iid, kFUnknownIid) || uid_equal(iid, kIComponentHandlerIid)) {
        *obj = h;
        handler_add_ref(h);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}
tresult begin_edit(IComponentHandler* h, ParamID id) {
    as_handler(h)->calls.push_back("begin " + std::to_string(id));
    return kResultOk;
}
tresult perform_edit(IComponentHandler* h, ParamID id, ParamValue v) {
    as_handler(h)->calls.push_back("perform " + std::to_string(id) + " " + std::to_string(v));
    return kResultOk;
}
tresult end_edit(IComponentHandler* h, ParamID id) {
    as_handler(h)->calls.push_back("end " + std::to_string(id));
    return kResultOk;
}
tresult restart_component(IComponentHandler* h, int32_t flags) {
    as_handler(h)->calls.push_back("restart " + std::to_string(flags));
    return kResultOk;
}
const IComponentHandlerVtbl kHandlerVtbl = {{handler_query, handler_add_ref, handler_release},
                                            begin_edit,
                                            perform_edit,
                                            end_edit,
                                            restart_component};
} // namespace

RecordingHandler::RecordingHandler() : iface{&kHandlerVtbl} {}

// --- ActiveProcessor ---------------------------------------------------------------

ActiveProcessor::ActiveProcessor(double rate, bool input_bus, bool output_bus,
                                 IPluginFactory3* factory) {
    component = new_processor(factory);
    if (!component) return;
    audio = query<IAudioProcessor>(component, kIAudioProcessorIid);
    EXPECT_NE(audio, nullptr);
    EXPECT_EQ(component->vtbl->initialize(component, &host_context), kResultOk);
    SpeakerArrangement mono = kSpeakerM;
    EXPECT_EQ(audio->vtbl->setBusArrangements(audio, &mono, 1, &mono, 1), kResultTrue);
    if (input_bus) {
        EXPECT_EQ(component->vtbl->activateBus(component, kAudio, kInput, 0, 1), kResultOk);
    }
    if (output_bus) {
        EXPECT_EQ(component->vtbl->activateBus(component, kAudio, kOutput, 0, 1), kResultOk);
    }
    ProcessSetup setup{0, kSample32, 4096, rate};
    EXPECT_EQ(audio->vtbl->setupProcessing(audio, &setup), kResultOk);
    EXPECT_EQ(component->vtbl->setActive(component, 1), kResultOk);
}

ActiveProcessor::~ActiveProcessor() {
    if (!component) return;
    component->vtbl->setActive(component, 0);
    component->vtbl->terminate(component);
    if (audio) release(audio);
    EXPECT_EQ(release(component), 0u);
}

void ActiveProcessor::process(const float* in, float* out, int32_t n, IParameterChanges* changes) {
    float* in_channels[1] = {const_cast<float*>(in)};
    float* out_channels[1] = {out};
    AudioBusBuffers input{};
    input.numChannels = 1;
    input.channelBuffers32 = in_channels;
    AudioBusBuffers output{};
    output.numChannels = 1;
    output.channelBuffers32 = out_channels;
    ProcessData data{};
    data.symbolicSampleSize = kSample32;
    data.numSamples = n;
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &input;
    data.outputs = &output;
    data.inputParameterChanges = changes;
    EXPECT_EQ(audio->vtbl->process(audio, &data), kResultOk);
}

std::vector<uint8_t> ActiveProcessor::state() {
    MemoryStream s;
    EXPECT_EQ(component->vtbl->getState(component, s.stream()), kResultOk);
    return s.bytes;
}

tresult ActiveProcessor::set_state(const std::vector<uint8_t>& bytes) {
    MemoryStream s(bytes);
    return component->vtbl->setState(component, s.stream());
}

// --- Reading saved states ----------------------------------------------------------

std::vector<float> state_values(const std::vector<uint8_t>& bytes) {
    std::vector<float> values(kParamCount);
    EXPECT_EQ(plugin_state_load(bytes.data(), bytes.size(), values.data()), 0);
    return values;
}

static std::vector<uint8_t> info_entry(const std::vector<uint8_t>& bytes, const char* key) {
    state_archive archive;
    if (state_archive_load(&archive, bytes.data(), bytes.size()) != 0) return {};
    size_t len = 0;
    const void* v = kv_map_find(archive.info, key, std::strlen(key), &len);
    std::vector<uint8_t> out;
    if (v) out.assign(static_cast<const uint8_t*>(v), static_cast<const uint8_t*>(v) + len);
    state_archive_free(&archive);
    return out;
}

std::string state_info_text(const std::vector<uint8_t>& bytes, const char* key) {
    const std::vector<uint8_t> v = info_entry(bytes, key);
    return std::string(v.begin(), v.end());
}

float state_info_float(const std::vector<uint8_t>& bytes, const char* key) {
    const std::vector<uint8_t> v = info_entry(bytes, key);
    float f = -1;
    if (v.size() == 4) std::memcpy(&f, v.data(), 4);
    return f;
}

std::u16string u16(const char16* text) {
    return std::u16string(text);
}
