// engine_process throughput: nanoseconds of CPU per input sample, the real-time factor
// (seconds of audio per second of CPU) and the 99th-percentile wall time of one block,
// per sample rate and block size, with settled parameters and with parameters that
// change before every block: each of the six alone, and all six together. A changing
// case also reports its ratio to the settled case of the same rate and block size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/denormals.h"
#include "engine/engine.h"

namespace {

constexpr int kAllParams = -1; // every parameter changes before every block
constexpr int kNoParam = -2;   // nothing changes: the settled case

double thread_cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

std::vector<float> test_signal(size_t n) {
    std::vector<float> v(n);
    uint32_t s = 12345;
    for (size_t i = 0; i < n; ++i) {
        s = s * 1664525u + 1013904223u;
        const float noise = float(int32_t(s) >> 8) * (0.05f / 8388608.0f);
        const float saw = float(int(i % 400) - 200) * (0.8f / 200.0f);
        v[i] = saw + noise;
    }
    return v;
}

// The two plain values a changing parameter alternates between, block by block: 30 %
// and 60 % of its range, and bypass on and off.
float alternate_value(int index, uint64_t block) {
    if (index == PARAM_BYPASS) return float(block % 2);
    return float((block % 2 ? 0.6 : 0.3) * kParams[index].max);
}

// ns per input sample of the settled case, per (rate, block size), for the ratio.
std::map<std::pair<int64_t, int64_t>, double>& settled_ns() {
    static std::map<std::pair<int64_t, int64_t>, double> m;
    return m;
}

void run_engine(benchmark::State& state, int changing) {
    const int64_t rate = state.range(0);
    const float fs = float(rate);
    const uint32_t block = uint32_t(state.range(1));
    DenormalGuard guard;
    auto e = std::make_unique<Engine>();
    engine_init(*e);
    engine_set_sample_rate(*e, fs);
    engine_reset(*e);

    // A second of signal, processed block after block round the loop.
    const std::vector<float> in = test_signal(size_t(fs) / block * block);
    std::vector<float> out(in.size());
    std::vector<double> block_ns;
    block_ns.reserve(size_t(state.max_iterations));
    size_t pos = 0;
    uint64_t k = 0;
    using Clock = std::chrono::steady_clock;
    const double cpu_start = thread_cpu_seconds();
    Clock::time_point last = Clock::now();
    for (auto _ : state) {
        if (changing == kAllParams) {
            for (int i = 0; i < kParamCount; ++i) engine_set_param(*e, i, alternate_value(i, k));
        } else if (changing >= 0) {
            engine_set_param(*e, changing, alternate_value(changing, k));
        }
        ++k;
        engine_process(*e, &in[pos], &out[pos], block);
        benchmark::DoNotOptimize(out[pos]);
        pos += block;
        if (pos == in.size()) pos = 0;
        const Clock::time_point now = Clock::now();
        block_ns.push_back(std::chrono::duration<double, std::nano>(now - last).count());
        last = now;
    }
    const double cpu = thread_cpu_seconds() - cpu_start;
    const double samples = double(state.iterations()) * block;
    const double ns = cpu / samples * 1e9;
    state.counters["ns/sample"] = ns;
    state.counters["x_realtime"] = samples / fs / cpu;
    if (!block_ns.empty()) {
        const auto p99 = block_ns.begin() + ptrdiff_t(block_ns.size() * 99 / 100);
        std::nth_element(block_ns.begin(), p99, block_ns.end());
        state.counters["p99_block_us"] = *p99 * 1e-3;
    }
    if (changing == kNoParam) {
        settled_ns()[{rate, int64_t(block)}] = ns;
    } else {
        const auto it = settled_ns().find({rate, int64_t(block)});
        if (it != settled_ns().end()) state.counters["ratio"] = ns / it->second;
    }
}

void add_cases(const std::string& name, int changing, std::initializer_list<int64_t> rates) {
    auto* b = benchmark::RegisterBenchmark(
        name.c_str(), [changing](benchmark::State& s) { run_engine(s, changing); });
    b->ArgNames({"fs", "block"});
    for (int64_t fs : rates)
        for (int64_t block : {64, 512}) b->Args({fs, block});
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // Settled first: the changing cases divide by its figures.
    add_cases("settled", kNoParam, {44100, 48000, 96000, 192000});
    for (int i = 0; i < kParamCount; ++i)
        add_cases(std::string("changing/") + kParams[i].key, i, {48000});
    add_cases("changing/all", kAllParams, {44100, 48000, 96000, 192000});
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
