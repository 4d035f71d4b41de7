// The demo's own signal code (FFT, test phrase) and the sample comparison that
// `make demo` uses to say whether the plug-in and the renderer agree.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "tools/demo/fft.h"
#include "tools/demo/level.h"
#include "tools/demo/phrase.h"

namespace {

TEST(DemoSpectrum, FftEqualsTheDirectTransform) {
    for (size_t n : {1u, 2u, 8u, 64u}) {
        SCOPED_TRACE(n);
        std::vector<std::complex<double>> x(n);
        for (size_t i = 0; i < n; ++i) x[i] = {std::sin(1.7 * i + 0.3), std::cos(0.9 * i * i)};
        std::vector<std::complex<double>> direct(n);
        for (size_t k = 0; k < n; ++k)
            for (size_t i = 0; i < n; ++i)
                direct[k] += x[i] * std::polar(1.0, -2 * std::numbers::pi * double(k * i) / n);
        fft(x);
        for (size_t k = 0; k < n; ++k) EXPECT_LT(std::abs(x[k] - direct[k]), 1e-9) << k;
    }
}

TEST(DemoSpectrum, SineReadsItsAmplitudeInItsBin) {
    const size_t n = 4096, bin = 100;
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * bin * i / n));
    const std::vector<double> db = amplitude_spectrum_db(x);
    ASSERT_EQ(db.size(), n / 2 + 1);
    EXPECT_NEAR(db[bin], 20 * std::log10(0.5), 0.01);
    EXPECT_NEAR(db[bin + 1], db[bin] - 6.02, 0.05); // the Hann window's neighbour bins
    for (size_t k : {0u, 50u, 97u, 103u, 1000u, 2048u}) EXPECT_LT(db[k], -120) << k;
}

// Period of x[from, from + len) by autocorrelation over lags [lo, hi], in samples.
double period_of(const std::vector<float>& x, size_t from, size_t len, size_t lo, size_t hi) {
    const auto r = [&](size_t lag) {
        double s = 0;
        for (size_t i = from; i < from + len; ++i) s += double(x[i]) * x[i + lag];
        return s;
    };
    size_t best = lo;
    for (size_t lag = lo; lag <= hi; ++lag)
        if (r(lag) > r(best)) best = lag;
    const double a = r(best - 1), b = r(best), c = r(best + 1);
    return best + 0.5 * (a - c) / (a - 2 * b + c);
}

TEST(DemoPhrase, InTuneLevelledAndRepeatable) {
    const int fs = 48000;
    const std::vector<float> x = synthesise_phrase(fs);
    EXPECT_EQ(x, synthesise_phrase(fs));
    EXPECT_GT(x.size(), size_t(3 * fs));
    EXPECT_LT(x.size(), size_t(10 * fs));
    float peak = 0;
    for (float s : x) {
        ASSERT_TRUE(std::isfinite(s));
        peak = std::max(peak, std::fabs(s));
    }
    EXPECT_FLOAT_EQ(peak, 0.5f);
    // The lick's first note (E3, from 0.05 s) and fifth (D4, from 1.25 s), measured
    // mid-note: in tune to within 0.3 %.
    const double e3 = fs / period_of(x, fs * 0.15, fs / 10, fs / 400, fs / 100);
    const double d4 = fs / period_of(x, fs * 1.35, fs / 10, fs / 600, fs / 200);
    EXPECT_NEAR(e3, 164.81, 164.81 * 0.003);
    EXPECT_NEAR(d4, 293.66, 293.66 * 0.003);
    // The chord still rings just before it is damped at the end.
    double tail = 0;
    for (size_t i = x.size() - fs / 2; i < x.size() - fs / 4; ++i) tail += std::fabs(x[i]);
    EXPECT_GT(tail / (fs / 4), 1e-3);
}

// --- emberpress-demo compare ----------------------------------------------------------

