// Tone stage: a tone network around a 20 kOhm potentiometer with two capacitors,
// discretised by the trapezoidal rule prewarped at a frequency that follows the tone
// setting and solved per sample in closed form.
#pragma once

#include <cstdint>

#include "kernels4.h"
#include "smoother.h"

// What filtering one sample reads besides the state: the bilinear constant, the
// per-sample coefficients of tone_coefs and the output weights. T is float for one
// sample, F4 for four consecutive samples, or an array for a run of samples.
template <class T>
struct ToneCoefsOf {
    T k; // bilinear constant
    T m_q, m_r, m_cp, m_x, m_y, m_wc, m_zin, m_zc, m_zb;
    T out_a, out_b; // output weights: -1000/Ra and 1 + 1000/Ra
};
using ToneCoefs = ToneCoefsOf<float>;

// Calls f on each pair of matching fields of a and b, in declaration order.
template <class A, class B, class F>
inline void tone_fields(A& a, B& b, F f) {
    f(a.k, b.k);
    f(a.m_q, b.m_q);
    f(a.m_r, b.m_r);
    f(a.m_cp, b.m_cp);
    f(a.m_x, b.m_x);
    f(a.m_y, b.m_y);
    f(a.m_wc, b.m_wc);
    f(a.m_zin, b.m_zin);
    f(a.m_zc, b.m_zc);
    f(a.m_zb, b.m_zb);
    f(a.out_a, b.out_a);
    f(a.out_b, b.out_b);
}

struct ToneStage {
    SmootherSettings smooth; // 5 ms smoothing of tone and capacitance scale
    float tone;              // 0.001..0.999
    float cap_scale;         // stays 1.0
    float fs, inv_fs, f_max; // oversampled rate, its reciprocal, 0.499 of it
    float g_b, g_sum, g_bz;  // conductances of the potentiometer halves
    float warp_rc;           // prewarping frequency times the nominal capacitance
    float cap;               // farads
    ToneCoefs co;
    float cap_prev; // capacitance of the previous sample
    float tone_target, cap_scale_target;
    // Set when the coefficients were last computed from an unchanged capacitance and
    // no control has moved since: the inputs of tone_coefs (k, cap, cap_prev, fs, g_sum,
    // g_b, g_bz) are then the same as last time, and so are its results.
    int32_t coefs_settled;
};

struct ToneState {
    float va, vb; // capacitor voltages
    float ia, ib; // trapezoidal history terms
};

void tone_set_rate(ToneStage& s, float fs_os);
// Snaps the controls to their targets, recomputes everything and clears the state.
void tone_reset(ToneStage& s, ToneState& st);
// Prewarping frequency P(tone) times the nominal capacitance 2.2e-07 F.
float tone_warp_rc(float tone);

// The moving part of tone_update and the computation of tone_coefs.
void tone_update_controls(ToneStage& s, bool force);
void tone_compute_coefs(ToneStage& s);

// Advances the control smoothing by one oversampled sample (force: recompute all).
inline void tone_update(ToneStage& s, bool force) {
    if (force || s.tone != s.tone_target || s.cap_scale != s.cap_scale_target)
        tone_update_controls(s, force);
}

// The per-sample coefficients, recomputed only when their inputs changed.
inline void tone_coefs(ToneStage& s) {
    if (!s.coefs_settled) tone_compute_coefs(s);
}

// Nothing moves: tone_update and tone_coefs would change nothing.
inline bool tone_settled(const ToneStage& s) {
    return s.tone == s.tone_target && s.cap_scale == s.cap_scale_target && s.coefs_settled;
}

// The coefficients of kCoefRun consecutive oversampled samples, one array per field.
struct alignas(16) ToneLanes {
    ToneCoefsOf<float[kCoefRun]> at;
};

// Advances the stage by count (1..kCoefRun) oversampled samples exactly as count calls
// of tone_update and tone_coefs would, and writes each sample's coefficients into the
// lanes. The smoothing runs sample by sample; everything derived from it runs four
// samples at a time.
void tone_fill_lanes(ToneStage& s, ToneLanes& lanes, int count);

// The lanes hold the stage's current coefficients throughout (for a stage that stands).
inline void tone_hold_lanes(const ToneStage& s, ToneLanes& lanes) {
    tone_fields(lanes.at, s.co, [](float(&a)[kCoefRun], float v) {
        for (float& x : a) x = v;
    });
}

inline ToneCoefs tone_lane(const ToneLanes& lanes, int j) {
    ToneCoefs c;
    tone_fields(c, lanes.at, [j](float& x, const float(&a)[kCoefRun]) { x = a[j]; });
    return c;
}

// Processes x with the coefficients s.
inline float tone_filter(const ToneCoefs& s, ToneState& st, float x) {
    const float h0 = s.k * st.va + st.ia;
    const float h1 = s.k * st.vb + st.ib;
    const float e1 = s.m_cp * h1;
    const float e2 = h1 * s.m_wc + s.m_x * e1;
    const float e3 = s.m_zb * (e1 + s.m_r * e2);
    const float vn = h0 * s.m_zc + e3 + x * s.m_zin;
    const float a = e2 + vn * s.m_y;
    const float b = a * s.m_r + s.m_q * vn + e1;
    st.va = vn;
    st.vb = b - a;
    st.ia = s.k * vn - h0;
    st.ib = s.k * (b - a) - h1;
    return b * s.out_a + vn * s.out_b; // vn + (vn - b) 1000 / Ra
}

// Computes the per-sample coefficients, then processes x.
inline float tone_process(ToneStage& s, ToneState& st, float x) {
    tone_coefs(s);
    return tone_filter(s.co, st, x);
}
