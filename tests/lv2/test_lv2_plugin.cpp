// The LV2 plug-in's behaviour as a host sees it: descriptor, features, ports, run and
// state. The same suite runs natively (instances through lilv) and in the Windows
// build under Wine (the bundle's DLL through LoadLibraryW); the audio hashes at the
// end tie the two builds to the same output.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

#include "audio_hashes.h"
#include "engine/denormals.h"
#include "engine/engine.h"
#include "loader.h"
#include "lv2_host.h"
#include "state/plugin_state.h"
#include "state/state_archive.h"

#include <lv2/atom/atom.h>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr const char* kMissingMap = "Missing feature <http://lv2plug.in/ns/ext/urid#map>\n";

// Control port values for the given plain values (bypass -> enable).
void controls_for(const float plain[kParamCount], float controls[kParamCount]) {
    for (int i = 0; i < kParamCount; ++i) controls[i] = plain[i];
    controls[PARAM_BYPASS] = plain[PARAM_BYPASS] >= 0.5f ? 0.0f : 1.0f;
}

// An instance with every port connected, activated, ready to run.
struct Running {
    HostFeatures host;
    Plugin plugin;
    explicit Running(double rate, Offer offer = Offer::MapAndLog) : plugin(rate, host, offer) {
        EXPECT_TRUE(plugin.ok());
        plugin.in.assign(256, 0.0f);
        plugin.out.assign(256, 0.0f);
        plugin.connect_all();
        plugin.activate();
    }
    std::vector<float> engine_values() {
        std::vector<float> v(kParamCount, kNaN);
        EXPECT_TRUE(plugin.engine_values(v.data()));
        return v;
    }
};

std::vector<float> plain_vector(const float* v) {
    return std::vector<float>(v, v + kParamCount);
}

constexpr float kSettings[kParamCount] = {85, 30, 70, 60, 140, 0};

// --- Descriptor and features -----------------------------------------------------

TEST(Lv2Descriptor, IndexZeroIsThePluginAndNothingElse) {
    const LV2_Descriptor* d = loader_descriptor(0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->URI, kPluginUri);
    EXPECT_EQ(d->deactivate, nullptr);
    EXPECT_NE(d->extension_data(LV2_STATE__interface), nullptr);
    EXPECT_EQ(d->extension_data("http://lv2plug.in/ns/ext/worker#interface"), nullptr);
    EXPECT_EQ(loader_descriptor(1), nullptr);
    EXPECT_EQ(loader_descriptor(0xffffffffu), nullptr);
}

// The manifest names this platform's binaries: on Windows plug-in and UI share one DLL;
// on Linux the UI is an X11 UI in a binary of its own (headless hosts never load it).
TEST(Lv2Bundle, ManifestNamesThisPlatformsBinaryAndUi) {
    std::ifstream f(loader_bundle_dir() + "manifest.ttl");
    ASSERT_TRUE(f) << loader_bundle_dir();
    std::stringstream text;
    text << f.rdbuf();
#ifdef _WIN32
    const char* plugin = "lv2:binary <fernwood-emberpress.dll>";
    const char* ui = "<https://fernwood.audio/plugins/emberpess#ui>\n"
                     "    a ui:WindowsUI ;\n"
                     "    ui:binary <fernwood-emberpress.dll> ;";
#else
    const char* plugin = "lv2:binary <fernwood-emberpress.so>";
    const char* ui = "<https://fernwood.audio/plugins/emberpess#ui>\n"
                     "    a ui:X11UI ;\n"
                     "    ui:binary <fernwood-emberpress-ui.so> ;";
#endif
    EXPECT_NE(text.str().find(plugin), std::string::npos) << text.str();
    EXPECT_NE(text.str().find(ui), std::string::npos) << text.str();
    EXPECT_TRUE(std::ifstream(loader_bundle_dir() + "emberpress_ui.ttl"));
}

TEST(Lv2Bundle, HoldsThePageAtItsTopLevelButNoBrowserLoader) {
    for (const char* file : {"index.html", "editor.css", "protocol.js", "news.js", "editor.js"}) {
        std::ifstream page(loader_bundle_dir() + file);
        EXPECT_TRUE(page && page.peek() != EOF) << file;
    }
    EXPECT_FALSE(std::ifstream(loader_bundle_dir() + "WebView2Loader.dll"))
        << "the loader comes with the browser runtime, never with the bundle";
}

