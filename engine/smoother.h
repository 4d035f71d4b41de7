// The two small building blocks of the engine: a one-pole parameter smoother and a
// first-order high-pass filter.
#pragma once

#include <cstdint>

#include "kernels.h"

// Settings shared by the Smoother and by the clipping and tone stages, which smooth
// their own controls with the same coefficient.
struct SmootherSettings {
    float rate_2pi;    // sample rate / 2pi
    float coef;        // y moves by this factor toward the target each step
    float snap_sq;     // snap squared
    float cutoff;      // Hz; the time constant is 1 / (2pi cutoff)
    float snap;        // snap threshold (the stages snap; the Smoother never does)
    int32_t snap_mode; // always 0
    int32_t dirty;     // bit 0: coef stale, bit 2: snap_sq stale
};

constexpr int32_t kDirtyCoef = 1 << 0;
constexpr int32_t kDirtySnap = 1 << 2;
constexpr int32_t kDirtyAll = -1;

struct Smoother {
    SmootherSettings set;
    float y;
    float target;
};

inline void smoother_set_rate(SmootherSettings& s, float rate) {
    s.rate_2pi = rate * 0.15915494f;
}

// Recomputes what `dirty` marks, then clears it.
inline void smoother_update_coefs(SmootherSettings& s) {
    if (s.dirty & kDirtyCoef) {
        // Above 10^9/2pi Hz the smoother follows its target in one step.
        s.coef = s.cutoff > 159154944.0f ? 0.0f : s.rate_2pi * fast_rcp(s.rate_2pi + s.cutoff);
    }
    if (s.dirty & kDirtySnap) s.snap_sq = s.snap * s.snap;
    s.dirty = 0;
}

inline void smoother_set_rate(Smoother& s, float rate) {
    smoother_set_rate(s.set, rate);
}
inline void smoother_update_coefs(Smoother& s) {
    smoother_update_coefs(s.set);
}
inline void smoother_reset(Smoother& s) {
    s.y = s.target;
}

inline float smoother_step(Smoother& s) {
    s.y = s.target + (s.y - s.target) * s.set.coef;
    return s.y;
}

// One step of a stage control's glide toward its target t, snapping to the target
// once the squared distance is within snap_sq (absolute) or within t x snap_sq x t
// (relative).
inline void glide_absolute(float& v, float t, const SmootherSettings& s) {
    v = t + (v - t) * s.coef;
    if ((v - t) * (v - t) <= s.snap_sq) v = t;
}
inline void glide_relative(float& v, float t, const SmootherSettings& s) {
    v = t + (v - t) * s.coef;
    if ((v - t) * (v - t) <= t * s.snap_sq * t) v = t;
}

// First-order high-pass; its single state float lives apart from the coefficients.
struct HighPass1 {
    float b0, b1, a1;
};

// The nominal corner fc multiplies the tangent taken at the corner clamped below
// Nyquist, so very low sample rates still give a stable filter.
inline void hp1_design(HighPass1& c, float fc, float fs) {
    const float limit = 0.499f * fs;
    const float d = fc < limit ? fc : limit;
    const float m = fc * prewarp_tangent(d, fs);
    const float t = fast_rcp(d + m);
    c.b0 = d * t;
    c.b1 = -c.b0;
    c.a1 = (m - d) * t;
}

inline void hp1_reset(float& s) {
    s = 0.0f;
}

inline float hp1_step(const HighPass1& c, float& s, float x) {
    const float y = c.b0 * x + s;
    s = c.b1 * x - c.a1 * y;
    return y;
}
