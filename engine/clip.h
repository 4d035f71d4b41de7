// Diode clipping stage: an op-amp gain stage with antiparallel diodes and a capacitor
// in its feedback path and asymmetric output limits, discretised by the trapezoidal
// rule prewarped at the network's natural frequency and solved per sample in closed
// form through the Wright omega function.
#pragma once

#include <cstdint>

#include "kernels.h"
#include "kernels4.h"
#include "smoother.h"

// What processing one sample reads besides the state: the derived controls k, c1, c2
// and the per-sample coefficients of clip_coefs. T is float for one sample, F4 for four
// consecutive samples, or an array for a run of samples.
template <class T>
struct ClipCoefsOf {
    T k;      // bilinear constant
    T c1, c2; // farads
    T g1, h_g1, h_c1, beta, lin, diode_scale, om_arg, om_zero;
    T rv, rv_a, rv_c2, rail_gain, rail_pos, rail_neg, rail_scale, om_arg_rail, om_zero_rail;
};
using ClipCoefs = ClipCoefsOf<float>;

// Calls f on each pair of matching fields of a and b, in declaration order.
template <class A, class B, class F>
inline void clip_fields(A& a, B& b, F f) {
    f(a.k, b.k);
    f(a.c1, b.c1);
    f(a.c2, b.c2);
    f(a.g1, b.g1);
    f(a.h_g1, b.h_g1);
    f(a.h_c1, b.h_c1);
    f(a.beta, b.beta);
    f(a.lin, b.lin);
    f(a.diode_scale, b.diode_scale);
    f(a.om_arg, b.om_arg);
    f(a.om_zero, b.om_zero);
    f(a.rv, b.rv);
    f(a.rv_a, b.rv_a);
    f(a.rv_c2, b.rv_c2);
    f(a.rail_gain, b.rail_gain);
    f(a.rail_pos, b.rail_pos);
    f(a.rail_neg, b.rail_neg);
    f(a.rail_scale, b.rail_scale);
    f(a.om_arg_rail, b.om_arg_rail);
    f(a.om_zero_rail, b.om_zero_rail);
}

struct ClipStage {
    SmootherSettings smooth; // 5 ms smoothing of drive, f1 and f2
    float drive;             // 0..1
    float f1, f2;            // corner frequencies, Hz
    float fs, inv_fs, f_max; // oversampled rate, its reciprocal, 0.499 of it
    float r_fb;              // feedback resistance, ohms
    ClipCoefs co;
    float c1_prev, c2_prev; // capacitances of the previous sample
    float drive_target, f1_target, f2_target;
    // Set when the coefficients were last computed from unchanged capacitances and no
    // control has moved since: the inputs of clip_coefs (k, fs, r_fb, c1, c2 and the
    // previous capacitances) are then the same as last time, and so are its results.
    int32_t coefs_settled;
};

struct ClipState {
    float vc2;      // across the feedback network (output minus inverting input)
    float vc1;      // across C1
    float ic2, ic1; // trapezoidal history terms
};

void clip_set_rate(ClipStage& s, float fs_os);
// Snaps the controls to their targets, recomputes everything and clears the state.
void clip_reset(ClipStage& s, ClipState& st);

// The moving part of clip_update and the computation of clip_coefs.
void clip_update_controls(ClipStage& s, bool force);
void clip_compute_coefs(ClipStage& s);

// Advances the control smoothing by one oversampled sample (force: recompute all).
inline void clip_update(ClipStage& s, bool force) {
    if (force || s.drive != s.drive_target || s.f1 != s.f1_target || s.f2 != s.f2_target)
        clip_update_controls(s, force);
}

// The per-sample coefficients, recomputed only when their inputs changed.
inline void clip_coefs(ClipStage& s) {
    if (!s.coefs_settled) clip_compute_coefs(s);
}

