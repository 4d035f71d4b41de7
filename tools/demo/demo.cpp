// emberpress-demo: material for `make demo`.
//
//   emberpress-demo phrase OUT.wav   the guitar-like test phrase (48 kHz mono float WAV)
//   emberpress-demo plot OUT.svg     the engine's static transfer curve at three drive
//                                    settings and the spectrum of a 1 kHz sine at full
//                                    drive, measured through the real engine
//   emberpress-demo compare A.wav B.wav
//                                    exit 0 when both hold the same samples bit for
//                                    bit (file bytes may differ: headers, peak chunks)
//   emberpress-demo measure DRY.wav WET.wav
//                                    WET's RMS level relative to DRY's, its crest
//                                    factor and its spectral centroid
//   emberpress-demo presets          the README's table of the factory presets, each
//                                    measured on the phrase; exit 1 (saying why) when
//                                    a preset misses its intended level by over 1 dB

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/denormals.h"
#include "engine/engine.h"
#include "engine/params.h"
#include "engine/presets.h"
#include "tools/demo/fft.h"
#include "tools/demo/level.h"
#include "tools/demo/phrase.h"
#include "tools/demo/svg_plot.h"

namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

bool write_wav(const char* path, const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path, SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "emberpress-demo: cannot write '%s': %s\n", path,
                     sf_strerror(nullptr));
        return false;
    }
    sf_command(f, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    const auto n = static_cast<sf_count_t>(samples.size());
    const bool ok = sf_writef_float(f, samples.data(), n) == n;
    if (!ok) std::fprintf(stderr, "emberpress-demo: cannot write '%s': %s\n", path, sf_strerror(f));
    return sf_close(f) == 0 && ok;
}

// Runs x through a fresh engine with the six plain values, the way the plug-ins and
// emberpress-render set it up.
std::vector<float> through_engine(const std::vector<float>& x, const float values[kParamCount]) {
    static Engine engine;
    engine_init(engine);
    for (int i = 0; i < kParamCount; ++i) engine_set_param(engine, i, values[i]);
    engine_set_sample_rate(engine, kRate);
    engine_reset(engine);
    std::vector<float> y(x.size());
    DenormalGuard ftz;
    for (size_t i = 0; i < x.size(); i += 512) {
        const size_t n = std::min<size_t>(512, x.size() - i);
        engine_process(engine, x.data() + i, y.data() + i, static_cast<uint32_t>(n));
    }
    return y;
}

// The defaults with the given (index, plain value) settings.
std::vector<float> through_engine(const std::vector<float>& x,
                                  std::initializer_list<std::pair<int, float>> settings) {
    float values[kParamCount];
    std::copy(kParamDefaults, kParamDefaults + kParamCount, values);
    for (const auto& [index, value] : settings) values[index] = value;
    return through_engine(x, values);
}

double to_db(double rms) {
    return rms > 0 ? 20.0 * std::log10(rms * std::sqrt(2.0)) : -300.0;
}

// Static transfer curve: a 500 Hz sine whose level rises slowly from -80 to 0 dBFS
// over 8 s; the output's level against the input's, measured in 50 ms windows (as
// sine peak levels, so that a sine of amplitude 1 reads 0 dBFS).
PlotSeries transfer_curve(float drive, const char* label, const char* color) {
    const double seconds = 8.0, from_db = -80.0, to_db_level = 0.0;
    const size_t n = static_cast<size_t>(seconds * kRate);
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double level = from_db + (to_db_level - from_db) * t / seconds;
        x[i] = static_cast<float>(std::pow(10.0, level / 20.0) * std::sin(2 * kPi * 500.0 * t));
    }
    const std::vector<float> y = through_engine(x, {{PARAM_DRIVE, drive}});
    PlotSeries s{label, color, {}};
    const size_t window = kRate / 20;
    for (size_t start = window; start + window <= n; start += window / 2) {
        double in_sq = 0, out_sq = 0;
        for (size_t i = start; i < start + window; ++i) {
            in_sq += double(x[i]) * x[i];
            out_sq += double(y[i]) * y[i];
        }
        s.points.push_back({to_db(std::sqrt(in_sq / window)), to_db(std::sqrt(out_sq / window))});
    }
    return s;
}