TEST(Lv2Instantiate, WithoutUridMapLogsTheMissingFeatureAndStillProcesses) {
    Running r(48000, Offer::LogOnly);
    const auto log = r.host.log.entries();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text, kMissingMap);

    const auto input = test_signal(4096, 48000);
    EXPECT_TRUE(bit_equal(r.plugin.process(input), engine_reference(input, 48000, kParamDefaults)));
}

TEST(Lv2Instantiate, WithoutAnyFeatureWritesTheMessageToStandardError) {
    for (Offer offer : {Offer::NoList, Offer::EmptyList}) {
        HostFeatures host;
        testing::internal::CaptureStderr();
        Plugin plugin(44100, host, offer);
        fflush(stderr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), kMissingMap);
        ASSERT_TRUE(plugin.ok());
        plugin.in.assign(64, 0.0f);
        plugin.out.assign(64, 0.0f);
        plugin.connect_all();
        plugin.activate();
        const auto input = test_signal(2048, 44100);
        EXPECT_TRUE(
            bit_equal(plugin.process(input), engine_reference(input, 44100, kParamDefaults)));
    }
}

// --- run -------------------------------------------------------------------------

TEST(Lv2Run, OutputEqualsTheEngineBitForBitAtCommonRates) {
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const auto input = test_signal(static_cast<size_t>(rate / 4), rate);
        for (const float* plain : {kParamDefaults, kSettings}) {
            Running r(rate);
            controls_for(plain, r.plugin.controls);
            r.plugin.activate();
            const auto out = r.plugin.process(input);
            EXPECT_TRUE(bit_equal(out, engine_reference(input, rate, plain))) << "rate " << rate;
            double energy = 0;
            for (float s : out) energy += double(s) * s;
            EXPECT_GT(energy / out.size(), 1e-3) << "a silent output would prove nothing";
        }
    }
}

TEST(Lv2Run, PortChangesTakeEffectAtTheNextBlock) {
    const auto input = test_signal(8192, 48000);
    Running r(48000);
    auto out = r.plugin.process(std::vector<float>(input.begin(), input.begin() + 4096));
    r.plugin.controls[PARAM_DRIVE] = 90;
    r.plugin.controls[PARAM_VOLUME] = 60;
    auto tail = r.plugin.process(std::vector<float>(input.begin() + 4096, input.end()));
    out.insert(out.end(), tail.begin(), tail.end());

    // The engine given the same changes between the same two blocks.
    auto engine = std::make_unique<Engine>();
    engine_init(*engine);
    engine_set_sample_rate(*engine, 48000);
    for (int i = 0; i < kParamCount; ++i) engine_set_param(*engine, i, kParamDefaults[i]);
    engine_reset(*engine);
    std::vector<float> expected(input.size());
    DenormalGuard denormals;
    for (size_t pos = 0; pos < input.size(); pos += 256) {
        if (pos == 4096) {
            engine_set_param(*engine, PARAM_DRIVE, 90);
            engine_set_param(*engine, PARAM_VOLUME, 60);
        }
        engine_process(*engine, input.data() + pos, expected.data() + pos, 256);
    }
    EXPECT_TRUE(bit_equal(out, expected));
}

TEST(Lv2Run, EnablePortAboveZeroProcessesAndZeroOrBelowBypasses) {
    const auto input = test_signal(8192, 48000);
    float bypassed[kParamCount], processing[kParamCount];
    for (int i = 0; i < kParamCount; ++i) bypassed[i] = processing[i] = kParamDefaults[i];
    bypassed[PARAM_BYPASS] = 1;
    processing[PARAM_BYPASS] = 0;

    const struct {
        float enable;
        const float* plain;
    } cases[] = {{1.0f, processing}, {0.5f, processing}, {0.0f, bypassed}, {-1.0f, bypassed}};
    for (const auto& c : cases) {
        Running r(48000);
        r.plugin.controls[PARAM_BYPASS] = c.enable;
        r.plugin.activate();
        EXPECT_TRUE(bit_equal(r.plugin.process(input), engine_reference(input, 48000, c.plain)))
            << "enable " << c.enable;
        EXPECT_EQ(r.engine_values()[PARAM_BYPASS], c.plain[PARAM_BYPASS]) << "enable " << c.enable;
    }
}

