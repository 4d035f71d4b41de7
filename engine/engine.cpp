#include "engine.h"

#include <type_traits>

#include "kernels.h"
#include "resampler_wave.h"

// Taper of the tone potentiometer, read with linear interpolation in steps of 5 %.
static constexpr float kToneTaper[22] = {
    0.0f,      0.0742931f, 0.116187f, 0.14277f,  0.180259f, 0.239614f, 0.369825f, 0.595395f,
    0.757983f, 0.844386f,  0.893214f, 0.919288f, 0.944411f, 0.953084f, 0.957435f, 0.962373f,
    0.967974f, 0.974329f,  0.981539f, 0.989719f, 1.0f,      1.0f};

constexpr float kInputGain = 4.0f;

static float clamp_keep_nan(float v, float lo, float hi) {
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    return v;
}

static void init_smoother(Smoother& s) {
    s.set.cutoff = 3.1830971f; // 50 ms
    s.set.snap = 0.0f;
    s.set.snap_mode = 0;
    s.set.dirty = kDirtyAll;
    s.target = 1.0f;
}

static void init_stage_smoothing(SmootherSettings& s) {
    s.cutoff = 31.830975f; // 5 ms
    s.snap = 0.001f;
    s.snap_mode = 0;
    s.dirty = kDirtyAll;
}

void engine_init(Engine& e) {
    e = Engine{};
    init_stage_smoothing(e.clip.smooth);
    init_stage_smoothing(e.tone.smooth);
    e.tone.tone_target = 0.5f;
    e.tone.cap_scale_target = 1.0f;
    init_smoother(e.heat_gain);
    init_smoother(e.mix);
    init_smoother(e.volume);
    init_smoother(e.bypass);
    for (int i = 0; i < kParamCount; ++i) engine_set_param(e, i, kParamDefaults[i]);
}

void engine_set_sample_rate(Engine& e, float fs) {
    // Oversample so that the stages run at 176.4 kHz or more, at most 16 times.
    const float quotient = 176400.0f / fs;
    int32_t ceiling = trunc_to_int(quotient);
    if (float(ceiling) != quotient) ++ceiling;
    int32_t factor = ceiling > kMaxOsFactor ? kMaxOsFactor : ceiling;
    if (factor < 1) factor = 1; // a rate the hosts never give (0, negative, NaN)
    e.os_factor = factor;

    if (ceiling > 1) {
        const float v = resampler_design_value(factor);
        resampler_design(e.up, factor, v);
        resampler_design(e.down, -factor, v);
    }
    const float fs_os = float(factor) * fs;

    hp1_design(e.hp_in_a, 7.09f, fs);
    hp1_design(e.hp_in_b, 15.52f, fs);
    hp1_design(e.hp_out_a, 3.12f, fs);
    hp1_design(e.hp_out_b, 1.59f, fs);

    clip_set_rate(e.clip, fs_os);
    tone_set_rate(e.tone, fs_os);
    smoother_set_rate(e.heat_gain, fs_os);
    smoother_set_rate(e.mix, fs);
    smoother_set_rate(e.volume, fs);
    smoother_set_rate(e.bypass, fs);
}

static void reset_smoother(Smoother& s) {
    // The rate may have changed since the last coefficients: recompute both.
    s.set.dirty = kDirtyAll;
    smoother_update_coefs(s);
    smoother_reset(s);
}

void engine_reset(Engine& e) {
    hp1_reset(e.hp_in_a_state);
    hp1_reset(e.hp_in_b_state);
    hp1_reset(e.hp_out_a_state);
    hp1_reset(e.hp_out_b_state);
    resampler_reset(e.up_state);
    resampler_reset(e.down_state);
    clip_reset(e.clip, e.clip_state);
    tone_reset(e.tone, e.tone_state);
    reset_smoother(e.heat_gain);
    reset_smoother(e.mix);
    reset_smoother(e.volume);
    reset_smoother(e.bypass);
}

