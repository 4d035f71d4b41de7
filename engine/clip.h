// Diode clipping stage: an op-amp gain stage with antiparallel diodes and a capacitor
// in its feedback path and asymmetric output limits, discretised by the trapezoidal
// rule prewarped at the network's natural frequency and solved per sample in closed
// form through the Wright omega function.
#pragma once

#include <cstdint>

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
    // Bit patterns of (k, fs, r_fb, c1, c2, c1_prev, c2_prev) at the last clip_coefs:
    // equal inputs give equal coefficients, so the computation is skipped.
    uint32_t coefs_from[7];
};

struct ClipState {
    float vc2;      // across the feedback network (output minus inverting input)
    float vc1;      // across C1
    float ic2, ic1; // trapezoidal history terms
};

void clip_set_rate(ClipStage& s, float fs_os);
void clip_update(ClipStage& s, bool force);
void clip_coefs(ClipStage& s);
float clip_process(const ClipStage& s, ClipState& st, float x);
// Snaps the controls to their targets, recomputes everything and clears the state.
void clip_reset(ClipStage& s, ClipState& st);
