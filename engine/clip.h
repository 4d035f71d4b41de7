// Diode clipping stage: an op-amp gain stage with antiparallel diodes and a capacitor
// in its feedback path and asymmetric output limits, discretised by the trapezoidal
// rule prewarped at the network's natural frequency and solved per sample in closed
// form through the Wright omega function.
#pragma once

#include <cstdint>

#include "kernels.h"
#include "smoother.h"

struct ClipStage {
    SmootherSettings smooth; // 5 ms smoothing of drive, f1 and f2
    float drive;             // 0..1
    float f1, f2;            // corner frequencies, Hz
    float fs, inv_fs, f_max; // oversampled rate, its reciprocal, 0.499 of it
    float r_fb;              // feedback resistance, ohms
    float c1, c2;            // farads
    float k;                 // bilinear constant
    // Per-sample coefficients (clip_coefs).
    float g1, h_g1, h_c1, beta, lin, diode_scale, om_arg, om_zero;
    float rv, rv_a, rv_c2, rail_gain, rail_pos, rail_neg, rail_scale, om_arg_rail, om_zero_rail;
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

namespace clip_detail {
constexpr float kInvNVt = 21.952932f; // 1 / (n Vt) of the diodes
constexpr float kRailPos = 3.92f;
constexpr float kRailNeg = -3.12f;

// Omega of an argument, taking large arguments as their own value.
inline float omega_or_linear(float a) {
    return a >= kOmegaLinear ? a : fast_omega(a);
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

// The stage output for input x; updates the state.
inline float clip_process(const ClipStage& s, ClipState& st, float x) {
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
