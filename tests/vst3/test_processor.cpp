// The audio processor driven through its tables: lifecycle, buses, processing compared
// bit for bit with the engine, and the host's parameter queues.
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "host.h"
#include "reference_render.h"

namespace {

constexpr ParamID kDriveId = 1955105482u, kToneId = 1278044914u, kVolumeId = 115099194u,
                  kBypassId = 150732888u, kMixId = 907392060u;

float saved_value(ActiveProcessor& p, int index) {
    return state_values(p.state())[size_t(index)];
}

} // namespace

TEST(Vst3Processor, LifecycleAndBusDescriptions) {
    IComponent* c = new_processor();
    ASSERT_NE(c, nullptr);
    auto* audio = query<IAudioProcessor>(c, kIAudioProcessorIid);
    ASSERT_NE(audio, nullptr);
    FUnknown* context = reinterpret_cast<FUnknown*>(c); // any object will do

    EXPECT_EQ(c->vtbl->initialize(c, context), kResultOk);
    EXPECT_EQ(c->vtbl->initialize(c, context), kResultFalse) << "already initialised";
    char cid[16];
    EXPECT_EQ(c->vtbl->getControllerClassId(c, nullptr), kResultFalse);
    ASSERT_EQ(c->vtbl->getControllerClassId(c, cid), kResultOk);
    EXPECT_TRUE(uid_equal(cid, make_uid(0x0301513B, 0x7A934919, 0xB64CA7F5, 0x703CCE54)));
    EXPECT_EQ(c->vtbl->setIoMode(c, 0), kNotImplemented);
    EXPECT_EQ(c->vtbl->getRoutingInfo(c, nullptr, nullptr), kNotImplemented);

    EXPECT_EQ(c->vtbl->getBusCount(c, kAudio, kInput), 1);
    EXPECT_EQ(c->vtbl->getBusCount(c, kAudio, kOutput), 1);
    EXPECT_EQ(c->vtbl->getBusCount(c, kEvent, kInput), 0);
    EXPECT_EQ(c->vtbl->getBusCount(c, kEvent, kOutput), 0);
    for (BusDirection dir : {kInput, kOutput}) {
        BusInfo bus{};
        ASSERT_EQ(c->vtbl->getBusInfo(c, kAudio, dir, 0, &bus), kResultOk);
        EXPECT_EQ(bus.mediaType, kAudio);
        EXPECT_EQ(bus.direction, dir);
        EXPECT_EQ(bus.channelCount, 1);
        EXPECT_EQ(u16(bus.name), dir == kInput ? u"Input" : u"Output");
        EXPECT_EQ(bus.busType, kMain);
        EXPECT_EQ(bus.flags, kDefaultActive);
    }
    struct BadBus {
        MediaType type;
        BusDirection dir;
        int32_t index;
    };
    for (BadBus b : {BadBus{kEvent, kInput, 0}, BadBus{kAudio, kInput, 1},
                     BadBus{kAudio, kOutput, -1}, BadBus{kAudio, 2, 0}}) {
        BusInfo bus;
        std::memset(&bus, 0x5A, sizeof bus);
        EXPECT_EQ(c->vtbl->getBusInfo(c, b.type, b.dir, b.index, &bus), kInvalidArgument);
        EXPECT_EQ(bus.channelCount, 0x5A5A5A5A) << "info untouched";
        EXPECT_EQ(c->vtbl->activateBus(c, b.type, b.dir, b.index, 1), kInvalidArgument);
    }

    SpeakerArrangement mono = kSpeakerM, stereo = kStereo, arr = 0;
    EXPECT_EQ(audio->vtbl->setBusArrangements(audio, &mono, 1, &mono, 1), kResultTrue);
    EXPECT_EQ(audio->vtbl->setBusArrangements(audio, &stereo, 1, &mono, 1), kResultFalse);
    EXPECT_EQ(audio->vtbl->setBusArrangements(audio, &mono, 1, &stereo, 1), kResultFalse);
    EXPECT_EQ(audio->vtbl->setBusArrangements(audio, &mono, 0, &mono, 1), kResultFalse);
    EXPECT_EQ(audio->vtbl->setBusArrangements(audio, &mono, -1, &mono, 1), kInvalidArgument);
    EXPECT_EQ(audio->vtbl->setBusArrangements(audio, &mono, 1, &mono, -1), kInvalidArgument);
    EXPECT_EQ(audio->vtbl->getBusArrangement(audio, kOutput, 0, &arr), kResultOk);
    EXPECT_EQ(arr, kSpeakerM);
    EXPECT_EQ(audio->vtbl->getBusArrangement(audio, kInput, 1, &arr), kInvalidArgument);
    EXPECT_EQ(audio->vtbl->canProcessSampleSize(audio, kSample32), kResultTrue);
    EXPECT_EQ(audio->vtbl->canProcessSampleSize(audio, kSample64), kNotImplemented);
    EXPECT_EQ(audio->vtbl->getLatencySamples(audio), 0u);
    EXPECT_EQ(audio->vtbl->getTailSamples(audio), 0u);
    EXPECT_EQ(audio->vtbl->setProcessing(audio, 1), kNotImplemented);

    EXPECT_EQ(c->vtbl->activateBus(c, kAudio, kInput, 0, 1), kResultOk);
    EXPECT_EQ(c->vtbl->activateBus(c, kAudio, kOutput, 0, 1), kResultOk);
    ProcessSetup setup{0, kSample32, 512, 44100};
    EXPECT_EQ(audio->vtbl->setupProcessing(audio, &setup), kResultOk);
    EXPECT_EQ(c->vtbl->setActive(c, 1), kResultOk);
    EXPECT_EQ(c->vtbl->setActive(c, 0), kResultOk);
    EXPECT_EQ(c->vtbl->terminate(c), kResultOk);
    EXPECT_EQ(c->vtbl->initialize(c, context), kResultOk) << "terminate allows a new start";
    EXPECT_EQ(c->vtbl->terminate(c), kResultOk);
    release(audio);
    EXPECT_EQ(release(c), 0u);
}