TEST(Lv2Run, OutOfRangePortValuesReachTheEngineClamped) {
    const struct {
        int param;
        float port, engine;
    } cases[] = {
        {PARAM_DRIVE, 150, 100},  {PARAM_DRIVE, -3, 0},     {PARAM_TONE, 1e9f, 100},
        {PARAM_HEAT, -0.001f, 0}, {PARAM_MIX, 100.5f, 100}, {PARAM_VOLUME, 250, 200},
        {PARAM_VOLUME, -50, 0},   {PARAM_VOLUME, 199, 199}, {PARAM_BYPASS, 1e9f, 0},
        {PARAM_BYPASS, -1e9f, 1},
    };
    for (const auto& c : cases) {
        Running r(48000);
        r.plugin.controls[c.param] = c.port;
        r.plugin.process(test_signal(512, 48000));
        EXPECT_EQ(r.engine_values()[c.param], c.engine) << "param " << c.param << " " << c.port;
    }

    // A clamped value sounds exactly like the limit itself.
    const auto input = test_signal(8192, 48000);
    Running over(48000), limit(48000);
    over.plugin.controls[PARAM_DRIVE] = 150;
    over.plugin.controls[PARAM_VOLUME] = 250;
    limit.plugin.controls[PARAM_DRIVE] = 100;
    limit.plugin.controls[PARAM_VOLUME] = 200;
    EXPECT_TRUE(bit_equal(over.plugin.process(input), limit.plugin.process(input)));
}

TEST(Lv2Run, NonFinitePortValuesNeverReachTheEngine) {
    const auto input = test_signal(8192, 48000);
    for (float bad : {kNaN, kInf, -kInf}) {
        for (int param = 0; param < kParamCount; ++param) {
            Running r(48000), twin(48000);
            float good[kParamCount];
            controls_for(kSettings, good);
            std::memcpy(r.plugin.controls, good, sizeof good);
            std::memcpy(twin.plugin.controls, good, sizeof good);
            auto a = r.plugin.process(std::vector<float>(input.begin(), input.begin() + 2048));
            auto b = twin.plugin.process(std::vector<float>(input.begin(), input.begin() + 2048));

            r.plugin.controls[param] = bad; // the last good value stays in force
            a = r.plugin.process(input);
            b = twin.plugin.process(input);
            EXPECT_TRUE(bit_equal(a, b)) << "param " << param << " value " << bad;
            EXPECT_EQ(r.engine_values(), twin.engine_values()) << "param " << param;

            // A finite value is taken again (kSettings holds no 20; enable 0 bypasses).
            r.plugin.controls[param] = param == PARAM_BYPASS ? 0.0f : 20.0f;
            r.plugin.process(std::vector<float>(256, 0.0f));
            EXPECT_EQ(r.engine_values()[param], param == PARAM_BYPASS ? 1.0f : 20.0f);
        }
    }
}

TEST(Lv2Run, NonFinitePortValueAtActivateKeepsTheLastGoodValue) {
    Running r(48000);
    r.plugin.controls[PARAM_TONE] = 33;
    r.plugin.activate();
    r.plugin.controls[PARAM_TONE] = kNaN;
    r.plugin.controls[PARAM_MIX] = -kInf;
    r.plugin.activate();
    r.plugin.process(std::vector<float>(256, 0.0f));
    const auto v = r.engine_values();
    EXPECT_EQ(v[PARAM_TONE], 33);
    EXPECT_EQ(v[PARAM_MIX], 100);
}

TEST(Lv2Run, InPlaceProcessingEqualsSeparateBuffers) {
    const auto input = test_signal(8192, 96000);
    Running separate(96000), in_place(96000);
    controls_for(kSettings, separate.plugin.controls);
    controls_for(kSettings, in_place.plugin.controls);
    const auto expected = separate.plugin.process(input);

    std::vector<float> buffer = input;
    in_place.plugin.connect(PORT_INPUT, buffer.data());
    in_place.plugin.connect(PORT_OUTPUT, buffer.data());
    for (size_t pos = 0; pos < buffer.size(); pos += 256) {
        in_place.plugin.connect(PORT_INPUT, buffer.data() + pos);
        in_place.plugin.connect(PORT_OUTPUT, buffer.data() + pos);
        in_place.plugin.run(256);
    }
    EXPECT_TRUE(bit_equal(buffer, expected));
}

