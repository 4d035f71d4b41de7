// Golden output: fixed renders whose 64-bit hashes are stored here. The native and the
// Windows builds must produce exactly these bits; any change to one output bit fails.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/denormals.h"
#include "engine/engine.h"

namespace {

// The input, in single precision and integer arithmetic only (no library maths), for
// sample n at the integer rate fs:
//   tri(n, P) = |2 (n mod P) - P| / P x 2 - 1           (a triangle in [-1, 1])
//   env(n)    = (n mod (fs/4)) / (fs/4) x 2             (swells from 0 to 2, 4 per second)
//   noise(n)  = (int32(s_n) >> 8) / 2^23, s_n = 1664525 s_(n-1) + 1013904223, s_(-1) = 1
//   x(n)      = env(n) x (0.6 tri(n, fs/110) + 0.3 tri(n, fs/1650)) + 0.05 noise(n)
// with integer divisions for the periods and each product and sum evaluated left to
// right in float.
std::vector<float> golden_input(uint32_t fs, size_t n) {
    const uint32_t p1 = fs / 110, p2 = fs / 1650, period = fs / 4;
    const auto tri = [](uint32_t i, uint32_t p) {
        const int32_t d = 2 * int32_t(i % p) - int32_t(p);
        return float(d < 0 ? -d : d) / float(p) * 2.0f - 1.0f;
    };
    std::vector<float> x(n);
    uint32_t s = 1;
    for (uint32_t i = 0; i < n; ++i) {
        s = s * 1664525u + 1013904223u;
        const float noise = float(int32_t(s) >> 8) / 8388608.0f;
        const float env = float(i % period) / float(period) * 2.0f;
        x[i] = env * (0.6f * tri(i, p1) + 0.3f * tri(i, p2)) + 0.05f * noise;
    }
    return x;
}

// FNV-1a over the output's bytes (little-endian float bits).
uint64_t hash_of(const std::vector<float>& v) {
    uint64_t h = 1469598103934665603ull;
    for (float f : v) {
        uint32_t b;
        std::memcpy(&b, &f, 4);
        for (int k = 0; k < 4; ++k) h = (h ^ ((b >> (8 * k)) & 0xFF)) * 1099511628211ull;
    }
    return h;
}

enum Scenario { kDefaults, kHot, kDark, kAutomation, kSolo };

// Parameter changes between blocks for kAutomation: before block k, parameter k mod 6
// gets kMoves[k mod 6][(k / 6) mod 4]. Block k is 1 + (97 k mod 300) samples long.
constexpr float kMoves[kParamCount][4] = {{100, 0, 70, 30}, {0, 100, 25, 60},    {0, 100, 35, 50},
                                          {0, 100, 60, 20}, {5, 200, 0.04f, 60}, {1, 0, 1, 0}};

// Changes for kSolo, at a time in milliseconds: one control glides while the others
// stand (the stages alone, then the output gains alone), some are changed again
// mid-glide, and two glide together.
struct Move {
    uint32_t ms;
    int index;
    float value;
};
constexpr Move kSoloMoves[] = {
    {20, PARAM_DRIVE, 90}, {30, PARAM_DRIVE, 20},    {100, PARAM_TONE, 85},
    {105, PARAM_TONE, 5},  {110, PARAM_DRIVE, 60},   {180, PARAM_MIX, 40},
    {260, PARAM_HEAT, 75}, {330, PARAM_VOLUME, 150}, {400, PARAM_BYPASS, 1}};

std::vector<float> render(uint32_t fs, Scenario sc, uint32_t block = 256) {
    DenormalGuard guard;
    auto e = std::make_unique<Engine>();
    engine_init(*e);
    if (sc == kHot) {
        const float p[] = {100, 100, 0, 100, 200, 0};
        for (int i = 0; i < kParamCount; ++i) engine_set_param(*e, i, p[i]);
    } else if (sc == kDark) {
        const float p[] = {0, 0, 100, 30, 8, 0};
        for (int i = 0; i < kParamCount; ++i) engine_set_param(*e, i, p[i]);
    }
    engine_set_sample_rate(*e, float(fs));
    engine_reset(*e);

    const std::vector<float> in = golden_input(fs, fs / 2);
    std::vector<float> out(in.size());
    size_t pos = 0;
    size_t next_move = 0;
    for (uint32_t k = 0; pos < in.size(); ++k) {
        uint32_t n = block;
        if (sc == kSolo) {
            for (; next_move < std::size(kSoloMoves) &&
                   pos >= size_t(fs) * kSoloMoves[next_move].ms / 1000;
                 ++next_move)
                engine_set_param(*e, kSoloMoves[next_move].index, kSoloMoves[next_move].value);
            n = 99;
        } else if (sc == kAutomation) {
            engine_set_param(*e, int(k % 6), kMoves[k % 6][(k / 6) % 4]);
            n = 1 + (97 * k) % 300;
        }
        if (n > in.size() - pos) n = uint32_t(in.size() - pos);
        engine_process(*e, &in[pos], &out[pos], n);
        pos += n;
    }
    return out;
}

struct Golden {
    uint32_t fs;
    Scenario sc;
    uint64_t hash;
};

constexpr Golden kGolden[] = {
    {44100, kDefaults, 0x690f8f3a87444f9eull},    {48000, kDefaults, 0x44836cb6dd277a68ull},
    {96000, kDefaults, 0xfa534bd559823e63ull},    {176400, kDefaults, 0xe0809851e6789fddull},
    {8000, kDefaults, 0x6bf60ec581142193ull},     {44100, kHot, 0x1defd342107e1951ull},
    {48000, kHot, 0x421523d694be1606ull},         {96000, kHot, 0x47faa2ebbde43ebcull},
    {176400, kHot, 0x8bbf243b102edd09ull},        {8000, kHot, 0xb102613370e87c6aull},
    {44100, kDark, 0xad32d4b6b61dfc79ull},        {48000, kDark, 0xcaa44b5fa620cf28ull},
    {96000, kDark, 0xb998e7c662bb88f5ull},        {176400, kDark, 0x413f78afa51dd642ull},
    {8000, kDark, 0xefb74da5685ccaf8ull},         {44100, kAutomation, 0x3c6efabe2c13155full},
    {48000, kAutomation, 0x0e8b2f25083dde56ull},  {96000, kAutomation, 0xac6385e79d84da42ull},
    {176400, kAutomation, 0x2449abf23f93654aull}, {8000, kAutomation, 0xaaae35b3fdc0fb2dull},
    {44100, kSolo, 0xb2be1d10063551a4ull},        {48000, kSolo, 0x519d379202f0f238ull},
    {96000, kSolo, 0x23659a529189ee49ull},        {176400, kSolo, 0xabcc17dd5aaa193eull},
    {8000, kSolo, 0x0c336d44d618c8deull},
};

const char* const kNames[] = {"Defaults", "Hot", "Dark", "Automation", "Solo"};

} // namespace

TEST(Golden, RendersMatchTheStoredHashes) {
    std::string table;
    for (const Golden& g : kGolden) {
        const auto out = render(g.fs, g.sc);
        for (float y : out) ASSERT_TRUE(std::isfinite(y)) << g.fs << " Hz, " << kNames[g.sc];
        const uint64_t h = hash_of(out);
        char line[96];
        std::snprintf(line, sizeof line, "    {%u, k%s, 0x%016" PRIx64 "ull},\n", g.fs,
                      kNames[g.sc], h);
        table += line;
        EXPECT_EQ(h, g.hash) << g.fs << " Hz, " << kNames[g.sc];
    }
    if (HasFailure()) std::printf("Hashes of this build:\n%s", table.c_str());
}

TEST(Golden, BlockSizeDoesNotChangeTheOutput) {
    for (uint32_t fs : {8000u, 48000u}) {
        const auto whole = hash_of(render(fs, kHot, fs));
        EXPECT_EQ(hash_of(render(fs, kHot, 1)), whole) << fs;
        EXPECT_EQ(hash_of(render(fs, kHot, 333)), whole) << fs;
    }
}
