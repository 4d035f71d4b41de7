// The engine's own single-precision approximations of the transcendental functions.
// Every stage is built on these, in exactly this order of operations, so the output
// bits are the same on every build; nothing in the signal path calls the C library.
#pragma once

#include <bit>
#include <cstdint>
#include <emmintrin.h>

// The integer steps of the kernels run on the SSE register that holds the float, so
// no value crosses to the general-purpose registers and back (the same bits either
// way; only faster).
inline __m128i bits_vec(float x) {
    return _mm_castps_si128(_mm_set1_ps(x));
}
inline float float_vec(__m128i b) {
    return _mm_cvtss_f32(_mm_castsi128_ps(b));
}
inline __m128i int_vec(int32_t i) {
    return _mm_set1_epi32(i);
}

// Truncation toward zero of the SSE conversion: defined for every input (a NaN or an
// out-of-range value gives INT32_MIN), unlike a plain cast.
inline int32_t trunc_to_int(float x) {
    return _mm_cvttss_si32(_mm_set_ss(x));
}

inline uint32_t bits_of(float x) {
    return std::bit_cast<uint32_t>(x);
}
inline float float_of(uint32_t b) {
    return std::bit_cast<float>(b);
}

constexpr float kMinNormal = 1.17549435e-38f; // 2^-126

// 1/x: a magic-constant guess on the bit pattern refined by two Newton steps
// (relative error below 2e-5 for normal x). No special cases.
inline float fast_rcp(float x) {
    const float r0 = float_vec(_mm_sub_epi32(int_vec(0x7EF0E840), bits_vec(x)));
    const float r1 = 2.0f * r0 - r0 * (x * r0);
    return 2.0f * r1 - r1 * (x * r1);
}

// 2^x: the integer part goes into the exponent field, a cubic covers the fraction in
// [0, 1] (relative error below 7e-4). Exactly 0 below -126 and exactly 1 at 0.
inline float fast_exp2(float x) {
    if (x < -126.0f) return 0.0f;
    // Floor for non-integers; a negative integer gets i = x - 1 and f = 1.
    const __m128i b = bits_vec(x);
    const __m128i i = _mm_sub_epi32(_mm_cvttps_epi32(_mm_castsi128_ps(b)), _mm_srli_epi32(b, 31));
    const float f = x - _mm_cvtss_f32(_mm_cvtepi32_ps(i));
    const float p = float_vec(_mm_add_epi32(_mm_slli_epi32(i, 23), int_vec(0x3F800000)));
    return p + (f * p) * (f * (f * 0.07944154f + 0.22741129f) + 0.6931472f);
}

// log2 x for x > 0: exponent field plus a cubic in the mantissa (absolute error
// below 6e-3).
inline float fast_log2(float x) {
    const __m128i b = bits_vec(x);
    const float e = _mm_cvtss_f32(_mm_cvtepi32_ps(_mm_srai_epi32(b, 23)));
    const float m =
        float_vec(_mm_or_si128(_mm_and_si128(b, int_vec(0x7FFFFF)), int_vec(0x3F800000)));
    return ((0.16404256f * m - 1.0988653f) * m + 3.148298f) * m + (e - 129.21347f);
}

// sin(2*pi*p) for a phase p in cycles: a cubic on the quarter wave, exact at 0 and
// pi/2 and about 1.5 % low near pi/4 (absolute error below 0.011). Every filter design
// in the engine uses it.
inline float fast_sin2pi(float p) {
    float whole = float(trunc_to_int(p));
    if (p < whole) whole -= 1.0f; // floor for negative phases with a fraction
    const float f = p - whole;
    const float x = 2.0f * f - 1.0f;
    const float ax = std::bit_cast<float>(bits_of(x) & 0x7FFFFFFFu);
    const float fold = 2.0f * ax - 1.0f;
    const float y = 1.5707964f - 1.5707964f * std::bit_cast<float>(bits_of(fold) & 0x7FFFFFFFu);
    const float q = y + (y * y) * (-0.11073982f * y - 0.05738534f);
    return (bits_of(x) >> 31) ? q : -q;
}

// tan(2*pi*ph) as the quotient of the sine and cosine above.
inline float fast_tan2pi(float ph) {
    return fast_sin2pi(ph) * fast_rcp(fast_sin2pi(ph + 0.25f));
}

// tan(pi*f/fs), the tangent of a bilinear transform prewarped at f.
inline float prewarp_tangent(float f, float fs) {
    return fast_tan2pi(f * fast_rcp(fs) * 3.1415927f * 0.15915494f);
}

// sqrt x for x >= 2^-126 (callers handle smaller x): the input is scaled by 2^+-64
// into a safe exponent range, a bit-pattern guess is refined by two Newton steps using
// fast_rcp, and the result is scaled back (relative error below 1e-5).
inline float fast_sqrt(float x) {
    const uint32_t bx = bits_of(x);
    const uint32_t sh = (bx >> 26) & 0x38u;
    const uint32_t bs = bx + ((0x200000E0u << sh) & 0xE0000000u);
    const float xs = float_of(bs);
    const float h = 0.5f * fast_rcp(xs);
    const float t0 = float_of((((bs + 0xC07D5ED9u) >> 1) + 0x3F7D8FC7u) & 0x7FFFFFFFu);
    const float t1 = t0 + t0 * (0.5f - h * t0 * t0);
    const float t2 = t1 + t1 * (0.5f - h * t1 * t1);
    return float_of(bits_of(t2) - ((0x100000F0u << sh) & 0xF0000000u));
}

// Threshold above which callers take x itself as omega(x) instead of fast_omega.
constexpr float kOmegaLinear = 1e9f;

// Wright omega w(x), the solution of w + ln w = x, for x < 1e9: a piecewise first
// guess (0, a cubic, or x - ln x) and one Newton step. Relative error: up to 4 % for
// -3.4 < x < 0 where the first guess switches, below 0.7 % from 8 on, below 1e-6 for
// x above 1000.
inline float fast_omega(float x) {
    float w0;
    if (x < -3.3414595f)
        w0 = 0.0f;
    else if (x < 8.0f)
        w0 = ((-0.0013142931f * x + 0.047759313f) * x + 0.36319527f) * x + 0.63131833f;
    else
        w0 = x - 0.6931472f * fast_log2(x);
    const float e = fast_exp2((x - w0) * 1.442695f);
    return w0 - (w0 - e) * fast_rcp(1.0f + w0);
}

// -1, 0 or +1; both zeros give +0 (a four-entry table indexed by nonzero and sign).
inline float sign3(float x) {
    static constexpr float kTable[4] = {0.0f, 1.0f, 0.0f, -1.0f};
    return kTable[int(x != 0.0f) + 2 * int(bits_of(x) >> 31)];
}