TEST(Vst3Processor, OutputIsBitIdenticalToTheEngineInEveryBlockSize) {
    const std::vector<float> in = test_signal(1 + 37 + 64 + 4096 + 0 + 64);
    for (double rate : {48000.0, 96000.0}) {
        ActiveProcessor p(rate);
        Reference ref{float(rate)};
        std::vector<float> got(in.size()), want(in.size());
        size_t at = 0;
        for (int32_t n : {1, 37, 64, 4096, 0, 64}) {
            p.process(in.data() + at, got.data() + at, n);
            ref.process(in.data() + at, want.data() + at, uint32_t(n));
            at += size_t(n);
        }
        EXPECT_TRUE(same_bits(got, want)) << "rate " << rate;
        EXPECT_NE(got, in) << "the effect changes the sound";
    }
}

TEST(Vst3Processor, ProcessesInPlace) {
    const std::vector<float> in = test_signal(256);
    ActiveProcessor p;
    Reference ref;
    std::vector<float> buffer = in, want(in.size());
    p.process(buffer.data(), buffer.data(), 256);
    ref.process(in.data(), want.data(), 256);
    EXPECT_TRUE(same_bits(buffer, want));
}

TEST(Vst3Processor, WithoutBothBusesActiveTheOutputIsSilent) {
    const std::vector<float> in = test_signal(64);
    for (bool input_bus : {false, true}) {
        ActiveProcessor p(48000, input_bus, /*output_bus=*/!input_bus);
        std::vector<float> out(64, 7.0f);
        p.process(in.data(), out.data(), 64);
        EXPECT_EQ(out, std::vector<float>(64, 0.0f));
    }
}

