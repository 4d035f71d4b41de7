// Magnitude spectrum for the demo plot: an in-place radix-2 FFT and a Hann-windowed
// amplitude spectrum in dB. Analysis only, so double precision and the C library.
#pragma once

#include <complex>
#include <span>
#include <vector>

// In-place forward transform; x.size() must be a power of two.
void fft(std::vector<std::complex<double>>& x);

// Amplitude of bins 0..N/2 of a Hann-windowed block of N samples (N a power of two),
// in dB relative to full scale: a sine of amplitude 1 centred on a bin reads 0 dB.
// Bins below -300 dB read -300.
std::vector<double> amplitude_spectrum_db(std::span<const float> block);
