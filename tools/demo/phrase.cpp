// Plucked strings by the Karplus-Strong method: a delay line one period long, filled
// with a burst of filtered noise, fed back through a two-point average (which loses
// high partials first, as a real string does) and a first-order all-pass that supplies
// the fractional part of the period so that the notes are in tune.

#include "tools/demo/phrase.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

struct Note {
    double start;   // seconds
    double stop;    // seconds; the string is damped from here
    double freq;    // hertz
    float velocity; // 0..1: loudness and brightness of the pluck
};

// Deterministic white noise in -1..1 (a 32-bit xorshift generator).
struct Noise {
    uint32_t state = 0x9e3779b9u;
    float next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(state) * (2.0f / 4294967296.0f) - 1.0f;
    }
};

// Adds one plucked note to out.
void pluck(std::vector<float>& out, int fs, const Note& note, Noise& noise) {
    // The average delays the loop by half a sample; the all-pass takes 0.1..1.1 samples.
    const double period = fs / note.freq - 0.5;
    const int length = static_cast<int>(period - 0.1);
    const double frac = period - length;
    const float c = static_cast<float>((1.0 - frac) / (1.0 + frac));

    // Excitation: noise, darker for softer plucks, with the notch pattern of a pick
    // striking the string at an eighth of its length.
    std::vector<float> line(static_cast<size_t>(length));
    const float bright = 0.25f + 0.6f * note.velocity;
    float lp = 0.0f;
    for (float& s : line) {
        lp += bright * (noise.next() - lp);
        s = lp;
    }
    const int pick = std::max(1, length / 8);
    for (int i = length - 1; i >= pick; --i) line[i] -= line[i - pick];
    float mean = 0.0f;
    for (float s : line) mean += s;
    mean /= static_cast<float>(length);
    for (float& s : line) s = (s - mean) * note.velocity;

    // Loop gain per period: 8 s to -60 dB, before the losses of the average.
    const float sustain = static_cast<float>(std::pow(0.001, 1.0 / (8.0 * note.freq)));
    const float damped = 0.96f;
    const size_t first = static_cast<size_t>(note.start * fs);
    const size_t damp_at = static_cast<size_t>(note.stop * fs);
    const size_t last = std::min(out.size(), damp_at + static_cast<size_t>(0.08 * fs));
    float prev = 0.0f, ap_in = 0.0f, ap_out = 0.0f;
    size_t pos = 0;
    for (size_t n = first; n < last; ++n) {
        const float y = line[pos];
        const float gain = n < damp_at ? sustain : damped;
        const float avg = 0.5f * (y + prev) * gain;
        prev = y;
        ap_out = c * avg + ap_in - c * ap_out;
        ap_in = avg;
        line[pos] = ap_out;
        pos = pos + 1 == line.size() ? 0 : pos + 1;
        out[n] += y;
    }
}

} // namespace

std::vector<float> synthesise_phrase(int fs) {
    // E minor pentatonic, eighth notes at 100 beats per minute.
    constexpr double E2 = 82.41, B2 = 123.47, E3 = 164.81, G3 = 196.00, A3 = 220.00, B3 = 246.94,
                     D4 = 293.66, E4 = 329.63;
    constexpr double eighth = 0.3;
    const double lick[] = {E3, G3, A3, B3, D4, B3, A3, G3, A3, E3};
    std::vector<Note> notes;
    double t = 0.05;
    for (size_t i = 0; i < std::size(lick); ++i) {
        const bool accent = i % 4 == 0;
        const double hold = i + 1 == std::size(lick) ? 2 * eighth : eighth;
        notes.push_back({t, t + hold * 0.95, lick[i], accent ? 0.95f : 0.7f});
        t += hold;
    }
    // A downward strum of open E minor, 12 ms between strings, left to ring.
    t += 0.15;
    const double chord[] = {E2, B2, E3, G3, B3, E4};
    const double end = t + 3.0;
    for (size_t s = 0; s < std::size(chord); ++s)
        notes.push_back({t + 0.012 * s, end - 0.1, chord[s], 0.9f});

    std::vector<float> out(static_cast<size_t>(end * fs));
    Noise noise;
    for (const Note& note : notes) pluck(out, fs, note, noise);

    float peak = 0.0f;
    for (float s : out) peak = std::max(peak, std::fabs(s));
    if (peak > 0.0f)
        for (float& s : out) s *= 0.5f / peak;
    return out;
}
