// The plug-in's entries: what both format layers save, and what a restore accepts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "state/plugin_state.h"
#include "state/state_alloc.h"
#include "state_test_support.h"

namespace {

Bytes save(const float values[kParamCount], const char* format = "vst3",
           const char* platform = "windows", float rate = 44100.0f) {
    size_t len = 0;
    uint8_t* out = plugin_state_save(values, format, platform, rate, &len);
    EXPECT_NE(out, nullptr);
    Bytes b = out ? Bytes(reinterpret_cast<char*>(out), len) : Bytes();
    std::free(out);
    return b;
}

constexpr float kSentinel[kParamCount] = {-7, -7, -7, -7, -7, -7};

// Loading must fail with EINVAL and leave the caller's values alone.
void expect_refused(const Bytes& state, const char* what) {
    float values[kParamCount];
    std::memcpy(values, kSentinel, sizeof values);
    errno = 0;
    EXPECT_EQ(plugin_state_load(state.data(), state.size(), values), -1) << what;
    EXPECT_EQ(errno, EINVAL) << what;
    EXPECT_EQ(std::memcmp(values, kSentinel, sizeof values), 0) << what << ": values changed";
}

// A state with the given info "id" and parameter records (in any order), built by
// the test.
Bytes state_with(const Bytes& info, const Bytes& params) {
    return state_bytes({{"info.map", info}, {"parameters.map", params}, {"version", "1.0"}});
}

Bytes good_params() {
    return parameters_map_bytes(kGoldenValues);
}

Bytes params_without(const char* key) {
    Bytes out;
    for (int i = 0; i < kParamCount; ++i)
        if (std::strcmp(kParams[i].key, key) != 0)
            out += map_record(kParams[i].key, le32f(kGoldenValues[i]));
    return out;
}

Bytes params_with(const char* key, const Bytes& value) {
    return params_without(key) + map_record(key, value);
}

} // namespace

TEST(PluginState, RoundTripsTheValuesUnclampedForEitherFormat) {
    const float values[kParamCount] = {-1.0f, 100.0f, 0.25f, 1e-40f, 300.0f, 0.7f};
    for (const char* format : {"vst3", "lv2"}) {
        const Bytes state = save(values, format, kPluginPlatform, 96000.0f);
        float back[kParamCount] = {};
        ASSERT_EQ(plugin_state_load(state.data(), state.size(), back), 0) << format;
        EXPECT_EQ(std::memcmp(back, values, sizeof back), 0) << format << ": bits differ";
    }
    const float inf[kParamCount] = {std::numeric_limits<float>::infinity(), 0, 0, 0, 0, 1};
    const Bytes state = save(inf);
    float back[kParamCount];
    ASSERT_EQ(plugin_state_load(state.data(), state.size(), back), 0);
    EXPECT_TRUE(std::isinf(back[0])) << "only a NaN is refused; clamping is the layers' job";
}

TEST(PluginState, InfoEntriesAreWrittenAsGiven) {
    const Bytes state = save(kGoldenValues, "lv2", "linux", 22050.0f);
    LoadedState l(state);
    ASSERT_EQ(l.result, 0);
    EXPECT_EQ(entries(l.s.info), (Entries{{"format", "lv2"},
                                          {"id", "fernwood-emberpress"},
                                          {"platform", "linux"},
                                          {"sample_rate", le32f(22050.0f)},
                                          {"version_build", le32(1)},
                                          {"version_major", le32(1)},
                                          {"version_minor", le32(2)},
                                          {"version_revision", le32(1)}}));
}

TEST(PluginState, OnlyIdAndParametersAreConsulted) {
    // No version numbers, format, platform or sample rate, and extra entries besides.
    const Bytes state =
        state_with(map_record("id", "fernwood-emberpress") + map_record("sample_rate", "??"),
                   good_params() + map_record("future", "x"));
    float values[kParamCount];
    ASSERT_EQ(plugin_state_load(state.data(), state.size(), values), 0);
    EXPECT_EQ(std::memcmp(values, kGoldenValues, sizeof values), 0);
}

TEST(PluginState, RefusesAnotherIdWithoutTouchingTheValues) {
    expect_refused(state_with("", good_params()), "no id");
    for (const char* id : {"fernwood-emberpres", "fernwood-emberpressX", "fernwood-emberpresS",
                           "Fernwood-emberpress", ""})
        expect_refused(state_with(map_record("id", id), good_params()), id);
    expect_refused(state_with(map_record("id", Bytes("fernwood-emberpress\0", 20)), good_params()),
                   "id with a terminating zero");
}

TEST(PluginState, RefusesAMissingShortLongOrNanParameter) {
    const Bytes info = map_record("id", "fernwood-emberpress");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    uint32_t signalling_bits = 0x7fa00000u;
    for (const ParamInfo& p : kParams) {
        expect_refused(state_with(info, params_without(p.key)), p.key);
        expect_refused(state_with(info, params_with(p.key, "")), p.key);
        expect_refused(state_with(info, params_with(p.key, Bytes(3, '\0'))), p.key);
        expect_refused(state_with(info, params_with(p.key, Bytes(5, '\0'))), p.key);
        expect_refused(state_with(info, params_with(p.key, le32f(nan))), p.key);
        expect_refused(state_with(info, params_with(p.key, le32f(-nan))), p.key);
        expect_refused(state_with(info, params_with(p.key, le32(signalling_bits))), p.key);
    }
}

TEST(PluginState, RefusesWhatTheArchiveRefuses) {
    const Bytes state = save(kGoldenValues);
    expect_refused("", "empty");
    expect_refused(state.substr(0, 4000), "cut short");
    Bytes bad_version = state;
    bad_version.replace(512 + 2048 + 512, 3, "2.0");
    expect_refused(bad_version, "another version");
}

TEST(PluginState, OutOfMemoryFailsCleanly) {
    const Bytes state = save(kGoldenValues);
    const long live = state_alloc_live();
    for (long allowed = 0;; ++allowed) {
        float values[kParamCount];
        std::memcpy(values, kSentinel, sizeof values);
        state_alloc_fail_after(allowed);
        const int loaded = plugin_state_load(state.data(), state.size(), values);
        state_alloc_fail_after(-1);
        if (loaded == 0) break;
        EXPECT_EQ(errno, ENOMEM);
        EXPECT_EQ(std::memcmp(values, kSentinel, sizeof values), 0);
        EXPECT_EQ(state_alloc_live(), live);
    }
    for (long allowed = 0;; ++allowed) {
        size_t len = 0;
        state_alloc_fail_after(allowed);
        uint8_t* out = plugin_state_save(kGoldenValues, "vst3", "windows", 1.0f, &len);
        state_alloc_fail_after(-1);
        if (out) {
            std::free(out);
            break;
        }
        ASSERT_EQ(state_alloc_live(), live) << allowed;
    }
}