// Spectrum of a 1 kHz sine at -6 dBFS through the engine at full drive, one point per
// column of the plot (the loudest bin in it), so that narrow peaks stay visible.
PlotSeries sine_spectrum(const PlotAxis& freq_axis) {
    const size_t fft_size = 1 << 15, settle = kRate;
    std::vector<float> x(settle + fft_size);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(0.5 * std::sin(2 * kPi * 1000.0 * i / kRate));
    const std::vector<float> y = through_engine(x, {{PARAM_DRIVE, 100.0f}});
    const std::vector<double> db =
        amplitude_spectrum_db(std::span<const float>(y).subspan(settle, fft_size));

    PlotSeries s{"", "#b03a2e", {}};
    constexpr int kColumns = 480;
    const double bin_hz = static_cast<double>(kRate) / fft_size;
    const double span = std::log(freq_axis.max / freq_axis.min);
    for (int c = 0; c < kColumns; ++c) {
        const double f_lo = freq_axis.min * std::exp(span * c / kColumns);
        const double f_hi = freq_axis.min * std::exp(span * (c + 1) / kColumns);
        // Low columns are narrower than a bin: they take the nearest one.
        size_t k_lo = static_cast<size_t>(std::ceil(f_lo / bin_hz));
        size_t k_hi = std::min(db.size() - 1, static_cast<size_t>(f_hi / bin_hz));
        if (k_lo > k_hi) k_lo = k_hi = static_cast<size_t>(std::lround(f_lo / bin_hz));
        size_t best = k_lo;
        for (size_t k = k_lo; k <= k_hi; ++k)
            if (db[k] > db[best]) best = k;
        s.points.push_back({best * bin_hz, db[best]});
    }
    return s;
}

bool write_plot(const char* path) {
    PlotPanel transfer{
        "Static transfer curve (500 Hz sine, slow level sweep)",
        {"input level (dBFS)", -80, 0, false, {-80, -70, -60, -50, -40, -30, -20, -10, 0}},
        {"output level (dBFS)", -60, 10, false, {-60, -50, -40, -30, -20, -10, 0, 10}},
        {}};
    transfer.series.push_back(transfer_curve(0.0f, "drive 0 %", "#2e86c1"));
    transfer.series.push_back(transfer_curve(50.0f, "drive 50 %", "#e67e22"));
    transfer.series.push_back(transfer_curve(100.0f, "drive 100 %", "#b03a2e"));

    PlotPanel spectrum{
        "Spectrum of a 1 kHz sine at -6 dBFS, drive 100 %",
        {"frequency (Hz)",
         20,
         24000,
         true,
         {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000}},
        {"magnitude (dBFS)", -140, 0, false, {-140, -120, -100, -80, -60, -40, -20, 0}},
        {}};
    spectrum.series.push_back(sine_spectrum(spectrum.x));

    const std::string svg =
        svg_figure("Emberpress engine at 48 kHz (tone 50 %, heat 50 %, mix 100 %, volume 100 %)",
                   {transfer, spectrum});
    FILE* f = std::fopen(path, "wb");
    const bool ok = f && std::fwrite(svg.data(), 1, svg.size(), f) == svg.size();
    if (f && std::fclose(f) != 0) return false;
    if (!ok) std::fprintf(stderr, "emberpress-demo: cannot write '%s'\n", path);
    return ok;
}

bool read_wav(const char* path, SF_INFO& info, std::vector<float>& samples) {
    info = {};
    SNDFILE* f = sf_open(path, SFM_READ, &info);
    if (!f) {
        std::fprintf(stderr, "emberpress-demo: cannot read '%s': %s\n", path, sf_strerror(nullptr));
        return false;
    }
    samples.resize(static_cast<size_t>(info.frames * info.channels));
    const bool ok = sf_readf_float(f, samples.data(), info.frames) == info.frames;
    if (!ok) std::fprintf(stderr, "emberpress-demo: cannot read '%s': %s\n", path, sf_strerror(f));
    sf_close(f);
    return ok;
}

