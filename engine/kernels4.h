// The kernels of kernels.h for four consecutive samples at once. The stages' per-sample
// coefficients depend on their smoothed controls and never on the signal, so they are
// computed ahead of the signal chain, four samples to an SSE register. Each lane takes
// exactly the steps of the scalar kernel in the same order (a packed IEEE single
// precision operation gives each lane the bits the scalar one gives), so every lane
// has the scalar kernel's bits; the scalar kernels' branches become selects.
#pragma once

#include <emmintrin.h>

#include "kernels.h"

// Oversampled samples whose coefficients the stages compute ahead of the signal chain
// at a time (a multiple of 4).
constexpr int kCoefRun = 64;

// Four floats, one per sample, with arithmetic lane by lane. A float stands for four
// copies of itself, so the stages' formulas read the same for float and F4.
struct F4 {
    __m128 v;
    F4() = default;
    F4(__m128 x) : v(x) {}
    F4(float x) : v(_mm_set1_ps(x)) {}
};

// All ones in the lanes where a comparison holds.
struct M4 {
    __m128 v;
};

inline F4 operator+(F4 a, F4 b) {
    return _mm_add_ps(a.v, b.v);
}
inline F4 operator-(F4 a, F4 b) {
    return _mm_sub_ps(a.v, b.v);
}
inline F4 operator*(F4 a, F4 b) {
    return _mm_mul_ps(a.v, b.v);
}
// Flips the sign bit, as the scalar negation does.
inline F4 operator-(F4 a) {
    return _mm_xor_ps(a.v, _mm_set1_ps(-0.0f));
}
inline M4 operator<(F4 a, F4 b) {
    return {_mm_cmplt_ps(a.v, b.v)};
}
inline M4 operator<=(F4 a, F4 b) {
    return {_mm_cmple_ps(a.v, b.v)};
}
inline M4 operator>=(F4 a, F4 b) {
    return {_mm_cmpge_ps(a.v, b.v)};
}

// c ? a : b, lane by lane; the float version is the plain conditional.
inline F4 select(M4 c, F4 a, F4 b) {
    return _mm_or_ps(_mm_and_ps(c.v, a.v), _mm_andnot_ps(c.v, b.v));
}
inline float select(bool c, float a, float b) {
    return c ? a : b;
}

// a < b ? a : b (MINPS takes the second operand when the comparison fails, as the
// conditional does for a NaN).
inline F4 min_of(F4 a, F4 b) {
    return _mm_min_ps(a.v, b.v);
}
inline float min_of(float a, float b) {
    return a < b ? a : b;
}

// x times c rounded once to double, then to single precision.
inline F4 times_in_double(F4 x, double c) {
    const __m128d cd = _mm_set1_pd(c);
    const __m128 lo = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(x.v), cd));
    const __m128 hi = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x.v, x.v)), cd));
    return _mm_movelh_ps(lo, hi);
}
inline float times_in_double(float x, double c) {
    return float(double(x) * c);
}

inline F4 load4(const float* p) {
    return _mm_load_ps(p);
}
inline void store4(float* p, F4 a) {
    _mm_store_ps(p, a.v);
}

// The value each lane had one sample earlier: (before's lane 3, a0, a1, a2).
inline F4 one_sample_earlier(F4 a, F4 before) {
    const __m128 t = _mm_shuffle_ps(before.v, a.v, _MM_SHUFFLE(0, 0, 3, 3));
    return _mm_shuffle_ps(t, a.v, _MM_SHUFFLE(2, 1, 2, 0));
}

inline __m128i bits4(F4 x) {
    return _mm_castps_si128(x.v);
}
inline F4 float4(__m128i b) {
    return _mm_castsi128_ps(b);
}
inline __m128i int4(int32_t i) {
    return _mm_set1_epi32(i);
}

inline F4 fast_rcp(F4 x) {
    const F4 r0 = float4(_mm_sub_epi32(int4(0x7EF0E840), bits4(x)));
    const F4 r1 = 2.0f * r0 - r0 * (x * r0);
    return 2.0f * r1 - r1 * (x * r1);
}

inline F4 fast_exp2(F4 x) {
    const __m128i b = bits4(x);
    const __m128i i = _mm_sub_epi32(_mm_cvttps_epi32(x.v), _mm_srli_epi32(b, 31));
    const F4 f = x - F4(_mm_cvtepi32_ps(i));
    const F4 p = float4(_mm_add_epi32(_mm_slli_epi32(i, 23), int4(0x3F800000)));
    const F4 y = p + (f * p) * (f * (f * 0.07944154f + 0.22741129f) + 0.6931472f);
    return select(x < -126.0f, 0.0f, y);
}