TEST(Lv2Run, ZeroFramesTouchNoBufferButTakeUpPortChanges) {
    Running r(48000);
    std::vector<float> in(64, 0.25f), out(64, -7.0f);
    r.plugin.connect(PORT_INPUT, in.data());
    r.plugin.connect(PORT_OUTPUT, out.data());
    r.plugin.controls[PARAM_DRIVE] = 12;
    r.plugin.controls[PARAM_BYPASS] = 0;
    r.plugin.run(0);
    EXPECT_EQ(in, std::vector<float>(64, 0.25f));
    EXPECT_EQ(out, std::vector<float>(64, -7.0f));
    const auto v = r.engine_values();
    EXPECT_EQ(v[PARAM_DRIVE], 12);
    EXPECT_EQ(v[PARAM_BYPASS], 1);
}

TEST(Lv2Run, UnconnectedAudioPortProducesNothingButTakesUpPortChanges) {
    Running r(48000);
    std::vector<float> in(64, 0.25f), out(64, -7.0f);

    r.plugin.connect(PORT_INPUT, nullptr);
    r.plugin.connect(PORT_OUTPUT, out.data());
    r.plugin.controls[PARAM_HEAT] = 10;
    r.plugin.run(64);
    EXPECT_EQ(out, std::vector<float>(64, -7.0f));
    EXPECT_EQ(r.engine_values()[PARAM_HEAT], 10);

    r.plugin.connect(PORT_INPUT, in.data());
    r.plugin.connect(PORT_OUTPUT, nullptr);
    r.plugin.controls[PARAM_HEAT] = 20;
    r.plugin.run(64);
    EXPECT_EQ(in, std::vector<float>(64, 0.25f));
    EXPECT_EQ(r.engine_values()[PARAM_HEAT], 20);

    // Reconnected, it processes again from where the engine stood.
    r.plugin.connect(PORT_OUTPUT, out.data());
    r.plugin.run(64);
    EXPECT_NE(out, std::vector<float>(64, -7.0f));
}

TEST(Lv2Run, UnconnectedControlPortTakesTheDefaultAtActivateAndThenKeepsItsValue) {
    Running r(48000);
    r.plugin.controls[PARAM_MIX] = 40;
    r.plugin.process(std::vector<float>(256, 0.0f));
    r.plugin.connect(control_port(PARAM_MIX), nullptr);
    r.plugin.process(std::vector<float>(256, 0.0f));
    EXPECT_EQ(r.engine_values()[PARAM_MIX], 40);

    r.plugin.activate();
    EXPECT_EQ(r.engine_values()[PARAM_MIX], kParamDefaults[PARAM_MIX]);
}

// --- State -----------------------------------------------------------------------

// Archive bytes built entry by entry, for states no writer of ours would make.
struct Entries {
    std::vector<std::pair<std::string, std::string>> info, params;

    static std::string le32(float v) {
        std::string s(4, '\0');
        std::memcpy(s.data(), &v, 4);
        return s;
    }
    explicit Entries(const float plain[kParamCount]) {
        info = {{"id", "fernwood-emberpress"}, {"format", "lv2"}, {"platform", "windows"}};
        for (int i = 0; i < kParamCount; ++i) params.push_back({kParams[i].key, le32(plain[i])});
    }
    void remove_param(const std::string& key) {
        std::erase_if(params, [&](const auto& e) { return e.first == key; });
    }
    std::string& param(const std::string& key) {
        for (auto& e : params)
            if (e.first == key) return e.second;
        throw std::runtime_error(key);
    }
    std::vector<uint8_t> build() const {
        state_archive a;
        EXPECT_EQ(state_archive_init(&a), 0);
        for (const auto& [k, v] : info)
            kv_map_insert(a.info, k.data(), k.size(), v.data(), v.size());
        for (const auto& [k, v] : params)
            kv_map_insert(a.parameters, k.data(), k.size(), v.data(), v.size());
        size_t len = 0;
        uint8_t* bytes = state_archive_save(&a, &len);
        state_archive_free(&a);
        std::vector<uint8_t> out(bytes, bytes + len);
        free(bytes);
        return out;
    }
};

