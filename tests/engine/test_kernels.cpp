// Numeric kernels, smoother, high-pass and resampler against the numbers they promise.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <complex>
#include <vector>

#include "engine/denormals.h"
#include "engine/kernels.h"
#include "engine/kernels4.h"
#include "engine/resampler.h"
#include "engine/smoother.h"

TEST(Kernels, ExponentialEdges) {
    EXPECT_EQ(fast_exp2(-126.5f), 0.0f);
    EXPECT_EQ(fast_exp2(-1000.0f), 0.0f);
    EXPECT_EQ(fast_exp2(0.0f), 1.0f);
    // i = -3, f = 1: the cubic at 1 must give 2.
    EXPECT_EQ(fast_exp2(-2.0f), 0.25f);
    EXPECT_EQ(fast_exp2(3.0f), 8.0f);
    for (float x = -125.0f; x < 125.0f; x += 0.37f)
        EXPECT_NEAR(fast_exp2(x) / std::exp2(double(x)), 1.0, 7e-4) << x;
}

TEST(Kernels, LogarithmAndReciprocal) {
    EXPECT_NEAR(fast_log2(1.0f), 0.0f, 1e-4f);
    for (double x = 1e-30; x < 1e30; x *= 1.37) {
        const float f = float(x);
        EXPECT_NEAR(fast_log2(f), std::log2(double(f)), 6e-3) << x;
        EXPECT_NEAR(fast_rcp(f) * double(f), 1.0, 2e-5) << x;
        EXPECT_NEAR(fast_sqrt(f) / std::sqrt(double(f)), 1.0, 1e-5) << x;
    }
}

TEST(Kernels, SquareRootAcrossTheScaledExponentRanges) {
    // Biased exponents below 64 and from 192 up take the rescaled paths.
    for (float x : {1.2e-38f, 3e-30f, 5.421e-20f, 1.0f, 2.0f, 1.8e19f, 7e25f, 3.4e38f})
        EXPECT_NEAR(fast_sqrt(x) / std::sqrt(double(x)), 1.0, 1e-5) << x;
}

TEST(Kernels, SineQuarterPointsAndShape) {
    EXPECT_EQ(fast_sin2pi(0.25f), 1.0f);
    EXPECT_EQ(fast_sin2pi(0.75f), -1.0f);
    EXPECT_EQ(fast_sin2pi(0.0f), 0.0f);
    EXPECT_NEAR(fast_sin2pi(0.125f), 0.6963f, 1e-4f);   // the cubic is 1.5 % low here
    EXPECT_EQ(fast_sin2pi(-0.75f), fast_sin2pi(0.25f)); // negative phases wrap by floor
    EXPECT_EQ(fast_sin2pi(2.125f), fast_sin2pi(0.125f));
    for (float p = -3.0f; p < 3.0f; p += 0.0013f)
        EXPECT_NEAR(fast_sin2pi(p), std::sin(2 * std::numbers::pi * p), 0.011) << p;
    // tan(pi f / fs)
    EXPECT_NEAR(prewarp_tangent(1000.0f, 48000.0f), std::tan(std::numbers::pi * 1000 / 48000),
                1e-3);
}

TEST(Kernels, OmegaSolvesItsEquation) {
    // Just below the switch the first guess is 0 and the Newton step yields e^x.
    const float x = std::nextafter(-3.3414595f, -10.0f);
    EXPECT_EQ(fast_omega(x), fast_exp2(x * 1.442695f) * fast_rcp(1.0f));
    EXPECT_NEAR(fast_omega(x), std::exp(double(x)), 1e-3);
    for (float v : {-20.0f, -3.0f, -0.5f, 0.0f, 1.0f, 5.0f, 7.9f, 8.0f, 50.0f, 1e4f, 1e8f}) {
        const double w = fast_omega(v);
        EXPECT_NEAR((w + std::log(w) - v) / std::max(1.0, std::fabs(double(v))), 0.0, 0.05) << v;
    }
    EXPECT_NEAR(fast_omega(1.0f), 1.0f, 2e-3f); // omega(1) = 1
}

TEST(Kernels, SignTableGivesPlusZeroForBothZeros) {
    EXPECT_EQ(sign3(3.5f), 1.0f);
    EXPECT_EQ(sign3(-1e-30f), -1.0f);
    EXPECT_EQ(bits_of(sign3(0.0f)), 0u);
    EXPECT_EQ(bits_of(sign3(-0.0f)), 0u);
}

