// Parameter conversion into engine targets, the clipping stage and the tone stage.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <cstring>

#include "engine/denormals.h"
#include "engine/engine.h"

namespace {

struct Fresh {
    Engine e;
    Fresh() { engine_init(e); }
};

float target_after(int index, float plain) {
    static Engine e;
    engine_init(e);
    engine_set_param(e, index, plain);
    switch (index) {
    case PARAM_DRIVE:
        return e.clip.drive_target;
    case PARAM_TONE:
        return e.tone.tone_target;
    case PARAM_MIX:
        return e.mix.target;
    case PARAM_VOLUME:
        return e.volume.target;
    case PARAM_BYPASS:
        return e.bypass.target;
    default:
        return e.heat_gain.target;
    }
}

} // namespace

TEST(ParamTargets, DriveRunsFromNearTheFloorToExactlyOne) {
    EXPECT_NEAR(target_after(PARAM_DRIVE, 0), 0.079f, 0.001f);
    EXPECT_EQ(target_after(PARAM_DRIVE, 97), 1.0f);
    EXPECT_EQ(target_after(PARAM_DRIVE, 100), 1.0f);
    EXPECT_LT(target_after(PARAM_DRIVE, 96), 1.0f);
    EXPECT_NEAR(target_after(PARAM_DRIVE, 50), 0.3195f, 0.001f);
}

TEST(ParamTargets, ToneReadsTheTaperAndKeepsBothHalvesOpen) {
    EXPECT_EQ(target_after(PARAM_TONE, 100), 0.999f); // last interval, f just below 1
    EXPECT_EQ(target_after(PARAM_TONE, 0), 0.001f);
    EXPECT_NEAR(target_after(PARAM_TONE, 50), 0.893214f, 1e-6f); // next to a table point
    EXPECT_NEAR(target_after(PARAM_TONE, 32.5f), (0.369825f + 0.595395f) / 2, 1e-5f);
}

TEST(ParamTargets, ToneOutsideItsRangeStaysInsideTheTable) {
    // Values the layers never send must not read past the taper table.
    EXPECT_EQ(target_after(PARAM_TONE, 150), 0.999f);
    EXPECT_EQ(target_after(PARAM_TONE, -40), 0.001f);
    EXPECT_TRUE(std::isnan(target_after(PARAM_TONE, NAN)));
}

TEST(ParamTargets, HeatSetsCornersAndCompensation) {
    Fresh f;
    const struct {
        float x, h, gain;
    } rows[] = {{0, 3.98107f, 1.393774f}, {50, 1.0f, 1.0f}, {100, 0.251189f, 0.8448f}};
    for (auto r : rows) {
        engine_set_param(f.e, PARAM_HEAT, r.x);
        EXPECT_NEAR(f.e.clip.f1_target / 720.48413f, r.h, r.h * 1e-3f) << r.x;
        EXPECT_NEAR(f.e.clip.f2_target / 5663.6753f, r.h, r.h * 1e-3f) << r.x;
        EXPECT_NEAR(f.e.heat_gain.target, r.gain, 1e-4f) << r.x;
    }
}

TEST(ParamTargets, MixAndVolumeCurves) {
    EXPECT_NEAR(target_after(PARAM_MIX, 0), 0.0f, 1e-4f);
    EXPECT_NEAR(target_after(PARAM_MIX, 100), 1.0f, 1e-4f);
    EXPECT_NEAR(target_after(PARAM_MIX, 50), (7.0 - 1) / 48, 1e-3);

    EXPECT_EQ(target_after(PARAM_VOLUME, 0), 0.0f);
    EXPECT_EQ(target_after(PARAM_VOLUME, 0.05f), 0.0f);
    EXPECT_NEAR(target_after(PARAM_VOLUME, 100), 0.25f, 1e-3f); // -12.04 dB
    const auto db = [](float v) { return 20 * std::log10(v); };
    EXPECT_NEAR(db(target_after(PARAM_VOLUME, 200)), 11.96f, 0.05f);
    EXPECT_NEAR(db(target_after(PARAM_VOLUME, 10)), -33.64f, 0.05f);
    // Both branches give c = 0.9 at 10.
    EXPECT_NEAR(target_after(PARAM_VOLUME, std::nextafter(10.0f, 0.0f)),
                target_after(PARAM_VOLUME, 10), 1e-6f);
}

