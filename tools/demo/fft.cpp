#include "tools/demo/fft.h"

#include <cmath>
#include <numbers>
#include <utility>

void fft(std::vector<std::complex<double>>& x) {
    const size_t n = x.size();
    // Bit-reversed order, then butterflies of doubling span.
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j |= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * std::numbers::pi / static_cast<double>(len);
        for (size_t k = 0; k < len / 2; ++k) {
            const std::complex<double> w = std::polar(1.0, angle * static_cast<double>(k));
            for (size_t i = k; i < n; i += len) {
                const std::complex<double> a = x[i], b = x[i + len / 2] * w;
                x[i] = a + b;
                x[i + len / 2] = a - b;
            }
        }
    }
}

std::vector<double> amplitude_spectrum_db(std::span<const float> block) {
    const size_t n = block.size();
    std::vector<std::complex<double>> x(n);
    double window_sum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / n);
        window_sum += w;
        x[i] = block[i] * w;
    }
    fft(x);
    // A sine of amplitude A puts A/2 times the window's sum into its bin.
    std::vector<double> db(n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k) {
        const double amplitude = 2.0 * std::abs(x[k]) / window_sum;
        db[k] = amplitude > 1e-15 ? 20.0 * std::log10(amplitude) : -300.0;
    }
    return db;
}
