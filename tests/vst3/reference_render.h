// The processor's output is checked bit for bit against the engine alone: a test
// signal, the engine configured as the processor configures it at activation, and
// the comparison.
#pragma once

#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/engine.h"

inline std::vector<float> test_signal(size_t n) {
    std::vector<float> x(n);
    uint32_t seed = 12345;
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const float noise = float(seed >> 8) / float(1u << 24) - 0.5f;
        x[i] = 0.6f * std::sin(float(i) * 0.031f) + 0.2f * noise;
    }
    return x;
}

struct Reference {
    std::unique_ptr<Engine> e = std::make_unique<Engine>();
    explicit Reference(float rate = 48000) {
        engine_init(*e);
        engine_set_sample_rate(*e, rate);
        engine_reset(*e);
    }
    // With flush-to-zero and denormals-are-zero, as the processor runs.
    void process(const float* in, float* out, uint32_t n) {
        const unsigned saved = _mm_getcsr();
        _mm_setcsr(saved | 0x8040);
        engine_process(*e, in, out, n);
        _mm_setcsr(saved);
    }
};

inline bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}