TEST(ParamTargets, BypassSwitchesAtOneHalf) {
    EXPECT_EQ(target_after(PARAM_BYPASS, 0.49f), 1.0f);
    EXPECT_EQ(target_after(PARAM_BYPASS, 0.5f), 0.0f);
    EXPECT_EQ(target_after(PARAM_BYPASS, 0.0f), 1.0f);
}

TEST(ParamTargets, ValuesAreKeptAndForeignIndexesChangeNothing) {
    Fresh f;
    for (int i = 0; i < kParamCount; ++i) EXPECT_EQ(f.e.values[i], kParamDefaults[i]);
    engine_set_param(f.e, PARAM_VOLUME, 137.5f);
    EXPECT_EQ(f.e.values[PARAM_VOLUME], 137.5f);

    Engine before;
    std::memcpy(&before, &f.e, sizeof before);
    engine_set_param(f.e, -1, 10.0f);
    engine_set_param(f.e, kParamCount, 10.0f);
    engine_set_param(f.e, 1000, 10.0f);
    EXPECT_EQ(std::memcmp(&before, &f.e, sizeof before), 0);
}

// --- Clipping stage --------------------------------------------------------------

namespace {

// A clipping stage at 192 kHz with the default controls, reset.
struct Clip {
    ClipStage s{};
    ClipState st{};
    explicit Clip(float drive = 0.3195f, float h = 1.0f) {
        s.smooth.cutoff = 31.830975f;
        s.smooth.snap = 0.001f;
        s.smooth.dirty = kDirtyAll;
        clip_set_rate(s, 192000.0f);
        s.drive_target = drive;
        s.f1_target = 720.48413f * h;
        s.f2_target = 5663.6753f * h;
        clip_reset(s, st);
    }
    float run(float x) {
        clip_update(s, false);
        clip_coefs(s);
        return clip_process(s, st, x);
    }
};

} // namespace

TEST(ClipStage, ZeroInGivesExactlyZeroOut) {
    DenormalGuard guard;
    for (float drive : {0.0f, 0.5f, 1.0f}) {
        Clip c(drive);
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(bits_of(c.run(0.0f)), 0u) << drive;
    }
}

TEST(ClipStage, OutputLimitsAreExactAndAsymmetric) {
    DenormalGuard guard;
    Clip c(1.0f);
    float hi = 0, lo = 0;
    for (int i = 0; i < 2000; ++i) hi = std::max(hi, c.run(40.0f));
    EXPECT_EQ(hi, 3.92f);
    EXPECT_EQ(c.run(40.0f), 3.92f);
    for (int i = 0; i < 2000; ++i) lo = std::min(lo, c.run(-40.0f));
    EXPECT_EQ(lo, -3.12f);
    EXPECT_EQ(c.run(-40.0f), -3.12f);
}

TEST(ClipStage, SmallSignalsPassWithGainAndDiodesSoftenLargeOnes) {
    DenormalGuard guard;
    Clip c(0.5f);
    // A 2 kHz sine, in the stage's pass band: a tiny one is amplified about 1 + R/4.7k,
    // a large one stays within the limits and is compressed.
    float peak_small = 0, peak_large = 0;
    for (int i = 0; i < 192000 / 50; ++i) {
        const float x = 0.001f * std::sin(2 * std::numbers::pi * 2000 * i / 192000.0);
        peak_small = std::max(peak_small, std::fabs(c.run(x)));
    }
    for (int i = 0; i < 192000 / 50; ++i) {
        const float x = 1.0f * std::sin(2 * std::numbers::pi * 2000 * i / 192000.0);
        const float y = c.run(x);
        peak_large = std::max(peak_large, std::fabs(y));
        EXPECT_LE(y, 3.92f);
        EXPECT_GE(y, -3.12f);
    }
    EXPECT_GT(peak_small / 0.001f, 20.0f);
    EXPECT_LT(peak_large / 1.0f, 0.2f * peak_small / 0.001f);
}