// Nothing moves: clip_update and clip_coefs would change nothing.
inline bool clip_settled(const ClipStage& s) {
    return s.drive == s.drive_target && s.f1 == s.f1_target && s.f2 == s.f2_target &&
           s.coefs_settled;
}

// The coefficients of kCoefRun consecutive oversampled samples, one array per field.
struct alignas(16) ClipLanes {
    ClipCoefsOf<float[kCoefRun]> at;
};

// Advances the stage by count (1..kCoefRun) oversampled samples exactly as count calls
// of clip_update and clip_coefs would, and writes each sample's coefficients into the
// lanes. The smoothing runs sample by sample; everything derived from it runs four
// samples at a time.
void clip_fill_lanes(ClipStage& s, ClipLanes& lanes, int count);

// The lanes hold the stage's current coefficients throughout (for a stage that stands).
inline void clip_hold_lanes(const ClipStage& s, ClipLanes& lanes) {
    clip_fields(lanes.at, s.co, [](float(&a)[kCoefRun], float v) {
        for (float& x : a) x = v;
    });
}

inline ClipCoefs clip_lane(const ClipLanes& lanes, int j) {
    ClipCoefs c;
    clip_fields(c, lanes.at, [j](float& x, const float(&a)[kCoefRun]) { x = a[j]; });
    return c;
}

namespace clip_detail {
constexpr float kInvNVt = 21.952932f; // 1 / (n Vt) of the diodes
constexpr float kRailPos = 3.92f;
constexpr float kRailNeg = -3.12f;

// Omega of an argument, taking large arguments as their own value.
inline float omega_or_linear(float a) {
    return a >= kOmegaLinear ? a : fast_omega(a);
}
template <class T>
inline T omega_or_linear(const T& a) {
    return select(a >= kOmegaLinear, a, fast_omega(a));
}

// (d x c) x sign3(d) for c > 1, the magnitude of d x c, without the table: a NaN is
// left as it is, as the product leaves it, and a zero may keep its sign, which the sum
// with om_arg below absorbs. (A predictable branch keeps the dependency chain through
// here shorter than a select would.)
inline float times_sign3(float d, float c) {
    const float t = d * c;
    return t < 0.0f ? -t : t;
}
} // namespace clip_detail

// The stage output for input x with the coefficients s; updates the state.
inline float clip_process(const ClipCoefs& s, ClipState& st, float x) {
    using namespace clip_detail;
    const float h2 = s.k * st.vc2 + st.ic2;
    const float h1 = s.k * st.vc1 + st.ic1;
    const float r = s.h_c1 * h1;
    const float lo = s.lin * x + (s.g1 * r + s.c1 * h1 - s.c2 * h2) * s.beta;

    // The diodes pull the output back toward the input.
    const float d = lo - x;
    const float w = omega_or_linear(times_sign3(d, kInvNVt) + s.om_arg);
    float y = s.beta * ((w - s.om_zero) * (s.diode_scale * sign3(d))) + lo;

    // At a limit the output is fixed and the inverting input is solved instead.
    float v = x;
    if (y > kRailPos || y < kRailNeg) {
        const bool pos = y > kRailPos;
        const float rail = pos ? s.rail_pos : s.rail_neg;
        const float yl = s.rv_a * r + s.rv_c2 * h2;
        const float p = ((pos ? -kRailPos : -kRailNeg) + yl) - rail;
        const float sp = sign3(p);
        const float w2 = omega_or_linear(p * -kInvNVt * sp + s.om_arg_rail);
        const float mm = s.rail_scale * sp;
        v = (w2 - s.om_zero_rail) * mm * s.rv + yl + rail;
        y = pos ? kRailPos : kRailNeg;
    }

    st.vc2 = y - v;
    st.vc1 = v - (s.h_g1 * v + r);
    st.ic2 = s.k * st.vc2 - h2;
    st.ic1 = s.k * st.vc1 - h1;
    return y;
}

inline float clip_process(const ClipStage& s, ClipState& st, float x) {
    return clip_process(s.co, st, x);
}
