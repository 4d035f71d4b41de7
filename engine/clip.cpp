#include "clip.h"

#include "kernels.h"
#include "kernels4.h"

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

namespace {

// The formulas below serve one sample (T = float) and four consecutive samples
// (T = F4) alike, so both give the same bits.

// The controls derived from drive, f1 and f2.
template <class T>
struct ClipDerived {
    T r_fb, c1, c2, k;
};

template <class T>
T feedback_resistance(T drive) {
    return drive * 500000.0f + 51000.0f;
}

template <class T>
ClipDerived<T> clip_derive(const ClipStage& s, T drive, T f1, T f2) {
    ClipDerived<T> d;
    d.r_fb = feedback_resistance(drive);
    d.c1 = fast_rcp(f1) * 3.3862754e-05f; // 1 / (2 pi 4700 f1)
    d.c2 = fast_rcp(f2) * 2.8884745e-07f; // 1 / (2 pi 551000 f2)

    // Prewarp the bilinear transform at the network's natural frequency
    // 1 / (2 pi sqrt(4700 R C1 C2)).
    const T l = d.c1 * d.r_fb * d.c2;
    const T o = fast_rcp(l);
    const T fn = select(o < kMinNormal, T(0.0f), fast_sqrt(o) * 0.0023215134f);
    const T w = min_of(fn, T(s.f_max)) * 3.1415927f;
    const T ph = s.inv_fs * w * 0.15915494f;
    d.k = (2.0f * w) * fast_rcp(fast_tan2pi(ph));
    return d;
}

// The per-sample coefficients from the derived controls and the previous sample's
// capacitances.
template <class T>
ClipCoefsOf<T> clip_coefs_from(const ClipStage& s, const ClipDerived<T>& d, T c1_prev, T c2_prev) {
    using clip_detail::omega_or_linear;
    ClipCoefsOf<T> c;
    c.k = d.k;
    c.c1 = d.c1;
    c.c2 = d.c2;
    // Capacitor admittances, including the change of capacitance since the last sample.
    const T g1 = d.k * d.c1 + s.fs * (d.c1 - c1_prev);
    const T g2 = d.c2 * d.k + (d.c2 - c2_prev) * s.fs;
    c.g1 = g1;

    const T h = fast_rcp(kG4700 + g1);
    c.h_g1 = g1 * h;
    c.h_c1 = -d.c1 * h;
    const T m = fast_rcp(d.r_fb * g2 + 1.0f);
    c.beta = -m * d.r_fb;
    c.lin = (c.h_g1 * g1 - g1 - g2) * c.beta + m;
    c.diode_scale = times_in_double(fast_rcp(c.beta), -kNVtDouble);
    // z + ln z, and omega of it, which is z as the kernels compute it: subtracting it
    // makes a zero diode voltage give exactly zero current.
    const T z = -kDiodeIsOverNVt * c.beta;
    c.om_arg = z + kLn2 * fast_log2(z);
    c.om_zero = omega_or_linear(c.om_arg);

    // The network solved with the output held at a limit.
    const T den = (c.h_g1 * kG4700 + g2) * d.r_fb + 1.0f;
    const T vv = fast_rcp(den);
    c.rv = d.r_fb * vv;
    c.rv_a = -kG4700 * c.rv;
    c.rv_c2 = -d.c2 * c.rv;
    c.rail_gain = g2 * c.rv + vv;
    c.rail_pos = clip_detail::kRailPos * c.rail_gain;
    c.rail_neg = clip_detail::kRailNeg * c.rail_gain;
    c.rail_scale = fast_rcp(c.rv) * kNVt;
    const T z2 = kDiodeIsOverNVt * c.rv;
    c.om_arg_rail = z2 + kLn2 * fast_log2(z2);
    c.om_zero_rail = omega_or_linear(c.om_arg_rail);
    return c;
}

// One sample of the 5 ms glides of the controls drive, f1 and f2 toward the stage's
// targets; only the controls off their targets move (all of them when forced).
inline void clip_glide(float& drive, float& f1, float& f2, const ClipStage& s, bool force) {
    if (force || drive != s.drive_target) glide_absolute(drive, s.drive_target, s.smooth);
    if (force || f1 != s.f1_target) glide_relative(f1, s.f1_target, s.smooth);
    if (force || f2 != s.f2_target) glide_relative(f2, s.f2_target, s.smooth);
}

} // namespace