struct Scratch {
    std::string dir;
    Scratch() {
        char tmpl[] = "/tmp/ember-demo-test-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~Scratch() { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string at(const char* name) const { return dir + "/" + name; }
};

void write_wav(const std::string& path, int format, const std::vector<float>& x, bool peak) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_command(f, SFC_SET_ADD_PEAK_CHUNK, nullptr, peak ? SF_TRUE : SF_FALSE);
    sf_writef_float(f, x.data(), static_cast<sf_count_t>(x.size()));
    sf_close(f);
}

int run_demo(std::vector<std::string> args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(EMBERPRESS_DEMO)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

// The verdict `make demo` prints: same samples despite different file bytes, and any
// difference down to one unit in the last place is reported.
TEST(DemoCompare, SamplesDecideNotFileBytes) {
    Scratch s;
    std::vector<float> x(1000);
    for (size_t i = 0; i < x.size(); ++i) x[i] = std::sin(0.01f * i) * 0.7f;
    write_wav(s.at("a.wav"), SF_FORMAT_FLOAT, x, true);
    write_wav(s.at("b.wav"), SF_FORMAT_FLOAT, x, false);
    std::vector<float> nudged = x;
    nudged[777] = std::nextafter(nudged[777], 1.0f);
    write_wav(s.at("nudged.wav"), SF_FORMAT_FLOAT, nudged, false);
    write_wav(s.at("short.wav"), SF_FORMAT_FLOAT, std::vector<float>(x.begin(), x.end() - 1),
              false);

    EXPECT_EQ(run_demo({"compare", s.at("a.wav"), s.at("b.wav")}), 0);
    EXPECT_EQ(run_demo({"compare", s.at("a.wav"), s.at("nudged.wav")}), 1);
    EXPECT_EQ(run_demo({"compare", s.at("a.wav"), s.at("short.wav")}), 1);
    EXPECT_EQ(run_demo({"compare", s.at("a.wav"), s.at("missing.wav")}), 2);
    EXPECT_EQ(run_demo({"compare", s.at("a.wav")}), 2);
}

// --- The preset table -----------------------------------------------------------------

TEST(DemoLevels, SineReadsItsRmsCrestAndFrequency) {
    const double fs = 48000;
    std::vector<float> x(48000);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 1000.0 * i / fs));
    const Levels l = measure_levels(x, fs);
    EXPECT_NEAR(l.rms, 0.5 / std::sqrt(2.0), 1e-4);
    EXPECT_NEAR(l.crest_db, 3.01, 0.01);
    EXPECT_NEAR(l.centroid_hz, 1000.0, 5.0);
    EXPECT_EQ(measure_levels(std::vector<float>(100, 0.0f), fs).centroid_hz, 0.0);

    // The command compares two files and refuses a missing or silent one.
    Scratch s;
    write_wav(s.at("sine.wav"), SF_FORMAT_FLOAT, x, false);
    write_wav(s.at("silent.wav"), SF_FORMAT_FLOAT, std::vector<float>(1000, 0.0f), false);
    EXPECT_EQ(run_demo({"measure", s.at("sine.wav"), s.at("sine.wav")}), 0);
    EXPECT_EQ(run_demo({"measure", s.at("sine.wav"), s.at("silent.wav")}), 2);
    EXPECT_EQ(run_demo({"measure", s.at("missing.wav"), s.at("sine.wav")}), 2);
}

// The README's table of the factory presets is this command's output, so it cannot go
// stale; the command itself fails when a preset misses its intended level by over 1 dB.
TEST(DemoPresets, TheReadmeHoldsTheTableTheToolMeasures) {
    std::string table;
    FILE* p = popen(EMBERPRESS_DEMO " presets", "r");
    ASSERT_NE(p, nullptr);
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) table.append(buf, n);
    const int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << table;

    std::string readme;
    FILE* f = std::fopen(EMBER_README, "rb");
    ASSERT_NE(f, nullptr);
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) readme.append(buf, n);
    std::fclose(f);
    const std::string begin = "<!-- preset table: emberpress-demo presets -->\n";
    const std::string end = "<!-- end of preset table -->";
    const size_t from = readme.find(begin), to = readme.find(end);
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()), table)
        << "update the README with the output of emberpress-demo presets";
}

} // namespace