// 0: same samples; 1: they differ (said on stdout); 2: a file could not be read.
int compare(const char* a_path, const char* b_path) {
    SF_INFO a_info, b_info;
    std::vector<float> a, b;
    if (!read_wav(a_path, a_info, a) || !read_wav(b_path, b_info, b)) return 2;
    if (a_info.samplerate != b_info.samplerate || a_info.channels != b_info.channels ||
        a.size() != b.size()) {
        std::printf("differ: %d Hz, %d channel(s), %zu samples against %d Hz, %d channel(s), "
                    "%zu samples\n",
                    a_info.samplerate, a_info.channels, a.size(), b_info.samplerate,
                    b_info.channels, b.size());
        return 1;
    }
    size_t first = a.size(), count = 0;
    double largest = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(float)) == 0) continue;
        if (count++ == 0) first = i;
        largest = std::max(largest, std::fabs(double(a[i]) - double(b[i])));
    }
    if (count == 0) {
        std::printf("identical: %zu samples\n", a.size());
        return 0;
    }
    std::printf("differ: %zu of %zu samples, first at %zu, largest difference %.3g\n", count,
                a.size(), first, largest);
    return 1;
}

int measure(const char* dry_path, const char* wet_path) {
    SF_INFO dry_info, wet_info;
    std::vector<float> dry, wet;
    if (!read_wav(dry_path, dry_info, dry) || !read_wav(wet_path, wet_info, wet)) return 2;
    const Levels d = measure_levels(dry, dry_info.samplerate);
    const Levels w = measure_levels(wet, wet_info.samplerate);
    if (d.rms <= 0 || w.rms <= 0) {
        std::fprintf(stderr, "emberpress-demo: '%s' is silent\n", d.rms <= 0 ? dry_path : wet_path);
        return 2;
    }
    std::printf("rms change %+.2f dB, crest factor %.2f dB, centroid %.0f Hz\n",
                20.0 * std::log10(w.rms / d.rms), w.crest_db, w.centroid_hz);
    return 0;
}

// One row per preset, in the table's order, after the dry phrase's own figures.
int preset_table() {
    const std::vector<float> phrase = synthesise_phrase(kRate);
    const Levels dry = measure_levels(phrase, kRate);
    std::printf("| Preset | Drive | Tone | Heat | Mix | Volume | RMS change | Crest factor | "
                "Centroid |\n"
                "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n"
                "| *(the dry phrase)* | | | | | | 0.0 dB | %.1f dB | %.0f Hz |\n",
                dry.crest_db, dry.centroid_hz);
    int status = 0;
    for (const Preset& p : kPresets) {
        const Levels wet = measure_levels(through_engine(phrase, p.values), kRate);
        const double change = 20.0 * std::log10(wet.rms / dry.rms);
        const double shown = std::round(change * 10) / 10 + 0.0; // no "-0.0"
        std::printf("| %s |", p.name);
        for (int i = 0; i < PARAM_BYPASS; ++i) std::printf(" %g |", double(p.values[i]));
        std::printf(" %+.1f dB | %.1f dB | %.0f Hz |\n", shown, wet.crest_db, wet.centroid_hz);

        char stated[32];
        std::snprintf(stated, sizeof stated, "%+.0f dB", double(p.level_db));
        if (std::fabs(change - p.level_db) > 1.0) {
            std::fprintf(stderr, "emberpress-demo: '%s' changes the level by %+.2f dB, not %s\n",
                         p.name, change, stated);
            status = 1;
        }
        // The defaults are what they are; every other louder or softer preset says so.
        const bool defaults = std::equal(p.values, p.values + kParamCount, kParamDefaults);
        if (p.level_db != 0 && !defaults && !std::strstr(p.name, stated)) {
            std::fprintf(stderr,
                         "emberpress-demo: '%s' is not level-matched; its name must say %s\n",
                         p.name, stated);
            status = 1;
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "phrase") == 0)
        return write_wav(argv[2], synthesise_phrase(kRate)) ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "plot") == 0) return write_plot(argv[2]) ? 0 : 1;
    if (argc == 4 && std::strcmp(argv[1], "compare") == 0) return compare(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "measure") == 0) return measure(argv[2], argv[3]);
    if (argc == 2 && std::strcmp(argv[1], "presets") == 0) return preset_table();
    std::fputs("usage: emberpress-demo phrase OUT.wav | plot OUT.svg | compare A.wav B.wav\n"
               "       emberpress-demo measure DRY.wav WET.wav | presets\n",
               stderr);
    return 2;
}
