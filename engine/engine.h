// The audio engine: one mono overdrive voice in single precision. Each plug-in
// instance embeds one Engine by value; it allocates nothing and owns no pointers.
//
// Calling order: engine_init once; engine_set_sample_rate then engine_reset whenever
// processing (re)starts; then engine_set_param and engine_process on the audio thread,
// with flush-to-zero and denormals-are-zero set (DenormalGuard).
//
// Signal chain per sample: gain 4, two input high-passes, [interpolate, clipping stage,
// heat compensation gain, tone stage, decimate] at os_factor times the rate, two
// output high-passes, dry/wet mix with makeup gain, volume, bypass crossfade.
#pragma once

#include <cstdint>

#include "clip.h"
#include "params.h"
#include "resampler.h"
#include "smoother.h"
#include "tone.h"

constexpr int kMaxOsFactor = 16;

struct Engine {
    HighPass1 hp_in_a;  // 7.09 Hz
    HighPass1 hp_in_b;  // 15.52 Hz
    ResamplerCoeffs up; // interpolator, ratio +os_factor
    ClipStage clip;
    Smoother heat_gain; // oversampled rate
    ToneStage tone;
    ResamplerCoeffs down; // decimator, ratio -os_factor
    HighPass1 hp_out_a;   // 3.12 Hz
    HighPass1 hp_out_b;   // 1.59 Hz
    Smoother mix;
    Smoother volume;
    Smoother bypass;   // 1 = processing, 0 = bypassed
    int32_t os_factor; // 1..16

    float hp_in_a_state, hp_in_b_state;
    ResamplerState up_state;
    ClipState clip_state;
    ToneState tone_state;
    ResamplerState down_state;
    float hp_out_a_state, hp_out_b_state;
    float os_buf[kMaxOsFactor]; // the oversampled samples of one input sample

    float values[kParamCount]; // plain values last given to engine_set_param
};

void engine_init(Engine& e);
void engine_set_sample_rate(Engine& e, float fs);
void engine_reset(Engine& e);
// Stores the plain value and turns it into the engine's targets; other indexes are
// ignored.
void engine_set_param(Engine& e, int index, float plain);
// out may be the same array as in; n may be 0.
void engine_process(Engine& e, const float* in, float* out, uint32_t n);
