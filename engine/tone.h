// Tone stage: a tone network around a 20 kOhm potentiometer with two capacitors,
// discretised by the trapezoidal rule prewarped at a frequency that follows the tone
// setting and solved per sample in closed form.
#pragma once

#include <cstdint>

#include "smoother.h"

struct ToneStage {
    SmootherSettings smooth;              // 5 ms smoothing of tone and capacitance scale
    float tone;                           // 0.001..0.999
    float cap_scale;                      // stays 1.0
    float fs, inv_fs, f_max;              // oversampled rate, its reciprocal, 0.499 of it
    float g_b, g_sum, out_a, out_b, g_bz; // conductances of the potentiometer halves
    float warp_rc;                        // prewarping frequency times the nominal capacitance
    float cap;                            // farads
    float k;                              // bilinear constant
    // Per-sample coefficients (tone_coefs).
    float m_q, m_r, m_cp, m_x, m_y, m_wc, m_zin, m_zc, m_zb;
    float cap_prev; // capacitance of the previous sample
    float tone_target, cap_scale_target;
    // Bit patterns of (k, cap, cap_prev, fs, g_sum, g_b, g_bz) at the last tone_coefs:
    // equal inputs give equal coefficients, so the computation is skipped.
    uint32_t coefs_from[7];
};

struct ToneState {
    float va, vb; // capacitor voltages
    float ia, ib; // trapezoidal history terms
};

void tone_set_rate(ToneStage& s, float fs_os);
void tone_update(ToneStage& s, bool force);
void tone_coefs(ToneStage& s);
// Computes the per-sample coefficients, then processes x.
float tone_process(ToneStage& s, ToneState& st, float x);
// Prewarping frequency P(tone) times the nominal capacitance 2.2e-07 F.
float tone_warp_rc(float tone);
// Snaps the controls to their targets, recomputes everything and clears the state.
void tone_reset(ToneStage& s, ToneState& st);
