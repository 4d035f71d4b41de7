#include "clip.h"

#include "kernels.h"

// Network constants: 1/4700 S to ground through C1, 51 k + 500 k x drive in feedback,
// diode n*Vt = 0.045552 V (1/21.952932) with saturation current 2.52 nA, output
// limits +3.92 and -3.12 V.
constexpr float kG4700 = 0.00021276595f;
constexpr float kNVt = 0.045552f;
constexpr double kNVtDouble = 0.045552;
constexpr float kDiodeIsOverNVt = 5.532139e-08f;
constexpr float kLn2 = 0.6931472f;

void clip_set_rate(ClipStage& s, float fs_os) {
    smoother_set_rate(s.smooth, fs_os);
    s.smooth.dirty = kDirtyAll;
    smoother_update_coefs(s.smooth);
    s.fs = fs_os;
    s.inv_fs = 1.0f / fs_os;
    s.f_max = 0.499f * fs_os;
    s.coefs_settled = 0;
}

void clip_update_controls(ClipStage& s, bool force) {
    const bool drive_moves = s.drive != s.drive_target;
    const bool f1_moves = s.f1 != s.f1_target;
    const bool f2_moves = s.f2 != s.f2_target;
    s.coefs_settled = 0;
    const float coef = s.smooth.coef;
    const float snap_sq = s.smooth.snap_sq;

    if (force || drive_moves) {
        const float t = s.drive_target;
        s.drive = t + (s.drive - t) * coef;
        if ((s.drive - t) * (s.drive - t) <= snap_sq) s.drive = t;
        s.r_fb = s.drive * 500000.0f + 51000.0f;
    }
    if (force || f1_moves) {
        const float t = s.f1_target;
        s.f1 = t + (s.f1 - t) * coef;
        if ((s.f1 - t) * (s.f1 - t) <= t * snap_sq * t) s.f1 = t;
        s.c1 = fast_rcp(s.f1) * 3.3862754e-05f; // 1 / (2 pi 4700 f1)
    }
    if (force || f2_moves) {
        const float t = s.f2_target;
        s.f2 = t + (s.f2 - t) * coef;
        if ((s.f2 - t) * (s.f2 - t) <= t * snap_sq * t) s.f2 = t;
        s.c2 = fast_rcp(s.f2) * 2.8884745e-07f; // 1 / (2 pi 551000 f2)
    }

    // Prewarp the bilinear transform at the network's natural frequency
    // 1 / (2 pi sqrt(4700 R C1 C2)).
    const float l = s.c1 * s.r_fb * s.c2;
    const float o = fast_rcp(l);
    const float fn = o < kMinNormal ? 0.0f : fast_sqrt(o) * 0.0023215134f;
    const float w = (fn < s.f_max ? fn : s.f_max) * 3.1415927f;
    const float ph = s.inv_fs * w * 0.15915494f;
    s.k = (2.0f * w) * fast_rcp(fast_tan2pi(ph));
}

void clip_compute_coefs(ClipStage& s) {
    using clip_detail::omega_or_linear;
    // Capacitor admittances, including the change of capacitance since the last sample.
    const float g1 = s.k * s.c1 + s.fs * (s.c1 - s.c1_prev);
    const float g2 = s.c2 * s.k + (s.c2 - s.c2_prev) * s.fs;
    s.coefs_settled = s.c1 == s.c1_prev && s.c2 == s.c2_prev;
    s.c1_prev = s.c1;
    s.c2_prev = s.c2;
    s.g1 = g1;

    const float h = fast_rcp(kG4700 + g1);
    s.h_g1 = g1 * h;
    s.h_c1 = -s.c1 * h;
    const float m = fast_rcp(s.r_fb * g2 + 1.0f);
    s.beta = -m * s.r_fb;
    s.lin = (s.h_g1 * g1 - g1 - g2) * s.beta + m;
    s.diode_scale = float(double(fast_rcp(s.beta)) * -kNVtDouble);
    // z + ln z, and omega of it, which is z as the kernels compute it: subtracting it
    // makes a zero diode voltage give exactly zero current.
    const float z = -kDiodeIsOverNVt * s.beta;
    s.om_arg = z + kLn2 * fast_log2(z);
    s.om_zero = omega_or_linear(s.om_arg);

    // The network solved with the output held at a limit.
    const float den = (s.h_g1 * kG4700 + g2) * s.r_fb + 1.0f;
    const float vv = fast_rcp(den);
    s.rv = s.r_fb * vv;
    s.rv_a = -kG4700 * s.rv;
    s.rv_c2 = -s.c2 * s.rv;
    s.rail_gain = g2 * s.rv + vv;
    s.rail_pos = clip_detail::kRailPos * s.rail_gain;
    s.rail_neg = clip_detail::kRailNeg * s.rail_gain;
    s.rail_scale = fast_rcp(s.rv) * kNVt;
    const float z2 = kDiodeIsOverNVt * s.rv;
    s.om_arg_rail = z2 + kLn2 * fast_log2(z2);
    s.om_zero_rail = omega_or_linear(s.om_arg_rail);
}

void clip_reset(ClipStage& s, ClipState& st) {
    s.drive = s.drive_target;
    s.f1 = s.f1_target;
    s.f2 = s.f2_target;
    clip_update(s, true);
    s.c1_prev = s.c1;
    s.c2_prev = s.c2;
    clip_coefs(s);
    st = ClipState{};
}