// The four-lane kernels run the scalar steps in each lane: the same bits for every
// input, finite or not, each lane on its own (a NaN may differ only in its payload).
TEST(Kernels, FourLanesGiveTheScalarBits) {
    DenormalGuard guard; // as in the engine: denormal inputs and results count as zero
    std::vector<float> inputs = {
        0.0f,       -0.0f,  1.0f,  -1.0f, -2.0f,  -126.0f, -126.5f,  -3.3414595f, 8.0f, 1e9f,
        kMinNormal, 1e-40f, 0.25f, 0.75f, -0.75f, 3.4e38f, INFINITY, -INFINITY,   NAN,  -NAN};
    uint32_t seed = 7;
    while (inputs.size() < 100000) {
        seed = seed * 1664525u + 1013904223u;
        const float any = float_of(seed);                     // any bit pattern
        const float near = float(int32_t(seed) >> 8) * 2e-5f; // the kernels' working range
        inputs.push_back(inputs.size() % 2 ? any : near);
    }
    const auto same = [](float a, float b) {
        return bits_of(a) == bits_of(b) || (std::isnan(a) && std::isnan(b));
    };
    const auto check = [&](const char* name, float (*scalar)(float), F4 (*lanes)(F4),
                           bool positive_only) {
        alignas(16) float x[4], y[4];
        for (size_t i = 0; i + 4 <= inputs.size(); i += 4) {
            for (int l = 0; l < 4; ++l)
                x[l] = positive_only ? std::fabs(inputs[i + l]) : inputs[i + l];
            store4(y, lanes(load4(x)));
            for (int l = 0; l < 4; ++l)
                ASSERT_TRUE(same(y[l], scalar(x[l])))
                    << name << "(" << x[l] << "): " << y[l] << " vs " << scalar(x[l]);
        }
    };
    check("fast_rcp", fast_rcp, fast_rcp, false);
    check("fast_exp2", fast_exp2, fast_exp2, false);
    check("fast_log2", fast_log2, fast_log2, false);
    check("fast_sin2pi", fast_sin2pi, fast_sin2pi, false);
    check("fast_tan2pi", fast_tan2pi, fast_tan2pi, false);
    check("fast_sqrt", fast_sqrt, fast_sqrt, true); // defined for x >= 0
    check("fast_omega", fast_omega, fast_omega, false);
}

TEST(Smoother, ApproachesWithoutSnappingAndFollowsAtOnceAboveTheLimit) {
    Smoother s{};
    s.set.cutoff = 3.1830971f;
    s.set.dirty = kDirtyAll;
    smoother_set_rate(s, 48000.0f);
    smoother_update_coefs(s);
    EXPECT_EQ(s.set.dirty, 0);
    // 50 ms time constant: coef = exp(-1 / (0.05 fs)) to first order.
    EXPECT_NEAR(s.set.coef, std::exp(-1.0 / (0.05 * 48000)), 1e-5);
    s.target = 1.0f;
    s.y = 0.0f;
    smoother_step(s);
    EXPECT_GT(s.y, 0.0f);
    EXPECT_LT(s.y, 0.001f);

    s.set.cutoff = 2e8f;
    s.set.dirty = kDirtyCoef;
    smoother_update_coefs(s);
    EXPECT_EQ(s.set.coef, 0.0f);
    s.target = 0.3f;
    EXPECT_EQ(smoother_step(s), 0.3f);
}

TEST(HighPass, MatchesTheBilinearFormAndClampsTheCorner) {
    HighPass1 c;
    hp1_design(c, 7.09f, 48000.0f);
    const double t = std::tan(std::numbers::pi * 7.09 / 48000);
    EXPECT_NEAR(c.b0, 1 / (1 + t), 1e-5);
    EXPECT_EQ(c.b1, -c.b0);
    EXPECT_NEAR(c.a1, (t - 1) / (t + 1), 1e-5);

    // A constant input decays to zero; the state starts at the zero-input steady state.
    float s = 1.0f;
    hp1_reset(s);
    EXPECT_EQ(s, 0.0f);
    float y = 0.0f;
    for (int i = 0; i < 48000 * 2; ++i) y = hp1_step(c, s, 1.0f);
    EXPECT_NEAR(y, 0.0f, 1e-3f);

    // Below 2 fc / 0.499 the corner is clamped to 0.499 fs and the filter stays stable.
    hp1_design(c, 15.52f, 20.0f);
    const float d = 0.499f * 20.0f;
    const float m = 15.52f * prewarp_tangent(d, 20.0f);
    EXPECT_EQ(c.b0, d * fast_rcp(d + m));
    EXPECT_LT(std::fabs(c.a1), 1.0f);
}