void engine_set_param(Engine& e, int index, float x) {
    if (index < 0 || index >= kParamCount) return;
    e.values[index] = x;
    switch (index) {
    case PARAM_DRIVE:
        // Runs from about 0.079 at 0 to 1, reached near 96.8.
        e.clip.drive_target =
            clamp_keep_nan(fast_exp2(0.03318557f * x - 3.166179f) - 0.03214286f, 0.0f, 1.0f);
        break;
    case PARAM_TONE: {
        const float p = x * 0.19999999f; // just below 1/5: 100 reads the last interval
        int32_t i = trunc_to_int(p);
        if (i < 0) i = 0; // out-of-range or NaN values must not read outside the table
        if (i > 20) i = 20;
        const float f = p - float(i);
        const float v = kToneTaper[i] + (kToneTaper[i + 1] - kToneTaper[i]) * f;
        // Keeps both halves of the potentiometer above zero ohms.
        e.tone.tone_target = clamp_keep_nan(v, 0.001f, 0.999f);
        break;
    }
    case PARAM_HEAT: {
        const float h = fast_exp2(1.9931569f - 0.039863136f * x); // 10^(0.6 - 0.012 x)
        e.clip.f1_target = 720.48413f * h;
        e.clip.f2_target = 5663.6753f * h;
        e.heat_gain.target = (4.771561e-05f * x - 0.010261261f) * x + 1.393774f;
        break;
    }
    case PARAM_MIX:
        e.mix.target = fast_exp2(0.0561471f * x - 5.5849624f) - 0.020833334f; // (49^(x/100)-1)/48
        break;
    case PARAM_VOLUME: {
        const float v = 0.01f * x;
        if (v < 0.001f) {
            e.volume.target = 0.0f;
        } else {
            const float c = v < 0.1f ? 0.01f * fast_rcp(v) + 0.8f : 1.0f - v;
            e.volume.target = 0.25f * fast_exp2(-1.2f * 3.321928f * c); // 0.25 x 10^(-1.2 c)
        }
        break;
    }
    case PARAM_BYPASS:
        e.bypass.target = x >= 0.5f ? 0.0f : 1.0f;
        break;
    }
}

// A smoother whose steps leave it where it is: its output has the target's bits, so
// target + (y - target) x coef = target + 0 gives them back (not so for a target of -0,
// or when the target or the coefficient is not finite).
static bool smoother_settled(const Smoother& s) {
    return bits_of(s.y) == bits_of(s.target) && bits_of(s.target) != 0x80000000u &&
           s.target - s.target == 0.0f && s.set.coef - s.set.coef == 0.0f;
}

// Nothing in the oversampled section moves during the block: the stages' controls sit
// on their targets with their coefficients computed from them, and the heat
// compensation gain is settled. Every stage update and heat gain step would then return
// at once or give back the same value, so the block can leave them out.
static bool stages_settled(const Engine& e) {
    return clip_settled(e.clip) && tone_settled(e.tone) && smoother_settled(e.heat_gain);
}

// Likewise for the mix, volume and bypass smoothers of the output stage.
static bool output_settled(const Engine& e) {
    return smoother_settled(e.mix) && smoother_settled(e.volume) && smoother_settled(e.bypass);
}

// The stages' coefficients for kCoefRun oversampled samples at a time. A stage that
// moves computes them ahead of the signal chain; one that stands is held, its lanes
// written once until it moves again.
struct StageLanes {
    ClipLanes clip;
    ToneLanes tone;
    bool clip_held = false, tone_held = false;
};
struct NoLanes {};

// Advances the two stages by count (1..kCoefRun) oversampled samples.
static void fill_stage_lanes(Engine& e, StageLanes& l, int count) {
    if (!clip_settled(e.clip)) {
        clip_fill_lanes(e.clip, l.clip, count);
        l.clip_held = false;
    } else if (!l.clip_held) {
        clip_hold_lanes(e.clip, l.clip);
        l.clip_held = true;
    }
    if (!tone_settled(e.tone)) {
        tone_fill_lanes(e.tone, l.tone, count);
        l.tone_held = false;
    } else if (!l.tone_held) {
        tone_hold_lanes(e.tone, l.tone);
        l.tone_held = true;
    }
}

