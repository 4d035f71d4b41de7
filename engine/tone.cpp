#include "tone.h"

#include "kernels.h"
#include "kernels4.h"

constexpr float kPot = 20000.0f;       // ohms
constexpr float kCap = 2.2e-07f;       // farads, both capacitors at scale 1
constexpr float kG220 = 0.0045454544f; // 1/220 S
constexpr float kG1k = 0.001f;         // 1/1000 S

void tone_set_rate(ToneStage& s, float fs_os) {
    smoother_set_rate(s.smooth, fs_os);
    s.smooth.dirty = kDirtyAll;
    smoother_update_coefs(s.smooth);
    s.fs = fs_os;
    s.inv_fs = 1.0f / fs_os;
    s.f_max = 0.499f * fs_os;
    s.coefs_settled = 0;
}

namespace {

// The formulas below serve one sample (T = float) and four consecutive samples
// (T = F4) alike, so both give the same bits.

template <class T>
T warp_rc_of(T tone) {
    // Three pieces of the prewarping frequency P(tone) in Hz, meeting at 0.75 and 0.9.
    const T low = (((2204.8f * tone - 3200.0f) * tone + 2019.8f) * tone + 377.0f) * kCap;
    const T mid = (((54666.668f * tone - 124600.0f) * tone + 95873.336f) * tone - 23858.0f) * kCap;
    const T e = 61.537872f * tone - 49.595997f;
    const T high = select(e < -126.0f, T(0.00028572345f), (fast_exp2(e) + 1298.7429f) * kCap);
    return select(tone <= 0.75f, low, select(tone <= 0.9f, mid, high));
}

// The controls derived from the tone position and the capacitance scale.
template <class T>
struct ToneDerived {
    T g_b, g_sum, out_a, out_b, g_bz, warp_rc, cap, k;
};

template <class T>
ToneDerived<T> tone_derive(const ToneStage& s, T tone, T cap_scale) {
    ToneDerived<T> d;
    const T ra = kPot - tone * kPot;
    const T rb = tone * kPot;
    const T ga = fast_rcp(ra);
    const T gb = fast_rcp(rb);
    d.g_b = gb;
    d.g_sum = gb + ga;
    d.out_a = -1000.0f * ga;
    d.out_b = 1.0f + 1000.0f * ga;
    d.g_bz = gb + 0.0011f;
    d.warp_rc = warp_rc_of(tone);
    d.cap = fast_rcp(cap_scale) * kCap;

    const T u = fast_rcp(d.cap) * d.warp_rc; // P x scale
    const T w = min_of(u, T(s.f_max)) * 3.1415927f;
    const T ph = s.inv_fs * w * 0.15915494f;
    d.k = (w + w) * fast_rcp(fast_tan2pi(ph));
    return d;
}

// The per-sample coefficients from the derived controls and the previous sample's
// capacitance.
template <class T>
ToneCoefsOf<T> tone_coefs_from(const ToneStage& s, const ToneDerived<T>& d, T cap_prev) {
    ToneCoefsOf<T> c;
    c.k = d.k;
    c.out_a = d.out_a;
    c.out_b = d.out_b;
    const T g = d.k * d.cap + (d.cap - cap_prev) * s.fs;
    const T p1 = fast_rcp(g + d.g_sum);
    c.m_q = d.g_sum * p1;
    c.m_r = g * p1;
    c.m_cp = d.cap * p1;
    const T w = fast_rcp((g - c.m_r * g) + kG220);
    c.m_x = g * w;
    c.m_y = c.m_q * c.m_x;
    const T z = fast_rcp(g - d.g_b * (c.m_y * c.m_r + c.m_q) + d.g_bz);
    c.m_wc = -d.cap * w;
    c.m_zin = kG1k * z;
    c.m_zc = d.cap * z;
    c.m_zb = d.g_b * z;
    return c;
}

// One sample of the 5 ms glides; only the controls off their targets move (both when
// forced).
inline void tone_glide(float& tone, float& scale, const ToneStage& s, bool force) {
    if (force || tone != s.tone_target) glide_absolute(tone, s.tone_target, s.smooth);
    if (force || scale != s.cap_scale_target) glide_relative(scale, s.cap_scale_target, s.smooth);
}

void store_derived(ToneStage& s, const ToneDerived<float>& d) {
    s.g_b = d.g_b;
    s.g_sum = d.g_sum;
    s.co.out_a = d.out_a;
    s.co.out_b = d.out_b;
    s.g_bz = d.g_bz;
    s.warp_rc = d.warp_rc;
    s.cap = d.cap;
    s.co.k = d.k;
}

} // namespace

float tone_warp_rc(float tone) {
    return warp_rc_of(tone);
}

// Every derived control is a function of its own control alone, so recomputing those
// whose control stood gives back the bits they had.
void tone_update_controls(ToneStage& s, bool force) {
    s.coefs_settled = 0;
    tone_glide(s.tone, s.cap_scale, s, force);
    store_derived(s, tone_derive(s, s.tone, s.cap_scale));
}

void tone_compute_coefs(ToneStage& s) {
    const ToneDerived<float> d = {s.g_b,  s.g_sum,   s.co.out_a, s.co.out_b,
                                  s.g_bz, s.warp_rc, s.cap,      s.co.k};
    s.co = tone_coefs_from(s, d, s.cap_prev);
    s.coefs_settled = s.cap == s.cap_prev;
    s.cap_prev = s.cap;
}

// As for the clipping stage: once the controls stand, every later sample has the
// coefficients of the first sample after they stopped.
void tone_fill_lanes(ToneStage& s, ToneLanes& lanes, int count) {
    // The controls and capacitance of each sample of the run (past count: the last
    // sample's).
    alignas(16) float tone_at[kCoefRun], scale_at[kCoefRun], cap_at[kCoefRun];
    float tone = s.tone, scale = s.cap_scale;
    const float cap_at_start = s.cap_prev;
    CoefPack cap_before = cap_at_start;
    for (int j = 0; j < count; j += kPackSamples) {
        for (int l = j; l < j + kPackSamples; ++l) {
            if (l < count) tone_glide(tone, scale, s, false);
            tone_at[l] = tone;
            scale_at[l] = scale;
        }
        const ToneDerived<CoefPack> d =
            tone_derive(s, load_pack<kPackRegs>(tone_at + j), load_pack<kPackRegs>(scale_at + j));
        const ToneCoefsOf<CoefPack> c =
            tone_coefs_from(s, d, one_sample_earlier(d.cap, cap_before));
        tone_fields(lanes.at, c,
                    [j](float(&a)[kCoefRun], const CoefPack& v) { store_pack(a + j, v); });
        store_pack(cap_at + j, d.cap);
        cap_before = d.cap;
    }
    s.tone = tone;
    s.cap_scale = scale;

    // The record as the last sample's tone_update and tone_coefs leave it.
    const int last = count - 1;
    store_derived(s, tone_derive(s, s.tone, s.cap_scale));
    s.co = tone_lane(lanes, last);
    s.coefs_settled = cap_at[last] == (last > 0 ? cap_at[last - 1] : cap_at_start);
    s.cap_prev = s.cap;
}

void tone_reset(ToneStage& s, ToneState& st) {
    s.tone = s.tone_target;
    s.cap_scale = s.cap_scale_target;
    tone_update(s, true);
    s.cap_prev = s.cap;
    tone_coefs(s);
    st = ToneState{};
}
