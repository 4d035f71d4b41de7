// What the preset table in the README reports of a rendered signal: its RMS level,
// its crest factor (peak over RMS) and its spectral centroid. Analysis only, so double
// precision and the C library.
#pragma once

#include <span>

struct Levels {
    double rms;         // root mean square of the samples
    double crest_db;    // 20 log10(peak / rms)
    double centroid_hz; // amplitude-weighted mean frequency of the averaged spectrum
};

// The whole signal's figures at sample rate fs. The spectrum is the average of the
// amplitudes of Hann-windowed blocks of 4096 samples, half overlapping; its centroid
// leaves out the DC bin. A signal shorter than one block, or silent, has centroid 0.
Levels measure_levels(std::span<const float> x, double fs);