// A store holding `bytes` under the state key, as a host would hand them back.
MemoryState state_holding(HostFeatures& host, std::vector<uint8_t> bytes,
                          const char* type = LV2_ATOM__Chunk) {
    MemoryState s;
    auto& p = s.properties[host.urids.map(kStateKeyUri)];
    p.bytes = std::move(bytes);
    p.type = host.urids.map(type);
    p.flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return s;
}

std::string text_entry(const kv_map* map, const char* key) {
    size_t len = 0;
    const void* v = kv_map_find(map, key, strlen(key), &len);
    return v ? std::string(static_cast<const char*>(v), len) : "<missing>";
}

TEST(Lv2State, SaveStoresOneChunkHoldingTheArchive) {
    Running r(44100);
    controls_for(kSettings, r.plugin.controls);
    r.plugin.process(std::vector<float>(256, 0.0f));

    MemoryState store;
    ASSERT_EQ(r.plugin.save(store), LV2_STATE_SUCCESS);
    ASSERT_EQ(store.properties.size(), 1u);
    const auto& [key, p] = *store.properties.begin();
    EXPECT_STREQ(r.host.urids.unmap(key), kStateKeyUri);
    EXPECT_STREQ(r.host.urids.unmap(p.type), LV2_ATOM__Chunk);
    EXPECT_EQ(p.flags, uint32_t(LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE));
    ASSERT_EQ(p.bytes.size(), 5632u);

    state_archive a;
    ASSERT_EQ(state_archive_load(&a, p.bytes.data(), p.bytes.size()), 0);
    EXPECT_EQ(text_entry(a.info, "id"), "fernwood-emberpress");
    EXPECT_EQ(text_entry(a.info, "format"), "lv2");
    EXPECT_EQ(text_entry(a.info, "platform"), kPluginPlatform);
    size_t len = 0;
    const void* rate = kv_map_find(a.info, "sample_rate", 11, &len);
    ASSERT_EQ(len, 4u);
    float rate_value;
    std::memcpy(&rate_value, rate, 4);
    EXPECT_EQ(rate_value, 44100.0f);
    state_archive_free(&a);

    float values[kParamCount];
    ASSERT_EQ(plugin_state_load(p.bytes.data(), p.bytes.size(), values), 0);
    EXPECT_EQ(plain_vector(values), plain_vector(kSettings));
}

TEST(Lv2State, SaveBeforeActivateHoldsTheDefaults) {
    HostFeatures host;
    Plugin plugin(48000, host);
    float values[kParamCount];
    ASSERT_TRUE(plugin.engine_values(values));
    EXPECT_EQ(plain_vector(values), plain_vector(kParamDefaults));
}

TEST(Lv2State, RestoreIntoAFreshInstanceSoundsLikeTheSavedSettings) {
    const auto input = test_signal(16384, 48000);
    const float bypassed[kParamCount] = {20, 80, 10, 50, 180, 1};
    for (const float* plain : {kSettings, bypassed}) {
        Running source(48000);
        controls_for(plain, source.plugin.controls);
        source.plugin.process(std::vector<float>(256, 0.0f));
        MemoryState saved;
        ASSERT_EQ(source.plugin.save(saved), LV2_STATE_SUCCESS);

        // A fresh instance with its control ports unconnected, so only the state
        // speaks, against a twin that gets the same values through its ports.
        HostFeatures host;
        Plugin fresh(48000, host);
        fresh.activate();
        MemoryState copy = state_holding(host, saved.properties.begin()->second.bytes);
        ASSERT_EQ(fresh.restore(copy), LV2_STATE_SUCCESS);
        Running twin(48000);
        controls_for(plain, twin.plugin.controls);

        EXPECT_TRUE(bit_equal(fresh.process(input), twin.plugin.process(input)));
        float values[kParamCount];
        ASSERT_TRUE(fresh.engine_values(values));
        EXPECT_EQ(plain_vector(values), plain_vector(plain));
    }
}

