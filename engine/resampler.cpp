#include "resampler.h"

#include <limits>

#include "kernels.h"

float resampler_design_value(int32_t n) {
    const float f = float(n);
    return (1.2456399f * f - 0.83545053f) * fast_rcp(f - 0.48647094f);
}

void resampler_design(ResamplerCoeffs& c, int32_t ratio, float v) {
    c.ratio = ratio;
    c.n_sections = kResamplerSections;
    const int32_t n = ratio < 0 ? -ratio : ratio;

    // Stop-band corner of the prototype at v times the base Nyquist: t = tan(pi v / 2N).
    const float ph = (v * 0.5f) / float(n) * 3.1415927f * 0.15915494f;
    const float t = fast_tan2pi(ph);
    const float w = t * t;

    for (int k = 0; k < kResamplerSections; ++k) {
        // Pole angle (2k+1) pi / 32, as a phase in cycles.
        const float b = (float(2 * k) * 0.09817477f + 0.09817477f) * 0.15915494f;
        const float f = fast_sin2pi(b);
        const float j = fast_sin2pi(b + 0.25f);
        // The approximate sine and cosine are put back on the unit circle.
        const float r = f * f + j * j;
        const float nrm =
            r < kMinNormal ? std::numeric_limits<float>::infinity() : 1.0f / fast_sqrt(r);
        const float s = f * nrm;
        const float co = j * nrm;

        const float u = 1.0f / s;
        const float sigma = -0.83925736f * co;
        const float omega = 1.305446f * s;
        const float d = (sigma - t) * (sigma - t) + omega * omega;
        const float vv = 1.0f / (u * u * d);
        const float g = u * u * vv;
        c.b0[k] = vv + w * g;
        c.b1[k] = 2.0f * (w * g - vv);
        c.p[k] = (sigma * sigma + omega * omega - w) * 2.0f * g;
        c.q[k] = -((t + sigma) * (t + sigma) + omega * omega) * g;
    }
}

void resampler_reset(ResamplerState& s) {
    for (int k = 0; k < kResamplerSections; ++k) s.z1[k] = s.z2[k] = 0.0f;
    s.phase = 0;
}

// One sample through sections first..7.
static inline float run_sections(const ResamplerCoeffs& c, ResamplerState& s, float x, int first) {
    for (int k = first; k < kResamplerSections; ++k) {
        const float y = s.z1[k] + c.b0[k] * x;
        s.z1[k] = (c.b1[k] * x + c.p[k] * y) + s.z2[k];
        s.z2[k] = c.q[k] * y + c.b0[k] * x;
        x = y;
    }
    return x;
}

void resampler_process(const ResamplerCoeffs& c, ResamplerState& s, const float* src, float* dst,
                       uint32_t count) {
    if (c.ratio > 0) {
        const int32_t n = c.ratio;
        const float gain = float(n); // makes up for the inserted zeros
        for (uint32_t i = 0; i < count; ++i) {
            *dst++ = run_sections(c, s, src[i] * gain, 0);
            for (int32_t z = 1; z < n; ++z) {
                // Section 0 with a zero input.
                const float y = s.z1[0];
                s.z1[0] = c.p[0] * y + s.z2[0];
                s.z2[0] = c.q[0] * y;
                *dst++ = run_sections(c, s, y, 1);
            }
        }
    } else {
        const int32_t n = -c.ratio;
        for (uint32_t i = 0; i < count; ++i) {
            const float y = run_sections(c, s, src[i], 0);
            if (s.phase == 0) {
                *dst++ = y;
                s.phase = n;
            }
            --s.phase;
        }
    }
}
