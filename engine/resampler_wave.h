// The resampler's eight sections run as a wavefront: lane k of two SSE vectors is
// section k, and one step moves every sample one section further, so section k works
// on the sample that entered section 0 k steps earlier. Each lane does exactly the
// scalar section step, so the results are the same bits as resampler_process; a
// sample leaves section 7 seven steps after it entered.
//
// A run over m samples takes m + 7 steps. In the first seven and the last seven, the
// lanes without a sample keep their state (the step is masked), so that after the run
// the state is the same as after m scalar section passes.
#pragma once

#include <cstdint>
#include <emmintrin.h>

#include "resampler.h"

struct ResamplerWave {
    __m128 z1_lo, z1_hi, z2_lo, z2_hi; // sections 0-3 and 4-7
    __m128 y_lo, y_hi;                 // each section's output of the last step
};

inline ResamplerWave wave_begin(const ResamplerState& s) {
    return {_mm_loadu_ps(s.z1),     _mm_loadu_ps(s.z1 + 4), _mm_loadu_ps(s.z2),
            _mm_loadu_ps(s.z2 + 4), _mm_setzero_ps(),       _mm_setzero_ps()};
}

inline void wave_end(const ResamplerWave& w, ResamplerState& s) {
    _mm_storeu_ps(s.z1, w.z1_lo);
    _mm_storeu_ps(s.z1 + 4, w.z1_hi);
    _mm_storeu_ps(s.z2, w.z2_lo);
    _mm_storeu_ps(s.z2 + 4, w.z2_hi);
}

// Lanes with a sample at step t of a run over m samples: sections k with
// t - m < k <= t.
struct WaveMask {
    __m128 lo, hi;
};

inline WaveMask wave_mask(int64_t t, int64_t m) {
    alignas(16) int32_t bits[8];
    for (int k = 0; k < 8; ++k) bits[k] = (k <= t && k > t - m) ? -1 : 0;
    return {_mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(bits))),
            _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(bits + 4)))};
}

inline __m128 wave_select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

// One step. Section 0's products b0*x and b1*x come from the caller (the interpolator
// passes -0 for both on an inserted zero, which turns the general step into the
// reduced one bit for bit); the other sections take the previous step's outputs.
// With a mask, only the marked lanes keep their new state. Returns section 7's output.
inline float wave_step(ResamplerWave& w, const ResamplerCoeffs& c, float bx0_first, float bx1_first,
                       const WaveMask* mask = nullptr) {
    const __m128 x_lo = _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(w.y_lo), 4));
    const __m128 x_hi = _mm_move_ss(_mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(w.y_hi), 4)),
                                    _mm_shuffle_ps(w.y_lo, w.y_lo, 3));
    const __m128 b0_lo = _mm_loadu_ps(c.b0), b0_hi = _mm_loadu_ps(c.b0 + 4);
    const __m128 b1_lo = _mm_loadu_ps(c.b1), b1_hi = _mm_loadu_ps(c.b1 + 4);
    const __m128 bx0_lo = _mm_move_ss(_mm_mul_ps(b0_lo, x_lo), _mm_set_ss(bx0_first));
    const __m128 bx1_lo = _mm_move_ss(_mm_mul_ps(b1_lo, x_lo), _mm_set_ss(bx1_first));
    const __m128 bx0_hi = _mm_mul_ps(b0_hi, x_hi);
    const __m128 bx1_hi = _mm_mul_ps(b1_hi, x_hi);

    // y = z1 + b0 x; z1 = (b1 x + p y) + z2; z2 = q y + b0 x
    const __m128 y_lo = _mm_add_ps(w.z1_lo, bx0_lo);
    const __m128 y_hi = _mm_add_ps(w.z1_hi, bx0_hi);
    const __m128 z1_lo =
        _mm_add_ps(_mm_add_ps(bx1_lo, _mm_mul_ps(_mm_loadu_ps(c.p), y_lo)), w.z2_lo);
    const __m128 z1_hi =
        _mm_add_ps(_mm_add_ps(bx1_hi, _mm_mul_ps(_mm_loadu_ps(c.p + 4), y_hi)), w.z2_hi);
    const __m128 z2_lo = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(c.q), y_lo), bx0_lo);
    const __m128 z2_hi = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(c.q + 4), y_hi), bx0_hi);
    if (mask) {
        w.z1_lo = wave_select(mask->lo, z1_lo, w.z1_lo);
        w.z1_hi = wave_select(mask->hi, z1_hi, w.z1_hi);
        w.z2_lo = wave_select(mask->lo, z2_lo, w.z2_lo);
        w.z2_hi = wave_select(mask->hi, z2_hi, w.z2_hi);
    } else {
        w.z1_lo = z1_lo;
        w.z1_hi = z1_hi;
        w.z2_lo = z2_lo;
        w.z2_hi = z2_hi;
    }
    w.y_lo = y_lo;
    w.y_hi = y_hi;
    return _mm_cvtss_f32(_mm_shuffle_ps(y_hi, y_hi, 3));
}