TEST(Lv2State, StateWrittenByTheVst3LayerRestores) {
    const float plain[kParamCount] = {11, 22, 33, 44, 155, 0};
    size_t len = 0;
    uint8_t* bytes = plugin_state_save(plain, "vst3", "windows", 0.0f, &len);
    ASSERT_NE(bytes, nullptr);
    Running r(48000);
    r.plugin.connect(control_port(PARAM_TONE), nullptr);
    r.plugin.connect(control_port(PARAM_VOLUME), nullptr);
    MemoryState s = state_holding(r.host, std::vector<uint8_t>(bytes, bytes + len));
    free(bytes);
    ASSERT_EQ(r.plugin.restore(s), LV2_STATE_SUCCESS);
    r.plugin.process(std::vector<float>(256, 0.0f));
    const auto v = r.engine_values();
    EXPECT_EQ(v[PARAM_TONE], 22);
    EXPECT_EQ(v[PARAM_VOLUME], 155);
}

TEST(Lv2State, RestoredValuesAreClampedToTheirRanges) {
    const struct {
        int param;
        float stored, applied;
    } cases[] = {
        {PARAM_VOLUME, 300, 200}, {PARAM_DRIVE, -1, 0},      {PARAM_TONE, kInf, 100},
        {PARAM_MIX, -kInf, 0},    {PARAM_BYPASS, 0.5f, 1},   {PARAM_BYPASS, 0, 0},
        {PARAM_BYPASS, -2, 0},    {PARAM_BYPASS, 1e-30f, 1},
    };
    for (const auto& c : cases) {
        Running r(48000);
        r.plugin.connect(control_port(c.param), nullptr); // no port override
        Entries e(kParamDefaults);
        e.param(kParams[c.param].key) = Entries::le32(c.stored);
        MemoryState s = state_holding(r.host, e.build());
        ASSERT_EQ(r.plugin.restore(s), LV2_STATE_SUCCESS);
        r.plugin.run(0);
        EXPECT_EQ(r.engine_values()[c.param], c.applied) << kParams[c.param].key << " " << c.stored;
    }
}

TEST(Lv2State, RestoredValuesApplyAtTheNextRunAndConnectedPortsThatDifferOverrideThem) {
    Running r(48000);
    r.plugin.connect(control_port(PARAM_TONE), nullptr);
    r.plugin.controls[PARAM_HEAT] = 77; // equal to the restored value: no override
    r.plugin.process(std::vector<float>(256, 0.0f));

    const float restored[kParamCount] = {80, 20, 77, 30, 120, 1};
    MemoryState s = state_holding(r.host, Entries(restored).build());
    ASSERT_EQ(r.plugin.restore(s), LV2_STATE_SUCCESS);
    r.plugin.run(0);
    const auto v = r.engine_values();
    EXPECT_EQ(v[PARAM_DRIVE], 50); // the port differs and overrides
    EXPECT_EQ(v[PARAM_TONE], 20);  // unconnected: the restored value
    EXPECT_EQ(v[PARAM_HEAT], 77);
    EXPECT_EQ(v[PARAM_BYPASS], 0); // enable 1 overrides the restored bypass
}

TEST(Lv2State, RestoreBeforeActivateIsSupersededByThePorts) {
    HostFeatures host;
    Plugin plugin(48000, host);
    plugin.in.assign(256, 0.0f);
    plugin.out.assign(256, 0.0f);
    plugin.connect_all();
    const float restored[kParamCount] = {80, 20, 10, 30, 120, 1};
    MemoryState s = state_holding(host, Entries(restored).build());
    ASSERT_EQ(plugin.restore(s), LV2_STATE_SUCCESS);
    plugin.controls[PARAM_DRIVE] = 64;
    plugin.activate();
    plugin.run(0);
    float v[kParamCount];
    ASSERT_TRUE(plugin.engine_values(v));
    float expected[kParamCount] = {64, 50, 50, 100, 100, 0};
    EXPECT_EQ(plain_vector(v), plain_vector(expected));
}

