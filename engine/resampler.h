// Integer-ratio resampler: a 16th-order inverse-Chebyshev low-pass (eight second-order
// sections, bilinear transform at the oversampled rate) shared by the interpolator in
// front of the clipping stage and the decimator behind the tone stage.
#pragma once

#include <cstdint>

constexpr int kResamplerSections = 8;

struct ResamplerCoeffs {
    int32_t ratio;                // +N interpolates by N, -N decimates by N
    int32_t n_sections;           // always 8
    float b0[kResamplerSections]; // first and third numerator coefficient (b2 = b0)
    float b1[kResamplerSections]; // middle numerator coefficient
    float p[kResamplerSections];  // -a1
    float q[kResamplerSections];  // -a2
};

struct ResamplerState {
    float z1[kResamplerSections];
    float z2[kResamplerSections];
    int32_t phase; // decimation counter
};

// Design value v for an oversampling factor n: (1.2456399 n - 0.83545053) /
// (n - 0.48647094), about 1.094 at 2, 1.180 at 4, 1.231 at 16.
float resampler_design_value(int32_t n);

// ratio = +-N (|N| >= 2); v places the stop-band corner at v times the base Nyquist.
void resampler_design(ResamplerCoeffs& c, int32_t ratio, float v);
void resampler_reset(ResamplerState& s);

// Interpolator: count inputs -> count * N outputs. Decimator: count inputs -> one
// output for every N inputs (the first of each group). src and dst may not overlap.
void resampler_process(const ResamplerCoeffs& c, ResamplerState& s, const float* src, float* dst,
                       uint32_t count);