TEST(Vst3Processor, QueuePointsApplyAtBlockBoundariesOnly) {
    const std::vector<float> in = test_signal(128);
    // A point at offset 0 applies before the block.
    {
        ActiveProcessor p;
        Reference ref;
        ParamChanges changes;
        changes.add(kDriveId, {{0, 0.8}});
        std::vector<float> got(64), want(64);
        p.process(in.data(), got.data(), 64, changes.changes());
        engine_set_param(*ref.e, 0, 80.0f);
        ref.process(in.data(), want.data(), 64);
        EXPECT_TRUE(same_bits(got, want));
        EXPECT_EQ(saved_value(p, 0), 80.0f);
    }
    // A point at offset 37 applies after the block; points in between never apply.
    {
        ActiveProcessor p;
        Reference ref;
        ParamChanges changes;
        changes.add(kToneId, {{0, 0.1}, {10, 0.2}, {50, 0.3}});
        changes.add(kMixId, {{37, 0.25}});
        std::vector<float> got(128), want(128);
        p.process(in.data(), got.data(), 64, changes.changes());
        p.process(in.data() + 64, got.data() + 64, 64);
        engine_set_param(*ref.e, 1, 10.0f);
        ref.process(in.data(), want.data(), 64);
        engine_set_param(*ref.e, 1, 30.0f);
        engine_set_param(*ref.e, 3, 25.0f);
        ref.process(in.data() + 64, want.data() + 64, 64);
        EXPECT_TRUE(same_bits(got, want));
        const std::vector<float> v = state_values(p.state());
        EXPECT_EQ(v[1], 30.0f);
        EXPECT_EQ(v[3], 25.0f);
    }
}

TEST(Vst3Processor, QueueValuesAreConvertedRoundedAndClamped) {
    ActiveProcessor p;
    std::vector<float> out(16), in(16, 0.0f);
    struct Case {
        ParamID id;
        double normalized;
        int index;
        float plain;
    };
    for (Case c : {Case{kBypassId, 0.49, 5, 0.0f}, Case{kBypassId, 0.5, 5, 1.0f},
                   Case{kVolumeId, 1.2, 4, 200.0f}, Case{kVolumeId, -0.5, 4, 0.0f},
                   Case{kVolumeId, 0.25, 4, 50.0f}, Case{kDriveId, 0.123, 0, 12.3f}}) {
        ParamChanges changes;
        changes.add(c.id, {{0, c.normalized}});
        p.process(in.data(), out.data(), 16, changes.changes());
        EXPECT_EQ(saved_value(p, c.index), c.plain) << c.id << " at " << c.normalized;
    }
}

TEST(Vst3Processor, UnknownIdsNullQueuesAndNonFiniteValuesChangeNothing) {
    const std::vector<float> in = test_signal(64);
    ActiveProcessor p;
    Reference ref;
    std::vector<float> got(64), want(64);
    const std::vector<uint8_t> before = p.state();

    ParamChanges unknown;
    unknown.add(12345u, {{0, 0.9}});
    unknown.add(kDriveId, {}); // no points
    ParamChanges nulls;
    nulls.add(kDriveId, {{0, 0.9}});
    nulls.null_queues = true;
    ParamChanges non_finite;
    non_finite.add(kDriveId, {{0, std::nan("")}});
    non_finite.add(kVolumeId, {{0, INFINITY}});
    non_finite.add(kMixId, {{0, -INFINITY}});
    non_finite.add(kToneId, {{20, std::nan("")}});
    for (ParamChanges* changes : {&unknown, &nulls, &non_finite}) {
        p.process(in.data(), got.data(), 64, changes->changes());
        ref.process(in.data(), want.data(), 64);
        EXPECT_TRUE(same_bits(got, want));
        EXPECT_EQ(p.state(), before);
    }
    for (float x : got) ASSERT_TRUE(std::isfinite(x));
}