// Each refusal answers with its status and log text and leaves the instance as it was:
// its values and its sound.
TEST(Lv2State, RefusedRestoresChangeNothing) {
    const float stored[kParamCount] = {90, 10, 90, 10, 190, 1};
    auto with = [&](auto change) {
        Entries e(stored);
        change(e);
        return e.build();
    };
    std::vector<uint8_t> valid = Entries(stored).build();
    std::vector<uint8_t> truncated(valid.begin(), valid.begin() + 3000);
    std::vector<uint8_t> corrupt = valid;
    corrupt[124] = 'x'; // the outer member's size field

    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        bool has_property;
    } cases[] = {
        {"id of another plug-in, same length",
         with([](Entries& e) { e.info[0].second = "fernwood-emberprest"; }), true},
        {"id one byte shorter", with([](Entries& e) { e.info[0].second = "fernwood-emberpres"; }),
         true},
        {"id one byte longer", with([](Entries& e) { e.info[0].second += "s"; }), true},
        {"id missing", with([](Entries& e) { e.info.erase(e.info.begin()); }), true},
        {"drive missing", with([](Entries& e) { e.remove_param("drive"); }), true},
        {"bypass missing", with([](Entries& e) { e.remove_param("bypass"); }), true},
        {"volume 8 bytes", with([](Entries& e) { e.param("volume") += std::string(4, '\0'); }),
         true},
        {"tone 2 bytes", with([](Entries& e) { e.param("tone").resize(2); }), true},
        {"drive NaN", with([](Entries& e) { e.param("drive") = Entries::le32(kNaN); }), true},
        {"tone NaN", with([](Entries& e) { e.param("tone") = Entries::le32(kNaN); }), true},
        {"heat NaN", with([](Entries& e) { e.param("heat") = Entries::le32(kNaN); }), true},
        {"mix NaN", with([](Entries& e) { e.param("mix") = Entries::le32(kNaN); }), true},
        {"volume NaN", with([](Entries& e) { e.param("volume") = Entries::le32(kNaN); }), true},
        {"bypass NaN", with([](Entries& e) { e.param("bypass") = Entries::le32(-kNaN); }), true},
        {"truncated archive", truncated, true},
        {"corrupt archive", corrupt, true},
        {"empty value", {}, true},
        {"no property", {}, false},
    };
    const auto input = test_signal(4096, 48000);
    for (const auto& c : cases) {
        Running r(48000), twin(48000);
        // Unconnected control ports would let a wrongly applied restore show.
        for (Running* x : {&r, &twin}) {
            controls_for(kSettings, x->plugin.controls);
            x->plugin.process(std::vector<float>(256, 0.0f));
            for (uint32_t i = 0; i < kParamCount; ++i) x->plugin.connect(control_port(i), nullptr);
        }
        MemoryState s;
        if (c.has_property) s = state_holding(r.host, c.bytes);
        r.host.log.clear();

        const LV2_State_Status status = r.plugin.restore(s);
        const auto log = r.host.log.entries();
        if (c.has_property) {
            EXPECT_EQ(status, LV2_STATE_ERR_UNKNOWN) << c.what;
            EXPECT_TRUE(log.empty()) << c.what;
        } else {
            EXPECT_EQ(status, LV2_STATE_ERR_NO_PROPERTY) << c.what;
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].type, LV2_LOG__Error);
            EXPECT_EQ(log[0].text, "Cannot restore state since property "
                                   "<https://fernwood.audio/plugins/emberpress#state_data> "
                                   "could not be retrieved\n");
        }
        EXPECT_EQ(r.engine_values(), twin.engine_values()) << c.what;
        EXPECT_TRUE(bit_equal(r.plugin.process(input), twin.plugin.process(input))) << c.what;
    }
}

TEST(Lv2State, AValueOfAnotherTypeIsStillReadAsArchiveBytes) {
    Running r(48000);
    r.plugin.connect(control_port(PARAM_DRIVE), nullptr);
    const float stored[kParamCount] = {3, 50, 50, 100, 100, 0};
    MemoryState s = state_holding(r.host, Entries(stored).build(), LV2_ATOM__String);
    ASSERT_EQ(r.plugin.restore(s), LV2_STATE_SUCCESS);
    r.plugin.run(0);
    EXPECT_EQ(r.engine_values()[PARAM_DRIVE], 3);
}

