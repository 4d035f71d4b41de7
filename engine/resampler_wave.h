// The resampler's eight sections run as a wavefront: one step moves every sample one
// section further, so section k works on the sample that entered section 0 k steps
// earlier, and all eight sections compute at once in two SSE vectors (even sections
// 0, 2, 4, 6 in one, odd sections 1, 3, 5, 7 in the other, so that each vector's input
// is the other's output without shuffling). Each lane does exactly the scalar section
// step, so the results are the same bits as resampler_process; a sample leaves
// section 7 seven steps after it entered.
//
// A run over m samples takes m + 7 steps. In the first seven and the last seven, the
// lanes without a sample keep their state (the step is masked), so that after the run
// the state is the same as after m scalar passes.
#pragma once

#include <cstdint>
#include <emmintrin.h>

#include "resampler.h"

struct ResamplerWave {
    __m128 b0_even, b0_odd, b1_even, b1_odd, p_even, p_odd, q_even, q_odd;
    __m128 z1_even, z1_odd, z2_even, z2_odd;
    __m128 y_even, y_odd; // each section's output of the last step
};

inline __m128 wave_even(const float* v) {
    return _mm_shuffle_ps(_mm_loadu_ps(v), _mm_loadu_ps(v + 4), _MM_SHUFFLE(2, 0, 2, 0));
}
inline __m128 wave_odd(const float* v) {
    return _mm_shuffle_ps(_mm_loadu_ps(v), _mm_loadu_ps(v + 4), _MM_SHUFFLE(3, 1, 3, 1));
}
inline void wave_store(float* v, __m128 even, __m128 odd) {
    _mm_storeu_ps(v, _mm_unpacklo_ps(even, odd));
    _mm_storeu_ps(v + 4, _mm_unpackhi_ps(even, odd));
}

inline ResamplerWave wave_begin(const ResamplerCoeffs& c, const ResamplerState& s) {
    return {wave_even(c.b0), wave_odd(c.b0), wave_even(c.b1),  wave_odd(c.b1),  wave_even(c.p),
            wave_odd(c.p),   wave_even(c.q), wave_odd(c.q),    wave_even(s.z1), wave_odd(s.z1),
            wave_even(s.z2), wave_odd(s.z2), _mm_setzero_ps(), _mm_setzero_ps()};
}

inline void wave_end(const ResamplerWave& w, ResamplerState& s) {
    wave_store(s.z1, w.z1_even, w.z1_odd);
    wave_store(s.z2, w.z2_even, w.z2_odd);
}

// Lanes with a sample at step t of a run over m samples: sections k with
// t - m < k <= t.
struct WaveMask {
    __m128 even, odd;
};

inline WaveMask wave_mask(int64_t t, int64_t m) {
    alignas(16) int32_t bits[8];
    for (int k = 0; k < 8; ++k) bits[(k & 1) * 4 + k / 2] = (k <= t && k > t - m) ? -1 : 0;
    return {_mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(bits))),
            _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(bits + 4)))};
}

inline __m128 wave_select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

// One step with x entering section 0. With inserted_zero, x is -0 and section 0 takes
// the reduced step of the interpolator (y = z1; z1 = p y + z2; z2 = q y): its products
// b0 x and b1 x are both made -0, which adds nothing, not even to a zero. With a mask,
// only the marked lanes keep their new state. Returns section 7's output.
inline float wave_step(ResamplerWave& w, float x, bool inserted_zero = false,
                       const WaveMask* mask = nullptr) {
    const __m128 x_even =
        _mm_move_ss(_mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(w.y_odd), 4)), _mm_set_ss(x));
    const __m128 x_odd = w.y_even;
    const __m128 bx0_even = _mm_mul_ps(w.b0_even, x_even);
    const __m128 bx0_odd = _mm_mul_ps(w.b0_odd, x_odd);
    __m128 bx1_even = _mm_mul_ps(w.b1_even, x_even);
    const __m128 bx1_odd = _mm_mul_ps(w.b1_odd, x_odd);
    if (inserted_zero) bx1_even = _mm_or_ps(bx1_even, _mm_set_ss(-0.0f)); // b0 > 0: b0 x is -0

    // y = z1 + b0 x; z1 = (b1 x + p y) + z2; z2 = q y + b0 x
    const __m128 y_even = _mm_add_ps(w.z1_even, bx0_even);
    const __m128 y_odd = _mm_add_ps(w.z1_odd, bx0_odd);
    const __m128 z1_even =
        _mm_add_ps(_mm_add_ps(bx1_even, _mm_mul_ps(w.p_even, y_even)), w.z2_even);
    const __m128 z1_odd = _mm_add_ps(_mm_add_ps(bx1_odd, _mm_mul_ps(w.p_odd, y_odd)), w.z2_odd);
    const __m128 z2_even = _mm_add_ps(_mm_mul_ps(w.q_even, y_even), bx0_even);
    const __m128 z2_odd = _mm_add_ps(_mm_mul_ps(w.q_odd, y_odd), bx0_odd);
    if (mask) {
        w.z1_even = wave_select(mask->even, z1_even, w.z1_even);
        w.z1_odd = wave_select(mask->odd, z1_odd, w.z1_odd);
        w.z2_even = wave_select(mask->even, z2_even, w.z2_even);
        w.z2_odd = wave_select(mask->odd, z2_odd, w.z2_odd);
    } else {
        w.z1_even = z1_even;
        w.z1_odd = z1_odd;
        w.z2_even = z2_even;
        w.z2_odd = z2_odd;
    }
    w.y_even = y_even;
    w.y_odd = y_odd;
    return _mm_cvtss_f32(_mm_shuffle_ps(y_odd, y_odd, 3));
}