// One oversampled sample through the clipping stage, the heat compensation gain and
// the tone stage, with the settled stages' own coefficients, or with sample j of the
// lanes and a step of the heat gain (which gives back its value when it stands). The
// stage states and the heat gain are passed separately so that a block can keep them
// in registers.
template <bool kSettled, class Lanes>
static inline float pass(const Engine& e, const Lanes& l, int j, ClipState& clip_state,
                         Smoother& heat_gain, ToneState& tone_state, float x) {
    if constexpr (kSettled) {
        const float c = clip_process(e.clip.co, clip_state, x);
        return tone_filter(e.tone.co, tone_state, c * heat_gain.y);
    } else {
        const float c = clip_process(clip_lane(l.clip, j), clip_state, x);
        const float g = smoother_step(heat_gain);
        return tone_filter(tone_lane(l.tone, j), tone_state, c * g);
    }
}

// Gain 4 and the input high-passes.
static inline float input_stage(Engine& e, float dry) {
    const float u = kInputGain * dry;
    return hp1_step(e.hp_in_b, e.hp_in_b_state, hp1_step(e.hp_in_a, e.hp_in_a_state, u));
}

// Makeup gain 0.7621998 + 3.5505533 e^(-2.703428 m): 4.3127531 dry, about 1 wet.
static inline float makeup_gain(float m) {
    return 0.7621998f + 3.5505533f * fast_exp2(m * -2.703428f * 1.442695f);
}

// The output high-passes, dry/wet mix with makeup gain, volume and bypass crossfade.
// A settled block takes the smoothers' outputs and the makeup gain from `held`.
struct HeldGains {
    float mix, makeup, volume, bypass;
};

template <bool kSettled>
static inline float output_stage(Engine& e, const HeldGains& held, float dry, float y) {
    const float u = kInputGain * dry;
    const float o =
        hp1_step(e.hp_out_b, e.hp_out_b_state, hp1_step(e.hp_out_a, e.hp_out_a_state, y));
    const float m = kSettled ? held.mix : smoother_step(e.mix);
    const float z = u + m * (o - u);
    const float k = kSettled ? held.makeup : makeup_gain(m);
    const float vol = kSettled ? held.volume : smoother_step(e.volume);
    const float b = kSettled ? held.bypass : smoother_step(e.bypass);
    return dry + b * (z * k * vol - dry);
}

// The oversampled chain for a whole block in one loop: the interpolator runs one
// oversampled sample ahead of the clipping and tone stages and the decimator eight
// behind (one iteration, then its wavefront delay), so the clipping stage's long per-sample
// dependency chain overlaps with the filter work of neighbouring samples. Every value is computed
// as in the sample-by-sample order of the chain, so the output bits and the state left in the
// record are the same.
template <bool kStagesSettled, bool kOutputSettled>
static void process_oversampled(Engine& e, const HeldGains& held, const float* in, float* out,
                                uint32_t n) {
    const int32_t factor = e.os_factor;
    const float gain = float(factor); // makes up for the inserted zeros
    const int64_t m = int64_t(n) * factor;
    const int32_t phase = e.down_state.phase; // decimator keeps samples phase, phase+N, ...
    ResamplerWave up = wave_begin(e.up, e.up_state);
    ResamplerWave down = wave_begin(e.down, e.down_state);

    // Interpolator step s (0 <= s < m + 7) produces oversampled sample s - 7.
    uint32_t next_in = 0;
    int32_t up_slot = 0; // s mod factor
    const auto up_step = [&](int64_t s) {
        float x = 0.0f;
        bool inserted_zero = false;
        if (s < m) {
            inserted_zero = up_slot != 0;
            x = inserted_zero ? -0.0f : input_stage(e, in[next_in++]) * gain;
            if (++up_slot == factor) up_slot = 0;
        }
        if (s < 7 || s >= m) {
            const WaveMask mask = wave_mask(s, m);
            return wave_step(up, x, inserted_zero, &mask);
        }
        return wave_step(up, x, inserted_zero);
    };

    // Decimator step s takes oversampled sample s (none from m on) and yields the filter
    // output for sample s - 7; every factor-th of those is an output sample.
    uint32_t next_out = 0;
    int32_t down_slot = -7 - phase; // (s - 7 - phase) mod factor, once s >= 7
    const auto down_step = [&](int64_t s, float x) {
        float y;
        if (s < 7 || s >= m) {
            const WaveMask mask = wave_mask(s, m);
            y = wave_step(down, x, false, &mask);
        } else {
            y = wave_step(down, x);
        }
        if (down_slot == 0) {
            out[next_out] = output_stage<kOutputSettled>(e, held, in[next_out], y);
            ++next_out;
        }
        if (++down_slot == factor) down_slot = 0;
    };

    for (int64_t s = 0; s < 7; ++s) up_step(s);
    float x_next = up_step(7);
    int32_t buf_slot = 0;
    // Local copies: stores to `out` could otherwise alias them, which would send the
    // stages' state through memory on every sample.
    ClipState clip_state = e.clip_state;
    ToneState tone_state = e.tone_state;
    Smoother heat_gain = e.heat_gain;
    // The decimator takes each sample one iteration later, when its input is long
    // computed, rather than queueing behind the stages' chain.
    float y_prev = 0.0f;
    std::conditional_t<kStagesSettled, NoLanes, StageLanes> lanes;
    int lane = kCoefRun; // the first sample fills the lanes
    for (int64_t j = 0; j < m; ++j) {
        if constexpr (!kStagesSettled) {
            if (lane == kCoefRun) {
                fill_stage_lanes(e, lanes, int(m - j < kCoefRun ? m - j : kCoefRun));
                lane = 0;
            }
        }
        const float x = x_next;
        if (j + 1 < m) x_next = up_step(j + 8);
        const float y =
            pass<kStagesSettled>(e, lanes, lane++, clip_state, heat_gain, tone_state, x);
        e.os_buf[buf_slot] = y;
        if (++buf_slot == factor) buf_slot = 0;
        if (j > 0) down_step(j - 1, y_prev);
        y_prev = y;
    }
    e.clip_state = clip_state;
    e.tone_state = tone_state;
    e.heat_gain = heat_gain;
    down_step(m - 1, y_prev);
    for (int64_t s = m; s < m + 7; ++s) down_step(s, 0.0f);

    wave_end(up, e.up_state);
    wave_end(down, e.down_state);
}