inline F4 fast_log2(F4 x) {
    const __m128i b = bits4(x);
    const F4 e = _mm_cvtepi32_ps(_mm_srai_epi32(b, 23));
    const F4 m = float4(_mm_or_si128(_mm_and_si128(b, int4(0x7FFFFF)), int4(0x3F800000)));
    return ((0.16404256f * m - 1.0988653f) * m + 3.148298f) * m + (e - 129.21347f);
}

inline F4 abs4(F4 x) {
    return float4(_mm_and_si128(bits4(x), int4(0x7FFFFFFF)));
}

inline F4 fast_sin2pi(F4 p) {
    F4 whole = _mm_cvtepi32_ps(_mm_cvttps_epi32(p.v));
    whole = select(p < whole, whole - 1.0f, whole);
    const F4 f = p - whole;
    const F4 x = 2.0f * f - 1.0f;
    const F4 fold = 2.0f * abs4(x) - 1.0f;
    const F4 y = 1.5707964f - 1.5707964f * abs4(fold);
    const F4 q = y + (y * y) * (-0.11073982f * y - 0.05738534f);
    return select(M4{float4(_mm_srai_epi32(bits4(x), 31)).v}, q, -q);
}

inline F4 fast_tan2pi(F4 ph) {
    return fast_sin2pi(ph) * fast_rcp(fast_sin2pi(ph + 0.25f));
}

// The scalar kernel shifts its scaling constants by (bits >> 26) & 0x38, that is by 0, 8,
// 16 or 24 from bits 29 and 30; only 0 (scale up by 2^64) and 24 (down by 2^64) leave
// anything after the masks.
inline F4 fast_sqrt(F4 x) {
    const __m128i bx = bits4(x);
    const __m128i top = _mm_and_si128(_mm_srli_epi32(bx, 29), int4(3));
    const __m128i up = _mm_cmpeq_epi32(top, int4(0));
    const __m128i down = _mm_cmpeq_epi32(top, int4(3));
    const __m128i add = _mm_or_si128(_mm_and_si128(up, int4(0x20000000)),
                                     _mm_and_si128(down, int4(int32_t(0xE0000000u))));
    const __m128i undo = _mm_or_si128(_mm_and_si128(up, int4(0x10000000)),
                                      _mm_and_si128(down, int4(int32_t(0xF0000000u))));
    const __m128i bs = _mm_add_epi32(bx, add);
    const F4 h = 0.5f * fast_rcp(float4(bs));
    const __m128i guess = _mm_add_epi32(
        _mm_srli_epi32(_mm_add_epi32(bs, int4(int32_t(0xC07D5ED9u))), 1), int4(0x3F7D8FC7));
    const F4 t0 = float4(_mm_and_si128(guess, int4(0x7FFFFFFF)));
    const F4 t1 = t0 + t0 * (0.5f - h * t0 * t0);
    const F4 t2 = t1 + t1 * (0.5f - h * t1 * t1);
    return float4(_mm_sub_epi32(bits4(t2), undo));
}

inline F4 fast_omega(F4 x) {
    const F4 cubic = ((-0.0013142931f * x + 0.047759313f) * x + 0.36319527f) * x + 0.63131833f;
    const F4 large = x - 0.6931472f * fast_log2(x);
    const F4 w0 = select(x < -3.3414595f, 0.0f, select(x < 8.0f, cubic, large));
    const F4 e = fast_exp2((x - w0) * 1.442695f);
    return w0 - (w0 - e) * fast_rcp(1.0f + w0);
}

// N registers of four consecutive samples each, worked on side by side: their
// dependency chains are independent, so the processor overlaps them. Every operation
// and kernel applies lane by lane, as for F4.
template <int N>
struct Pack {
    F4 p[N];
    Pack() = default;
    Pack(float x) {
        for (F4& a : p) a = x;
    }
};
template <int N>
struct PackMask {
    M4 p[N];
};

template <int N, class F>
inline Pack<N> pack_map(F f, const Pack<N>& a) {
    Pack<N> r;
    for (int i = 0; i < N; ++i) r.p[i] = f(a.p[i]);
    return r;
}
template <int N, class F>
inline Pack<N> pack_map(F f, const Pack<N>& a, const Pack<N>& b) {
    Pack<N> r;
    for (int i = 0; i < N; ++i) r.p[i] = f(a.p[i], b.p[i]);
    return r;
}
template <int N, class F>
inline PackMask<N> pack_compare(F f, const Pack<N>& a, const Pack<N>& b) {
    PackMask<N> r;
    for (int i = 0; i < N; ++i) r.p[i] = f(a.p[i], b.p[i]);
    return r;
}