TEST(ClipStage, ControlsSnapAndThenStopMoving) {
    Clip c(0.5f);
    c.s.drive_target = 1.0f;
    int steps = 0;
    while (c.s.drive != c.s.drive_target && steps < 100000) {
        clip_update(c.s, false);
        ++steps;
    }
    EXPECT_EQ(c.s.drive, 1.0f);
    EXPECT_GT(steps, 100); // it glides (5 ms at 192 kHz is 960 samples)
    EXPECT_EQ(c.s.r_fb, 551000.0f);
    ClipStage settled = c.s;
    clip_update(c.s, false);
    EXPECT_EQ(std::memcmp(&settled, &c.s, sizeof settled), 0);

    // f1 and f2 snap when within 0.1 % of their targets.
    c.s.f1_target = 2000.0f;
    c.s.f2_target = 100.0f;
    for (int i = 0; i < 100000 && (c.s.f1 != 2000.0f || c.s.f2 != 100.0f); ++i) {
        const float f1 = c.s.f1;
        clip_update(c.s, false);
        if (c.s.f1 == 2000.0f && f1 != 2000.0f) {
            EXPECT_LE(std::fabs(f1 - 2000.0f), 2000 * 0.0011f);
        }
    }
    EXPECT_EQ(c.s.f1, 2000.0f);
    EXPECT_EQ(c.s.f2, 100.0f);
}

TEST(ClipStage, CapacitanceChangeTermOnlyWhileHeatMoves) {
    Clip c;
    EXPECT_EQ(c.s.co.g1, c.s.co.k * c.s.co.c1); // settled: the change term is zero
    c.s.f1_target = 720.48413f * 0.25f;
    c.s.f2_target = 5663.6753f * 0.25f;
    clip_update(c.s, false);
    const float c1_before = c.s.c1_prev;
    clip_coefs(c.s);
    EXPECT_GT(c.s.co.c1, c1_before); // larger capacitance at higher heat
    EXPECT_NE(c.s.co.g1, c.s.co.k * c.s.co.c1);
    for (int i = 0; i < 100000; ++i) {
        clip_update(c.s, false);
        clip_coefs(c.s);
    }
    EXPECT_EQ(c.s.co.g1, c.s.co.k * c.s.co.c1);
}

// --- Tone stage ------------------------------------------------------------------

namespace {

struct Tone {
    ToneStage s{};
    ToneState st{};
    explicit Tone(float tone) {
        s.smooth.cutoff = 31.830975f;
        s.smooth.snap = 0.001f;
        s.smooth.dirty = kDirtyAll;
        tone_set_rate(s, 192000.0f);
        s.tone_target = tone;
        s.cap_scale_target = 1.0f;
        tone_reset(s, st);
    }
    float run(float x) {
        tone_update(s, false);
        return tone_process(s, st, x);
    }
};

float warp_hz(float tone) {
    return tone_warp_rc(tone) / 2.2e-07f;
}

} // namespace

TEST(ToneStage, PrewarpPiecesMeet) {
    EXPECT_NEAR(warp_hz(0.75f), 1022.0f, 0.05f);
    EXPECT_NEAR(warp_hz(std::nextafter(0.75f, 1.0f)), 1022.0f, 0.05f);
    EXPECT_NEAR(warp_hz(0.9f), 1354.0f, 1.0f);
    EXPECT_NEAR(warp_hz(std::nextafter(0.9f, 1.0f)), warp_hz(0.9f), 1.0f);
    EXPECT_NEAR(warp_hz(0.0f), 377.0f, 1e-3f);
    EXPECT_NEAR(warp_hz(0.999f), 5070.0f, 10.0f);
}

TEST(ToneStage, PotentiometerEnds) {
    Tone lo(0.001f), hi(0.999f);
    EXPECT_NEAR(1 / lo.s.g_b, 20.0f, 1e-3f);            // Rb
    EXPECT_NEAR(-1000 / lo.s.co.out_a, 19980.0f, 0.1f); // Ra
    EXPECT_NEAR(1 / hi.s.g_b, 19980.0f, 0.1f);
    EXPECT_NEAR(-1000 / hi.s.co.out_a, 20.0f, 1e-3f);
    EXPECT_NEAR(hi.s.g_sum, 1 / 20.0f + 1 / 19980.0f, 1e-6f);
}

TEST(ToneStage, ZeroInZeroOutAndTheScaleNeverMoves) {
    DenormalGuard guard;
    Tone t(0.5f);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(bits_of(t.run(0.0f)), 0u);
    t.s.tone_target = 0.9f;
    for (int i = 0; i < 5000; ++i) t.run(0.1f);
    EXPECT_EQ(t.s.cap_scale, 1.0f);
    EXPECT_EQ(t.s.cap, t.s.cap_prev);
    EXPECT_EQ(t.s.cap, 2.2e-07f * fast_rcp(1.0f));
}