// Hosts send blocks without usable buffers to deliver parameter changes ("flush").
TEST(Vst3Processor, BlocksWithoutUsableBuffersStillTakeParameterChanges) {
    ActiveProcessor p;
    const std::vector<float> guard(64, 3.0f);
    std::vector<float> out = guard;
    float* out_channels[1] = {out.data()};
    float* null_channels[1] = {nullptr};
    AudioBusBuffers out_bus{};
    out_bus.numChannels = 1;
    out_bus.channelBuffers32 = out_channels;
    AudioBusBuffers no_channels{}; // zero channels, null array
    AudioBusBuffers null_channel{};
    null_channel.numChannels = 1;
    null_channel.channelBuffers32 = null_channels;

    struct Flush {
        int32_t num_inputs;
        AudioBusBuffers* inputs;
        int32_t num_outputs;
        AudioBusBuffers* outputs;
    };
    float drive = 10.0f;
    for (Flush f : {Flush{0, nullptr, 0, nullptr}, Flush{1, &no_channels, 1, &no_channels},
                    Flush{1, &null_channel, 1, &null_channel}, Flush{0, nullptr, 1, &out_bus},
                    Flush{1, &null_channel, 1, &out_bus}, Flush{1, &out_bus, 0, nullptr}}) {
        ParamChanges changes;
        changes.add(kDriveId, {{0, drive / 100.0}});
        ProcessData data{};
        data.numSamples = 64;
        data.numInputs = f.num_inputs;
        data.inputs = f.inputs;
        data.numOutputs = f.num_outputs;
        data.outputs = f.outputs;
        data.inputParameterChanges = changes.changes();
        ASSERT_EQ(p.audio->vtbl->process(p.audio, &data), kResultOk);
        EXPECT_EQ(saved_value(p, 0), drive);
        drive += 10.0f;
    }
    // Only the buffer the host gave was written, and only with silence.
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(out[i], 0.0f);

    // A negative sample count writes nothing at all but still takes the changes.
    out = guard;
    ParamChanges changes;
    changes.add(kDriveId, {{0, 0.77}});
    ProcessData data{};
    data.numSamples = -5;
    data.numInputs = 1;
    data.inputs = &out_bus;
    data.numOutputs = 1;
    data.outputs = &out_bus;
    data.inputParameterChanges = changes.changes();
    ASSERT_EQ(p.audio->vtbl->process(p.audio, &data), kResultOk);
    EXPECT_EQ(out, guard);
    EXPECT_EQ(saved_value(p, 0), 77.0f);
}

TEST(Vst3Processor, ProcessRestoresTheCallersFloatingPointModes) {
    ActiveProcessor p;
    std::vector<float> in = test_signal(32), out(32);
    const unsigned saved = _mm_getcsr();
    for (unsigned bits : {0u, 0x8000u, 0x40u, 0x8040u}) {
        _mm_setcsr((saved & ~0x8040u) | bits);
        p.process(in.data(), out.data(), 32);
        EXPECT_EQ(_mm_getcsr() & 0x8040u, bits);
    }
    _mm_setcsr(saved);
}

TEST(Vst3Processor, RestartingResetsValuesAndRate) {
    const std::vector<float> in = test_signal(64);
    ActiveProcessor p;
    ParamChanges changes;
    changes.add(kDriveId, {{0, 0.9}});
    std::vector<float> got(64), want(64);
    p.process(in.data(), got.data(), 64, changes.changes());

    IComponent* c = p.component;
    EXPECT_EQ(c->vtbl->setActive(c, 0), kResultOk);
    EXPECT_EQ(c->vtbl->terminate(c), kResultOk);
    ASSERT_EQ(c->vtbl->initialize(c, reinterpret_cast<FUnknown*>(c)), kResultOk);
    EXPECT_EQ(state_info_float(p.state(), "sample_rate"), 0.0f);
    EXPECT_EQ(state_values(p.state()), std::vector<float>(kParamDefaults, kParamDefaults + 6));
    c->vtbl->activateBus(c, kAudio, kInput, 0, 1);
    c->vtbl->activateBus(c, kAudio, kOutput, 0, 1);
    ProcessSetup setup{0, kSample32, 64, 48000};
    p.audio->vtbl->setupProcessing(p.audio, &setup);
    c->vtbl->setActive(c, 1);
    Reference ref;
    p.process(in.data(), got.data(), 64);
    ref.process(in.data(), want.data(), 64);
    EXPECT_TRUE(same_bits(got, want));
}

TEST(Vst3Processor, ActivationWithoutAUsableRateStaysSilentUntilOneArrives) {
    const std::vector<float> in = test_signal(64);
    for (double rate : {0.0, -48000.0, std::nan("")}) {
        ActiveProcessor p(rate);
        std::vector<float> got(64, 5.0f), want(64);
        p.process(in.data(), got.data(), 64);
        EXPECT_EQ(got, std::vector<float>(64, 0.0f)) << "rate " << rate;

        IComponent* c = p.component;
        ProcessSetup setup{0, kSample32, 64, 48000};
        p.audio->vtbl->setupProcessing(p.audio, &setup);
        c->vtbl->setActive(c, 0);
        c->vtbl->setActive(c, 1);
        Reference ref;
        p.process(in.data(), got.data(), 64);
        ref.process(in.data(), want.data(), 64);
        EXPECT_TRUE(same_bits(got, want));
    }
}