// --- Resampler -------------------------------------------------------------------

static std::complex<double> section_response(const ResamplerCoeffs& c, int k, double cycles) {
    const std::complex<double> z1 = std::polar(1.0, -2 * std::numbers::pi * cycles);
    const std::complex<double> z2 = z1 * z1;
    return (double(c.b0[k]) + double(c.b1[k]) * z1 + double(c.b0[k]) * z2) /
           (1.0 - double(c.p[k]) * z1 - double(c.q[k]) * z2);
}

static double magnitude_db(const ResamplerCoeffs& c, double cycles) {
    std::complex<double> h = 1;
    for (int k = 0; k < c.n_sections; ++k) h *= section_response(c, k, cycles);
    return 20 * std::log10(std::abs(h));
}

TEST(Resampler, DesignValuesAndFilterShape) {
    EXPECT_NEAR(resampler_design_value(2), 1.0940f, 1e-4f);
    EXPECT_NEAR(resampler_design_value(4), 1.1803f, 1e-4f);
    EXPECT_NEAR(resampler_design_value(16), 1.2309f, 1e-4f);
    for (int n : {2, 4, 16}) {
        ResamplerCoeffs c;
        const float v = resampler_design_value(n);
        resampler_design(c, -n, v);
        EXPECT_EQ(c.ratio, -n);
        EXPECT_EQ(c.n_sections, 8);
        for (int k = 0; k < 8; ++k) {
            // Unity gain at zero frequency and zeros on the unit circle, per section.
            EXPECT_NEAR(std::abs(section_response(c, k, 0.0)), 1.0, 1e-4) << n << " " << k;
            EXPECT_LT(std::fabs(c.b1[k]), 2 * std::fabs(c.b0[k]));
        }
        // Flat pass band well below the base Nyquist (1/(2n) cycles per oversampled
        // sample), deep stop band above the corner at v times the base Nyquist.
        EXPECT_NEAR(magnitude_db(c, 0.2 / (2 * n)), 0.0, 0.5) << n;
        for (double f = 1.02 * v / (2 * n); f < 0.5; f += 0.003)
            EXPECT_LT(magnitude_db(c, f), -80.0) << n << " " << f;
    }
}

TEST(Resampler, ConstantInputSettlesToItselfInBothDirections) {
    DenormalGuard guard;
    for (int n : {2, 4, 16}) {
        ResamplerCoeffs up, down;
        resampler_design(up, n, resampler_design_value(n));
        resampler_design(down, -n, resampler_design_value(n));
        ResamplerState su, sd;
        resampler_reset(su);
        resampler_reset(sd);
        float buf[16];
        float out = 0.0f;
        const float x = 0.37f;
        for (int i = 0; i < 4000; ++i) {
            resampler_process(up, su, &x, buf, 1);
            resampler_process(down, sd, buf, &out, uint32_t(n));
        }
        for (int j = 0; j < n; ++j) EXPECT_NEAR(buf[j], x, 1e-4f) << n;
        EXPECT_NEAR(out, x, 1e-4f) << n;
        EXPECT_EQ(sd.phase, 0);
    }
}

TEST(Resampler, DecimatorPhasePersistsAcrossCalls) {
    const int n = 4;
    ResamplerCoeffs down;
    resampler_design(down, -n, resampler_design_value(n));
    // The same filter without decimation gives every output sample.
    ResamplerCoeffs plain = down;
    plain.ratio = -1;
    std::vector<float> in(64), every(64);
    for (int i = 0; i < 64; ++i) in[i] = float((i * 37) % 11) - 5.0f;
    ResamplerState s;
    resampler_reset(s);
    resampler_process(plain, s, in.data(), every.data(), 64);

    // Calls of 3 inputs do not line up with groups of 4: the counter carries over, so
    // the outputs are still those after inputs 0, 4, 8, ...
    resampler_reset(s);
    std::vector<float> got;
    for (int i = 0; i + 3 <= 63; i += 3) {
        int expect = 0;
        for (int j = i; j < i + 3; ++j) expect += j % n == 0;
        float out[3];
        resampler_process(down, s, &in[i], out, 3);
        got.insert(got.end(), out, out + expect);
    }
    ASSERT_EQ(got.size(), 16u);
    for (size_t j = 0; j < got.size(); ++j) EXPECT_EQ(got[j], every[j * n]) << j;
}