template <int N>
inline Pack<N> operator+(const Pack<N>& a, const Pack<N>& b) {
    return pack_map([](F4 x, F4 y) { return x + y; }, a, b);
}
template <int N>
inline Pack<N> operator-(const Pack<N>& a, const Pack<N>& b) {
    return pack_map([](F4 x, F4 y) { return x - y; }, a, b);
}
template <int N>
inline Pack<N> operator*(const Pack<N>& a, const Pack<N>& b) {
    return pack_map([](F4 x, F4 y) { return x * y; }, a, b);
}
template <int N>
inline Pack<N> operator+(float a, const Pack<N>& b) {
    return Pack<N>(a) + b;
}
template <int N>
inline Pack<N> operator+(const Pack<N>& a, float b) {
    return a + Pack<N>(b);
}
template <int N>
inline Pack<N> operator-(float a, const Pack<N>& b) {
    return Pack<N>(a) - b;
}
template <int N>
inline Pack<N> operator-(const Pack<N>& a, float b) {
    return a - Pack<N>(b);
}
template <int N>
inline Pack<N> operator*(float a, const Pack<N>& b) {
    return Pack<N>(a) * b;
}
template <int N>
inline Pack<N> operator*(const Pack<N>& a, float b) {
    return a * Pack<N>(b);
}
template <int N>
inline Pack<N> operator-(const Pack<N>& a) {
    return pack_map([](F4 x) { return -x; }, a);
}
template <int N>
inline PackMask<N> operator<(const Pack<N>& a, float b) {
    return pack_compare([](F4 x, F4 y) { return x < y; }, a, Pack<N>(b));
}
template <int N>
inline PackMask<N> operator<=(const Pack<N>& a, float b) {
    return pack_compare([](F4 x, F4 y) { return x <= y; }, a, Pack<N>(b));
}
template <int N>
inline PackMask<N> operator>=(const Pack<N>& a, float b) {
    return pack_compare([](F4 x, F4 y) { return x >= y; }, a, Pack<N>(b));
}
template <int N>
inline Pack<N> select(const PackMask<N>& c, const Pack<N>& a, const Pack<N>& b) {
    Pack<N> r;
    for (int i = 0; i < N; ++i) r.p[i] = select(c.p[i], a.p[i], b.p[i]);
    return r;
}
template <int N>
inline Pack<N> min_of(const Pack<N>& a, const Pack<N>& b) {
    return pack_map([](F4 x, F4 y) { return min_of(x, y); }, a, b);
}
template <int N>
inline Pack<N> times_in_double(const Pack<N>& a, double c) {
    return pack_map([c](F4 x) { return times_in_double(x, c); }, a);
}
template <int N>
inline Pack<N> fast_rcp(const Pack<N>& a) {
    return pack_map([](F4 x) { return fast_rcp(x); }, a);
}
template <int N>
inline Pack<N> fast_exp2(const Pack<N>& a) {
    return pack_map([](F4 x) { return fast_exp2(x); }, a);
}
template <int N>
inline Pack<N> fast_log2(const Pack<N>& a) {
    return pack_map([](F4 x) { return fast_log2(x); }, a);
}
template <int N>
inline Pack<N> fast_tan2pi(const Pack<N>& a) {
    return pack_map([](F4 x) { return fast_tan2pi(x); }, a);
}
template <int N>
inline Pack<N> fast_sqrt(const Pack<N>& a) {
    return pack_map([](F4 x) { return fast_sqrt(x); }, a);
}
template <int N>
inline Pack<N> fast_omega(const Pack<N>& a) {
    return pack_map([](F4 x) { return fast_omega(x); }, a);
}

template <int N>
inline Pack<N> load_pack(const float* p) {
    Pack<N> r;
    for (int i = 0; i < N; ++i) r.p[i] = load4(p + 4 * i);
    return r;
}
template <int N>
inline void store_pack(float* p, const Pack<N>& a) {
    for (int i = 0; i < N; ++i) store4(p + 4 * i, a.p[i]);
}
// The value each lane had one sample earlier, with before's last lane first.
template <int N>
inline Pack<N> one_sample_earlier(const Pack<N>& a, const Pack<N>& before) {
    Pack<N> r;
    r.p[0] = one_sample_earlier(a.p[0], before.p[N - 1]);
    for (int i = 1; i < N; ++i) r.p[i] = one_sample_earlier(a.p[i], a.p[i - 1]);
    return r;
}

// The stages compute their per-sample coefficients kPackSamples samples at a time.
constexpr int kPackRegs = 4;
constexpr int kPackSamples = 4 * kPackRegs;
using CoefPack = Pack<kPackRegs>;
static_assert(kCoefRun % kPackSamples == 0);