// Every derived control is a function of its own control alone, so recomputing those
// whose control stood gives back the bits they had.
void clip_update_controls(ClipStage& s, bool force) {
    s.coefs_settled = 0;
    clip_glide(s.drive, s.f1, s.f2, s, force);
    const ClipDerived<float> d = clip_derive(s, s.drive, s.f1, s.f2);
    s.r_fb = d.r_fb;
    s.co.c1 = d.c1;
    s.co.c2 = d.c2;
    s.co.k = d.k;
}

void clip_compute_coefs(ClipStage& s) {
    const ClipDerived<float> d = {s.r_fb, s.co.c1, s.co.c2, s.co.k};
    s.co = clip_coefs_from(s, d, s.c1_prev, s.c2_prev);
    s.coefs_settled = s.co.c1 == s.c1_prev && s.co.c2 == s.c2_prev;
    s.c1_prev = s.co.c1;
    s.c2_prev = s.co.c2;
}

// Each sample's coefficients are a function of its controls and of the capacitances of
// the sample before. Once the controls stand, every later sample has the inputs of the
// first sample after they stopped, so computing every sample of the run anew gives the
// coefficients that clip_coefs keeps instead of recomputing.
void clip_fill_lanes(ClipStage& s, ClipLanes& lanes, int count) {
    // The controls of each sample of the run (past count: the last sample's).
    alignas(16) float drive_at[kCoefRun], f1_at[kCoefRun], f2_at[kCoefRun];
    float drive = s.drive, f1 = s.f1, f2 = s.f2;
    CoefPack c1_before = s.c1_prev;
    CoefPack c2_before = s.c2_prev;
    for (int j = 0; j < count; j += kPackSamples) {
        for (int l = j; l < j + kPackSamples; ++l) {
            if (l < count) clip_glide(drive, f1, f2, s, false);
            drive_at[l] = drive;
            f1_at[l] = f1;
            f2_at[l] = f2;
        }
        const ClipDerived<CoefPack> d =
            clip_derive(s, load_pack<kPackRegs>(drive_at + j), load_pack<kPackRegs>(f1_at + j),
                        load_pack<kPackRegs>(f2_at + j));
        const ClipCoefsOf<CoefPack> c = clip_coefs_from(s, d, one_sample_earlier(d.c1, c1_before),
                                                        one_sample_earlier(d.c2, c2_before));
        clip_fields(lanes.at, c,
                    [j](float(&a)[kCoefRun], const CoefPack& v) { store_pack(a + j, v); });
        c1_before = d.c1;
        c2_before = d.c2;
    }
    s.drive = drive;
    s.f1 = f1;
    s.f2 = f2;

    // The record as the last sample's clip_update and clip_coefs leave it.
    const int last = count - 1;
    const float c1_prev = last > 0 ? lanes.at.c1[last - 1] : s.c1_prev;
    const float c2_prev = last > 0 ? lanes.at.c2[last - 1] : s.c2_prev;
    s.r_fb = feedback_resistance(s.drive);
    s.co = clip_lane(lanes, last);
    s.coefs_settled = s.co.c1 == c1_prev && s.co.c2 == c2_prev;
    s.c1_prev = s.co.c1;
    s.c2_prev = s.co.c2;
}

void clip_reset(ClipStage& s, ClipState& st) {
    s.drive = s.drive_target;
    s.f1 = s.f1_target;
    s.f2 = s.f2_target;
    clip_update(s, true);
    s.c1_prev = s.co.c1;
    s.c2_prev = s.co.c2;
    clip_coefs(s);
    st = ClipState{};
}
