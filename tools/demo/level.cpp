#include "tools/demo/level.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "tools/demo/fft.h"

namespace {

constexpr size_t kBlock = 4096;

double centroid(std::span<const float> x, double fs) {
    std::vector<double> amplitude(kBlock / 2 + 1);
    std::vector<std::complex<double>> block(kBlock);
    for (size_t start = 0; start + kBlock <= x.size(); start += kBlock / 2) {
        for (size_t i = 0; i < kBlock; ++i)
            block[i] = x[start + i] * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kBlock));
        fft(block);
        for (size_t k = 0; k < amplitude.size(); ++k) amplitude[k] += std::abs(block[k]);
    }
    double sum = 0, weighted = 0;
    for (size_t k = 1; k < amplitude.size(); ++k) {
        sum += amplitude[k];
        weighted += amplitude[k] * static_cast<double>(k) * fs / kBlock;
    }
    return sum > 0 ? weighted / sum : 0.0;
}

} // namespace

Levels measure_levels(std::span<const float> x, double fs) {
    double squares = 0, peak = 0;
    for (float s : x) {
        squares += double(s) * s;
        peak = std::max(peak, std::fabs(double(s)));
    }
    const double rms = x.empty() ? 0.0 : std::sqrt(squares / static_cast<double>(x.size()));
    return {rms, rms > 0 ? 20.0 * std::log10(peak / rms) : 0.0, centroid(x, fs)};
}