template <bool kStagesSettled, bool kOutputSettled>
static void process_base_rate(Engine& e, const HeldGains& held, const float* in, float* out,
                              uint32_t n) {
    ClipState clip_state = e.clip_state;
    ToneState tone_state = e.tone_state;
    Smoother heat_gain = e.heat_gain;
    std::conditional_t<kStagesSettled, NoLanes, StageLanes> lanes;
    int lane = kCoefRun; // the first sample fills the lanes
    for (uint32_t i = 0; i < n; ++i) {
        if constexpr (!kStagesSettled) {
            if (lane == kCoefRun) {
                fill_stage_lanes(e, lanes, int(n - i < kCoefRun ? n - i : kCoefRun));
                lane = 0;
            }
        }
        const float dry = in[i];
        const float y = pass<kStagesSettled>(e, lanes, lane++, clip_state, heat_gain, tone_state,
                                             input_stage(e, dry));
        out[i] = output_stage<kOutputSettled>(e, held, dry, y);
    }
    e.clip_state = clip_state;
    e.tone_state = tone_state;
    e.heat_gain = heat_gain;
}

using ProcessBlock = void (*)(Engine&, const HeldGains&, const float*, float*, uint32_t);

// By oversampling (factor 1 or more), then by whether the stages and the output stage
// stand still for the block.
constexpr ProcessBlock kProcessBlock[2][2][2] = {
    {{process_base_rate<false, false>, process_base_rate<false, true>},
     {process_base_rate<true, false>, process_base_rate<true, true>}},
    {{process_oversampled<false, false>, process_oversampled<false, true>},
     {process_oversampled<true, false>, process_oversampled<true, true>}}};

void engine_process(Engine& e, const float* in, float* out, uint32_t n) {
    Smoother* const smoothers[] = {&e.heat_gain, &e.mix, &e.volume, &e.bypass};
    for (Smoother* s : smoothers)
        if (s->set.dirty) smoother_update_coefs(*s);
    if (n == 0) return;

    const HeldGains held = {e.mix.y, makeup_gain(e.mix.y), e.volume.y, e.bypass.y};
    kProcessBlock[e.os_factor >= 2][stages_settled(e)][output_settled(e)](e, held, in, out, n);
}
