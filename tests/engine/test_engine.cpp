// Engine behaviour through its five operations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/denormals.h"
#include "engine/engine.h"

namespace {

// A ready engine (kept on the heap: the record is a few kilobytes).
std::unique_ptr<Engine> make_engine(float fs,
                                    std::initializer_list<std::pair<int, float>> params = {}) {
    auto e = std::make_unique<Engine>();
    engine_init(*e);
    for (auto [i, v] : params) engine_set_param(*e, i, v);
    engine_set_sample_rate(*e, fs);
    engine_reset(*e);
    return e;
}

// Noise in [-0.8, 0.8), never a negative zero.
std::vector<float> noise(size_t n, uint32_t seed = 1) {
    std::vector<float> v(n);
    for (auto& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = float(int32_t(seed) >> 8) * (0.8f / 8388608.0f);
        if (x == 0.0f) x = 0.0f;
    }
    return v;
}

std::vector<float> run(Engine& e, const std::vector<float>& in) {
    std::vector<float> out(in.size());
    engine_process(e, in.data(), out.data(), uint32_t(in.size()));
    return out;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

} // namespace

TEST(Engine, OversamplingFactorPerRate) {
    const struct {
        float fs;
        int factor;
    } rows[] = {{8000, 16}, {11025, 16}, {22050, 8}, {32000, 6},  {44100, 4},
                {48000, 4}, {88200, 2},  {96000, 2}, {176400, 1}, {192000, 1}};
    for (auto r : rows) EXPECT_EQ(make_engine(r.fs)->os_factor, r.factor) << r.fs;
}

TEST(Engine, RatesTheHostsNeverGiveStillKeepTheFactorInRange) {
    for (float fs : {0.0f, -48000.0f, NAN}) {
        auto e = make_engine(fs);
        EXPECT_GE(e->os_factor, 1) << fs;
        EXPECT_LE(e->os_factor, kMaxOsFactor) << fs;
    }
}

TEST(Engine, SilenceInGivesSilenceOut) {
    DenormalGuard guard;
    for (float fs : {8000.0f, 48000.0f, 176400.0f}) {
        auto e = make_engine(fs, {{PARAM_DRIVE, 100}});
        const auto out = run(*e, std::vector<float>(4096, 0.0f));
        for (float y : out) ASSERT_EQ(bits_of(y), 0u) << fs;
    }
}

TEST(Engine, SettledBypassGivesTheInputBitForBit) {
    DenormalGuard guard;
    for (float fs : {8000.0f, 48000.0f, 176400.0f}) {
        auto e = make_engine(fs, {{PARAM_BYPASS, 1}, {PARAM_DRIVE, 100}});
        const auto in = noise(20000);
        EXPECT_TRUE(same_bits(run(*e, in), in)) << fs;
    }
    // Switched while running: after the 50 ms fade has died away, the input again.
    auto e = make_engine(48000);
    const auto in = noise(48000);
    run(*e, in);
    engine_set_param(*e, PARAM_BYPASS, 1);
    for (int s = 0; s < 5; ++s) run(*e, in);
    EXPECT_EQ(e->bypass.y, 0.0f);
    EXPECT_TRUE(same_bits(run(*e, in), in));
}

TEST(Engine, SettledDryMixIsGainTimesMakeupTimesVolume) {
    DenormalGuard guard;
    for (float vol : {100.0f, 200.0f, 30.0f}) {
        auto e = make_engine(48000, {{PARAM_MIX, 0}, {PARAM_VOLUME, vol}});
        const float m = e->mix.target; // the exponential leaves a tiny residue at 0
        EXPECT_LT(std::fabs(m), 2e-5f);
        const float v = e->volume.target;
        const auto in = noise(4800);
        const auto out = run(*e, in);
        for (size_t i = 0; i < in.size(); ++i) {
            const float want = in[i] * 4 * 4.3127531f * v;
            // The residue lets m times (processed - dry) through, where both are bounded
            // (their difference stays below 40 for this input).
            EXPECT_NEAR(out[i], want, std::fabs(m) * 40 * 4.32f * v + 1e-6f * std::fabs(want)) << i;
        }
    }
}

TEST(Engine, ZeroLengthBlockChangesNoState) {
    DenormalGuard guard;
    auto e = make_engine(44100);
    engine_set_param(*e, PARAM_TONE, 90); // something still moving
    run(*e, noise(300));
    Engine before;
    std::memcpy(&before, e.get(), sizeof before);
    float dummy = 1.0f;
    engine_process(*e, &dummy, &dummy, 0);
    EXPECT_EQ(std::memcmp(&before, e.get(), sizeof before), 0);
    EXPECT_EQ(dummy, 1.0f);
}

TEST(Engine, InPlaceEqualsSeparateBuffers) {
    DenormalGuard guard;
    for (float fs : {8000.0f, 44100.0f, 176400.0f}) {
        auto a = make_engine(fs, {{PARAM_DRIVE, 80}});
        auto b = make_engine(fs, {{PARAM_DRIVE, 80}});
        const auto in = noise(5000, 7);
        const auto separate = run(*a, in);
        auto buf = in;
        engine_process(*b, buf.data(), buf.data(), uint32_t(buf.size()));
        EXPECT_TRUE(same_bits(separate, buf)) << fs;
    }
}

TEST(Engine, ResetSnapsEverySmoothedValueAndStartsLikeAFreshEngine) {
    DenormalGuard guard;
    const std::initializer_list<std::pair<int, float>> params = {
        {PARAM_DRIVE, 90}, {PARAM_TONE, 10},    {PARAM_HEAT, 80},
        {PARAM_MIX, 40},   {PARAM_VOLUME, 150}, {PARAM_BYPASS, 1}};
    auto e = make_engine(48000);
    run(*e, noise(1000));
    for (auto [i, v] : params) engine_set_param(*e, i, v);
    run(*e, noise(100)); // mid-glide
    ASSERT_NE(e->clip.drive, e->clip.drive_target);
    ASSERT_NE(e->mix.y, e->mix.target);

    engine_reset(*e);
    EXPECT_EQ(e->clip.drive, e->clip.drive_target);
    EXPECT_EQ(e->clip.f1, e->clip.f1_target);
    EXPECT_EQ(e->clip.f2, e->clip.f2_target);
    EXPECT_EQ(e->tone.tone, e->tone.tone_target);
    EXPECT_EQ(e->tone.cap_scale, e->tone.cap_scale_target);
    for (const Smoother* s : {&e->heat_gain, &e->mix, &e->volume, &e->bypass})
        EXPECT_EQ(s->y, s->target);

    // The first sample already uses the targets: same bits as a fresh engine.
    auto fresh = make_engine(48000, params);
    engine_set_param(*e, PARAM_BYPASS, 0);
    engine_set_param(*fresh, PARAM_BYPASS, 0);
    const auto in = noise(3000, 3);
    EXPECT_TRUE(same_bits(run(*e, in), run(*fresh, in)));
}

TEST(Engine, NewRateAndResetEqualAFreshEngineAtThatRate) {
    DenormalGuard guard;
    for (float fs : {8000.0f, 96000.0f, 176400.0f}) {
        auto e = make_engine(44100, {{PARAM_HEAT, 20}});
        run(*e, noise(2000));
        engine_set_sample_rate(*e, fs);
        engine_reset(*e);
        auto fresh = make_engine(fs, {{PARAM_HEAT, 20}});
        // Parameter glides after the restart run at the new rate's speed too.
        const auto in = noise(6000, 5);
        engine_set_param(*e, PARAM_MIX, 20);
        engine_set_param(*fresh, PARAM_MIX, 20);
        EXPECT_TRUE(same_bits(run(*e, in), run(*fresh, in))) << fs;
    }
}

namespace {

// The chain sample by sample, as the units define it: the interpolator writes the
// oversampled samples of one input sample into os_buf, each is replaced by its pass
// through clipping stage, heat gain and tone stage, the decimator takes them back.
void reference_process(Engine& e, const float* in, float* out, uint32_t n) {
    for (Smoother* s : {&e.heat_gain, &e.mix, &e.volume, &e.bypass})
        if (s->set.dirty) smoother_update_coefs(*s);
    const auto pass = [&](float x) {
        clip_update(e.clip, false);
        clip_coefs(e.clip);
        const float c = clip_process(e.clip, e.clip_state, x);
        const float g = smoother_step(e.heat_gain);
        tone_update(e.tone, false);
        return tone_process(e.tone, e.tone_state, c * g);
    };
    for (uint32_t i = 0; i < n; ++i) {
        const float u = 4 * in[i];
        const float w =
            hp1_step(e.hp_in_b, e.hp_in_b_state, hp1_step(e.hp_in_a, e.hp_in_a_state, u));
        float y;
        if (e.os_factor < 2) {
            y = pass(w);
        } else {
            resampler_process(e.up, e.up_state, &w, e.os_buf, 1);
            for (int j = 0; j < e.os_factor; ++j) e.os_buf[j] = pass(e.os_buf[j]);
            resampler_process(e.down, e.down_state, e.os_buf, &y, uint32_t(e.os_factor));
        }
        const float o =
            hp1_step(e.hp_out_b, e.hp_out_b_state, hp1_step(e.hp_out_a, e.hp_out_a_state, y));
        const float m = smoother_step(e.mix);
        const float z = u + m * (o - u);
        const float k = 0.7621998f + 3.5505533f * fast_exp2(m * -2.703428f * 1.442695f);
        const float vol = smoother_step(e.volume);
        const float b = smoother_step(e.bypass);
        out[i] = in[i] + b * (z * k * vol - in[i]);
    }
}

} // namespace

TEST(Engine, BlockProcessingMatchesTheSampleBySampleChainIncludingItsState) {
    DenormalGuard guard;
    // Silence of both signed zeros from the reset on (all states exactly zero, where a
    // differently ordered filter step would first differ), then noise, then silence.
    auto in = noise(6000, 11);
    for (size_t i = 0; i < 1500; ++i) in[i] = (i % 3) ? 0.0f : -0.0f;
    for (size_t i = 4000; i < 4400; ++i) in[i] = (i % 2) ? 0.0f : -0.0f;
    for (float fs : {8000.0f, 22050.0f, 44100.0f, 96000.0f, 176400.0f}) {
        for (uint32_t block : {1u, 3u, 64u, 517u}) {
            auto a = make_engine(fs);
            auto b = make_engine(fs);
            std::vector<float> out_a(in.size()), out_b(in.size());
            bool restarted = false;
            for (size_t pos = 0, k = 0; pos < in.size(); pos += block, ++k) {
                const uint32_t n = uint32_t(std::min<size_t>(block, in.size() - pos));
                if (pos < in.size() / 2) {
                    if (k % 5 == 0) { // in the first half parameters move now and then
                        const int index = int(k / 5 % kParamCount);
                        const float value = index == PARAM_BYPASS ? float(k / 30 % 2) : k * 7 % 100;
                        engine_set_param(*a, index, value);
                        engine_set_param(*b, index, value);
                    }
                } else if (!restarted) { // then a restart, after which nothing moves
                    engine_reset(*a);
                    engine_reset(*b);
                    restarted = true;
                }
                engine_process(*a, &in[pos], &out_a[pos], n);
                reference_process(*b, &in[pos], &out_b[pos], n);
                ASSERT_EQ(std::memcmp(a.get(), b.get(), sizeof(Engine)), 0)
                    << fs << " Hz, blocks of " << block << ", at " << pos;
            }
            EXPECT_TRUE(same_bits(out_a, out_b)) << fs << " Hz, blocks of " << block;
        }
    }
}
