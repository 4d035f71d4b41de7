// engine_process throughput: nanoseconds per input sample and the real-time factor
// (seconds of audio per second of CPU), per sample rate and block size, with settled
// parameters and with one parameter change before every block.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

#include "engine/denormals.h"
#include "engine/engine.h"

namespace {

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

void run_engine(benchmark::State& state, bool changing) {
    const float fs = float(state.range(0));
    const uint32_t block = uint32_t(state.range(1));
    DenormalGuard guard;
    auto e = std::make_unique<Engine>();
    engine_init(*e);
    engine_set_sample_rate(*e, fs);
    engine_reset(*e);

    // A second of signal, processed block after block round the loop.
    const std::vector<float> in = test_signal(size_t(fs) / block * block);
    std::vector<float> out(in.size());
    size_t pos = 0;
    uint64_t k = 0;
    const double cpu_start = thread_cpu_seconds();
    for (auto _ : state) {
        if (changing) {
            // Alternate each parameter between two values, one parameter per block.
            const int index = int(k % kParamCount);
            const float value =
                (k / kParamCount) % 2 ? kParamDefaults[index] : 0.3f * kParams[index].max;
            engine_set_param(*e, index, index == PARAM_BYPASS ? 0.0f : value);
            ++k;
        }
        engine_process(*e, &in[pos], &out[pos], block);
        benchmark::DoNotOptimize(out[pos]);
        pos += block;
        if (pos == in.size()) pos = 0;
    }
    const double cpu = thread_cpu_seconds() - cpu_start;
    const double samples = double(state.iterations()) * block;
    state.counters["ns/sample"] = cpu / samples * 1e9;
    state.counters["x_realtime"] = samples / fs / cpu;
    state.counters["os_factor"] = e->os_factor;
}

void settled(benchmark::State& state) {
    run_engine(state, false);
}
void changing(benchmark::State& state) {
    run_engine(state, true);
}

void rates_and_blocks(benchmark::internal::Benchmark* b) {
    b->ArgNames({"fs", "block"});
    for (int64_t fs : {44100, 48000, 96000, 192000})
        for (int64_t block : {64, 512}) b->Args({fs, block});
}

} // namespace

BENCHMARK(settled)->Apply(rates_and_blocks);
BENCHMARK(changing)->Apply(rates_and_blocks);

BENCHMARK_MAIN();