TEST(Lv2State, WithoutUridMapSaveAndRestoreRefuseWithoutCallingTheHost) {
    Running r(48000, Offer::LogOnly);
    controls_for(kSettings, r.plugin.controls);
    r.plugin.process(std::vector<float>(256, 0.0f));
    r.host.log.clear();

    MemoryState s;
    EXPECT_EQ(r.plugin.save(s), LV2_STATE_ERR_UNKNOWN);
    EXPECT_EQ(s.store_calls, 0);
    MemoryState full = state_holding(r.host, Entries(kParamDefaults).build());
    EXPECT_EQ(r.plugin.restore(full), LV2_STATE_ERR_UNKNOWN);
    EXPECT_EQ(full.retrieve_calls, 0);

    const auto log = r.host.log.entries();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, "Host is trying to store state but didn't provide URID map\n");
    EXPECT_EQ(log[1].text, "Host is trying to restore state but didn't provide URID map\n");

    // The refused restore changed nothing: the instance still sounds like its ports.
    const auto input = test_signal(4096, 48000);
    Running twin(48000, Offer::LogOnly);
    controls_for(kSettings, twin.plugin.controls);
    twin.plugin.process(std::vector<float>(256, 0.0f));
    EXPECT_TRUE(bit_equal(r.plugin.process(input), twin.plugin.process(input)));
}

TEST(Lv2State, SaveReportsAFailedStore) {
    Running r(48000);
    MemoryState s;
    s.store_result = LV2_STATE_ERR_NO_SPACE;
    EXPECT_EQ(r.plugin.save(s), LV2_STATE_ERR_UNKNOWN);
    EXPECT_EQ(s.store_calls, 1);
    EXPECT_TRUE(r.host.log.entries().empty());
}

// --- Audio hashes ----------------------------------------------------------------

// The output of a few fixed renders, hashed. Both builds must give the recorded
// hashes: the same plug-in makes the same sound on Linux and on Windows.
std::vector<std::pair<std::string, uint64_t>> render_hashes() {
    std::vector<std::pair<std::string, uint64_t>> out;
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const auto input = test_signal(static_cast<size_t>(rate / 2), rate);
        const std::string r = std::to_string(static_cast<int>(rate));
        {
            Running x(rate);
            out.push_back({"defaults@" + r, hash_samples(x.plugin.process(input))});
        }
        {
            Running x(rate);
            controls_for(kSettings, x.plugin.controls);
            out.push_back({"settings@" + r, hash_samples(x.plugin.process(input, 64))});
        }
        {
            // A parameter sweep one step per block, and bypass toggled on and off.
            Running x(rate);
            std::vector<float> all;
            for (size_t pos = 0, block = 0; pos < input.size(); pos += 512, ++block) {
                x.plugin.controls[PARAM_DRIVE] = static_cast<float>(block % 101);
                x.plugin.controls[PARAM_TONE] = static_cast<float>(100 - block % 101);
                x.plugin.controls[PARAM_VOLUME] = static_cast<float>(block * 7 % 201);
                x.plugin.controls[PARAM_BYPASS] = (block / 16) % 2 ? 0.0f : 1.0f;
                const size_t n = std::min<size_t>(512, input.size() - pos);
                auto part = x.plugin.process(
                    std::vector<float>(input.begin() + pos, input.begin() + pos + n), 512);
                all.insert(all.end(), part.begin(), part.end());
            }
            out.push_back({"automation@" + r, hash_samples(all)});
        }
    }
    return out;
}

TEST(Lv2AudioHashes, EqualTheRecordedNativeOutput) {
    const auto hashes = render_hashes();
    std::string table;
    for (const auto& [name, hash] : hashes) {
        char line[96];
        std::snprintf(line, sizeof line, "    {\"%s\", 0x%016llxull},\n", name.c_str(),
                      static_cast<unsigned long long>(hash));
        table += line;
    }
    bool all_equal = hashes.size() == std::size(kRecordedAudioHashes);
    for (size_t i = 0; i < hashes.size() && all_equal; ++i) {
        all_equal = hashes[i].first == kRecordedAudioHashes[i].name &&
                    hashes[i].second == kRecordedAudioHashes[i].hash;
    }
    EXPECT_TRUE(all_equal) << "The output differs from the recorded native output. If the "
                              "sound changed on purpose, record the native build's hashes in "
                              "tests/lv2/audio_hashes.h:\n"
                           << table;
}

} // namespace
