#include "tone.h"

#include "kernels.h"

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

float tone_warp_rc(float tone) {
    // Three pieces of the prewarping frequency P(tone) in Hz, meeting at 0.75 and 0.9.
    if (tone <= 0.75f)
        return (((2204.8f * tone - 3200.0f) * tone + 2019.8f) * tone + 377.0f) * kCap;
    if (tone <= 0.9f)
        return (((54666.668f * tone - 124600.0f) * tone + 95873.336f) * tone - 23858.0f) * kCap;
    const float e = 61.537872f * tone - 49.595997f;
    if (e < -126.0f) return 0.00028572345f;
    return (fast_exp2(e) + 1298.7429f) * kCap;
}

void tone_update_controls(ToneStage& s, bool force) {
    const bool tone_moves = s.tone != s.tone_target;
    const bool scale_moves = s.cap_scale != s.cap_scale_target;
    s.coefs_settled = 0;
    const float coef = s.smooth.coef;
    const float snap_sq = s.smooth.snap_sq;

    if (force || tone_moves) {
        const float t = s.tone_target;
        s.tone = t + (s.tone - t) * coef;
        if ((s.tone - t) * (s.tone - t) <= snap_sq) s.tone = t;
        const float ra = kPot - s.tone * kPot;
        const float rb = s.tone * kPot;
        const float ga = fast_rcp(ra);
        const float gb = fast_rcp(rb);
        s.g_b = gb;
        s.g_sum = gb + ga;
        s.out_a = -1000.0f * ga;
        s.out_b = 1.0f + 1000.0f * ga;
        s.g_bz = gb + 0.0011f;
        s.warp_rc = tone_warp_rc(s.tone);
    }
    if (force || scale_moves) {
        const float t = s.cap_scale_target;
        s.cap_scale = t + (s.cap_scale - t) * coef;
        if ((s.cap_scale - t) * (s.cap_scale - t) <= t * snap_sq * t) s.cap_scale = t;
        s.cap = fast_rcp(s.cap_scale) * kCap;
    }

    const float u = fast_rcp(s.cap) * s.warp_rc; // P x scale
    const float w = (u < s.f_max ? u : s.f_max) * 3.1415927f;
    const float ph = s.inv_fs * w * 0.15915494f;
    s.k = (w + w) * fast_rcp(fast_tan2pi(ph));
}

void tone_compute_coefs(ToneStage& s) {
    const float g = s.k * s.cap + (s.cap - s.cap_prev) * s.fs;
    s.coefs_settled = s.cap == s.cap_prev;
    s.cap_prev = s.cap;
    const float p1 = fast_rcp(g + s.g_sum);
    s.m_q = s.g_sum * p1;
    s.m_r = g * p1;
    s.m_cp = s.cap * p1;
    const float w = fast_rcp((g - s.m_r * g) + kG220);
    s.m_x = g * w;
    s.m_y = s.m_q * s.m_x;
    const float z = fast_rcp(g - s.g_b * (s.m_y * s.m_r + s.m_q) + s.g_bz);
    s.m_wc = -s.cap * w;
    s.m_zin = kG1k * z;
    s.m_zc = s.cap * z;
    s.m_zb = s.g_b * z;
}

void tone_reset(ToneStage& s, ToneState& st) {
    s.tone = s.tone_target;
    s.cap_scale = s.cap_scale_target;
    tone_update(s, true);
    s.cap_prev = s.cap;
    tone_coefs(s);
    st = ToneState{};
}
