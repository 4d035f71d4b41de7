// emberpress-render, run as the built executable on real WAV files. Its output must be
// the engine's own output for the same samples and settings, and every refusal must
// leave the output folder exactly as it was.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/denormals.h"
#include "engine/engine.h"
#include "engine/params.h"

namespace {

using Settings = std::vector<std::pair<int, float>>;

// A scratch folder: `work` holds the audio files (and nothing else), the logs of the
// runs live beside it.
struct Scratch {
    std::string root, work;
    Scratch() {
        char tmpl[] = "/tmp/ember-render-test-XXXXXX";
        root = mkdtemp(tmpl);
        work = root + "/work";
        mkdir(work.c_str(), 0755);
    }
    ~Scratch() { std::system(("rm -rf '" + root + "'").c_str()); }
    std::string at(const std::string& name) const { return work + "/" + name; }
    std::set<std::string> files() const {
        std::set<std::string> names;
        if (DIR* d = opendir(work.c_str())) {
            while (dirent* e = readdir(d))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                    names.insert(e->d_name);
            closedir(d);
        }
        return names;
    }
};

std::string read_text(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct Outcome {
    int status = -1; // exit status, or -1 when killed by a signal
    int signal = 0;
    std::string err;
};

// Waits for pid, killing it after a minute so that a hang fails the test.
int wait_with_limit(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            ADD_FAILURE() << "emberpress-render did not finish within a minute";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return wstatus;
}

std::vector<char*> argv_of(std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(EMBERPRESS_RENDER)};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

pid_t spawn(const Scratch& s, std::vector<std::string> args, rlim_t file_size_limit = 0) {
    const std::string err_path = s.root + "/stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        if (file_size_limit) {
            const rlimit limit{file_size_limit, file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv = argv_of(args);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

Outcome finish(const Scratch& s, pid_t pid) {
    const int wstatus = wait_with_limit(pid);
    Outcome r;
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    r.err = read_text(s.root + "/stderr");
    return r;
}

Outcome render(const Scratch& s, std::vector<std::string> args, rlim_t file_size_limit = 0) {
    return finish(s, spawn(s, std::move(args), file_size_limit));
}

// --- WAV files ------------------------------------------------------------------------

void write_wav(const std::string& path, int fs, int channels, int format,
               const std::vector<float>& interleaved) {
    SF_INFO info{};
    info.samplerate = fs;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    ASSERT_EQ(sf_writef_float(f, interleaved.data(), frames), frames);
    sf_close(f);
}

std::vector<float> read_wav(const std::string& path, SF_INFO* info_out = nullptr) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
    if (!f) return {};
    std::vector<float> x(static_cast<size_t>(info.frames * info.channels));
    EXPECT_EQ(sf_readf_float(f, x.data(), info.frames), info.frames);
    sf_close(f);
    if (info_out) *info_out = info;
    return x;
}

std::vector<float> interleave(const std::vector<std::vector<float>>& chans) {
    std::vector<float> x;
    for (size_t i = 0; i < chans[0].size(); ++i)
        for (const auto& c : chans) x.push_back(c[i]);
    return x;
}

// Test signal, deterministic: 0.3·sin(2π·110·t) + 0.2·sin(2π·1234·t + seed) under a
// rising level ramp (0.2 .. 1.6, so the second half drives the stage hard), plus
// xorshift noise at 0.05 in the last quarter and a denormal-sized tail of 1e-39.
std::vector<float> test_signal(int fs, double seconds, unsigned seed = 1) {
    const size_t n = static_cast<size_t>(seconds * fs);
    std::vector<float> x(n);
    uint32_t state = 0x12345u + seed;
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / fs;
        const double ramp = 0.2 + 1.4 * static_cast<double>(i) / n;
        double v =
            ramp * (0.3 * std::sin(2 * pi * 110 * t) + 0.2 * std::sin(2 * pi * 1234 * t + seed));
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        if (i > 3 * n / 4) v += 0.05 * (static_cast<double>(state) / 4294967296.0 - 0.5);
        x[i] = static_cast<float>(v);
    }
    for (size_t i = n - std::min<size_t>(n, 64); i < n; ++i) x[i] = 1e-39f;
    return x;
}

// The engine driven as the renderer must drive it.
std::vector<float> engine_render(const std::vector<float>& in, int fs, const Settings& settings,
                                 size_t block = 512) {
    static Engine engine;
    engine_init(engine);
    for (const auto& [index, value] : settings) engine_set_param(engine, index, value);
    engine_set_sample_rate(engine, static_cast<float>(fs));
    engine_reset(engine);
    std::vector<float> out(in.size());
    for (size_t i = 0; i < in.size(); i += block) {
        DenormalGuard ftz;
        const size_t n = std::min(block, in.size() - i);
        engine_process(engine, in.data() + i, out.data() + i, static_cast<uint32_t>(n));
    }
    return out;
}

// Bit-for-bit equality, naming the first sample that differs.
::testing::AssertionResult same_samples(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << "lengths " << a.size() << " and " << b.size();
    for (size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure()
                   << "sample " << i << ": " << a[i] << " vs " << b[i];
    return ::testing::AssertionSuccess();
}

int count_lines(const std::string& s) {
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

// --- Output ---------------------------------------------------------------------------

TEST(RenderOutput, EqualsTheEngineSampleForSample) {
    struct Case {
        const char* what;
        int fs, format;
        std::vector<std::string> options;
        Settings settings;
    };
    const Case cases[] = {
        {"defaults, 16-bit at 44.1 kHz", 44100, SF_FORMAT_PCM_16, {}, {}},
        {"every knob, float at 48 kHz",
         48000,
         SF_FORMAT_FLOAT,
         {"--drive", "80", "--tone", "30", "--heat", "70", "--mix", "90", "--volume", "150"},
         {{PARAM_DRIVE, 80},
          {PARAM_TONE, 30},
          {PARAM_HEAT, 70},
          {PARAM_MIX, 90},
          {PARAM_VOLUME, 150}}},
        {"range ends and fractions, 24-bit at 96 kHz",
         96000,
         SF_FORMAT_PCM_24,
         {"--drive=100", "--tone=0", "--heat", "100", "--mix", "12.5", "--volume=200"},
         {{PARAM_DRIVE, 100},
          {PARAM_TONE, 0},
          {PARAM_HEAT, 100},
          {PARAM_MIX, 12.5f},
          {PARAM_VOLUME, 200}}},
        {"low rate, high oversampling, 8 kHz",
         8000,
         SF_FORMAT_FLOAT,
         {"--volume", "0"},
         {{PARAM_VOLUME, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        write_wav(s.at("in.wav"), c.fs, 1, c.format, test_signal(c.fs, 1.5));
        std::vector<std::string> args{s.at("in.wav"), s.at("out.wav")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Outcome r = render(s, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");

        SF_INFO info{};
        const std::vector<float> out = read_wav(s.at("out.wav"), &info);
        EXPECT_EQ(info.samplerate, c.fs);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        // The reference reads the input the same way (16/24-bit scaled to floats).
        EXPECT_TRUE(same_samples(out, engine_render(read_wav(s.at("in.wav")), c.fs, c.settings)));
        EXPECT_EQ(s.files(), (std::set<std::string>{"in.wav", "out.wav"}));
    }
}

TEST(RenderOutput, BypassPassesTheInputThroughUntouched) {
    Scratch s;
    const std::vector<float> in = test_signal(48000, 1.0);
    write_wav(s.at("in.wav"), 48000, 1, SF_FORMAT_FLOAT, in);
    const Outcome r = render(s, {s.at("in.wav"), s.at("out.wav"), "--bypass", "--drive", "100"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<float> expected = in;
    for (float& v : expected) // denormals-are-zero reads the tiny tail as 0
        if (std::fabs(v) < 1.17549435e-38f) v = 0.0f;
    EXPECT_TRUE(same_samples(read_wav(s.at("out.wav")), expected));
}

// Settings apply at block boundaries only; with fixed settings the block size must not
// change a single bit, down to one frame per call and up to a block longer than the file.
TEST(RenderOutput, BlockSizeDoesNotChangeTheResult) {
    Scratch s;
    const int fs = 44100;
    write_wav(s.at("in.wav"), fs, 1, SF_FORMAT_FLOAT, test_signal(fs, 1.0));
    const std::vector<float> expected =
        engine_render(read_wav(s.at("in.wav")), fs, {{PARAM_DRIVE, 90}, {PARAM_TONE, 70}});
    for (const char* block : {"1", "3", "64", "512", "4096", "1048576"}) {
        SCOPED_TRACE(block);
        const Outcome r = render(s, {s.at("in.wav"), s.at("out.wav"), "--drive", "90", "--tone",
                                     "70", "--block", block});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(same_samples(read_wav(s.at("out.wav")), expected));
    }
}

TEST(RenderOutput, ChoosesOneChannelOfAMultichannelFile) {
    Scratch s;
    const int fs = 48000;
    const std::vector<std::vector<float>> chans = {test_signal(fs, 0.5, 1), test_signal(fs, 0.5, 2),
                                                   test_signal(fs, 0.5, 3)};
    write_wav(s.at("three.wav"), fs, 3, SF_FORMAT_FLOAT, interleave(chans));
    for (int c = 1; c <= 3; ++c) {
        SCOPED_TRACE(c);
        const Outcome r = render(s, {s.at("three.wav"), s.at("out.wav"), "--channel",
                                     std::to_string(c), "--drive", "75"});
        ASSERT_EQ(r.status, 0) << r.err;
        SF_INFO info{};
        const std::vector<float> out = read_wav(s.at("out.wav"), &info);
        EXPECT_EQ(info.channels, 1);
        EXPECT_TRUE(same_samples(out, engine_render(chans[c - 1], fs, {{PARAM_DRIVE, 75}})));
    }
    // A mono file accepts channel 1.
    write_wav(s.at("mono.wav"), fs, 1, SF_FORMAT_FLOAT, chans[1]);
    const Outcome r = render(s, {s.at("mono.wav"), s.at("out.wav"), "--channel", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(same_samples(read_wav(s.at("out.wav")), engine_render(chans[1], fs, {})));
}

TEST(RenderOutput, EdgeFiles) {
    Scratch s;
    // Rendering a file onto itself replaces it with the result.
    const std::vector<float> in = test_signal(48000, 0.5);
    write_wav(s.at("song.wav"), 48000, 1, SF_FORMAT_FLOAT, in);
    Outcome r = render(s, {s.at("song.wav"), s.at("song.wav"), "--heat", "10"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(
        same_samples(read_wav(s.at("song.wav")), engine_render(in, 48000, {{PARAM_HEAT, 10}})));
    EXPECT_EQ(s.files(), std::set<std::string>{"song.wav"});

    // An empty file gives an empty result at the same rate.
    write_wav(s.at("empty.wav"), 22050, 1, SF_FORMAT_PCM_16, {});
    r = render(s, {s.at("empty.wav"), s.at("out.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info{};
    EXPECT_TRUE(read_wav(s.at("out.wav"), &info).empty());
    EXPECT_EQ(info.samplerate, 22050);
}

// --- Refusals -------------------------------------------------------------------------

struct Refusal {
    const char* what;
    std::vector<std::string> args; // "IN" and "OUT" stand for the file paths
    const char* says;              // a word the error line must hold
    const char* in = "mono.wav";
};

// Each refusal: one error line, a non-zero exit, and the folder as it was, whether
// OUT.wav did not exist or held an earlier result.
TEST(RenderRefusals, OneErrorLineAndNothingWritten) {
    Scratch s;
    write_wav(s.at("mono.wav"), 48000, 1, SF_FORMAT_FLOAT, test_signal(48000, 0.2));
    write_wav(s.at("stereo.wav"), 48000, 2, SF_FORMAT_PCM_16, test_signal(48000, 0.2));
    write_text(s.at("notes.wav"), "these are not samples\n");
    write_text(s.at("header-only.wav"), std::string("RIFF\x24\x00\x00\x00WAVEfmt ", 16));
    mkdir(s.at("folder.wav").c_str(), 0755);
    const std::set<std::string> inputs = s.files();

    const Refusal refusals[] = {
        {"drive above range", {"IN", "OUT", "--drive", "101"}, "--drive"},
        {"drive below range", {"IN", "OUT", "--drive", "-1"}, "--drive"},
        {"volume above range", {"IN", "OUT", "--volume=200.5"}, "--volume"},
        {"tone not a number", {"IN", "OUT", "--tone", "nan"}, "--tone"},
        {"heat infinite", {"IN", "OUT", "--heat", "inf"}, "--heat"},
        {"mix text", {"IN", "OUT", "--mix", "half"}, "--mix"},
        {"mix trailing text", {"IN", "OUT", "--mix", "50%"}, "--mix"},
        {"empty value", {"IN", "OUT", "--drive="}, "--drive"},
        {"value missing", {"IN", "OUT", "--mix"}, "--mix"},
        {"block zero", {"IN", "OUT", "--block", "0"}, "--block"},
        {"block too large", {"IN", "OUT", "--block", "1048577"}, "--block"},
        {"block fraction", {"IN", "OUT", "--block", "2.5"}, "--block"},
        {"bypass with a value", {"IN", "OUT", "--bypass=0"}, "--bypass"},
        {"unknown option", {"IN", "OUT", "--gain", "3"}, "--gain"},
        {"single dash option", {"IN", "OUT", "-d", "3"}, "-d"},
        {"one file name", {"IN"}, "OUT.wav"},
        {"three file names", {"IN", "OUT", "IN"}, "too many"},
        {"missing input", {"IN", "OUT"}, "missing.wav", "missing.wav"},
        {"text file", {"IN", "OUT"}, "notes.wav", "notes.wav"},
        {"header only", {"IN", "OUT"}, "header-only.wav", "header-only.wav"},
        {"folder as input", {"IN", "OUT"}, "folder.wav", "folder.wav"},
        {"stereo without --channel", {"IN", "OUT"}, "--channel", "stereo.wav"},
        {"channel past the last", {"IN", "OUT", "--channel", "3"}, "channel 3", "stereo.wav"},
        {"channel 2 of mono", {"IN", "OUT", "--channel", "2"}, "channel 2"},
        {"channel zero", {"IN", "OUT", "--channel", "0"}, "--channel", "stereo.wav"},
        {"channel negative", {"IN", "OUT", "--channel", "-1"}, "--channel", "stereo.wav"},
    };
    const std::string earlier = "an earlier render, to be kept";
    for (const Refusal& f : refusals) {
        for (bool out_exists : {false, true}) {
            SCOPED_TRACE(std::string(f.what) + (out_exists ? ", OUT exists" : ""));
            if (out_exists) write_text(s.at("out.wav"), earlier);
            std::vector<std::string> args;
            for (const std::string& a : f.args)
                args.push_back(a == "IN" ? s.at(f.in) : a == "OUT" ? s.at("out.wav") : a);
            const Outcome r = render(s, args);
            EXPECT_NE(r.status, 0);
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(count_lines(r.err), 1) << r.err;
            EXPECT_EQ(r.err.rfind("emberpress-render: ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(f.says), std::string::npos) << r.err;
            if (out_exists) {
                EXPECT_EQ(read_text(s.at("out.wav")), earlier);
                unlink(s.at("out.wav").c_str());
            }
            EXPECT_EQ(s.files(), inputs); // no OUT.wav, no temporary file
        }
    }
}

TEST(RenderRefusals, UnwritableOutputFolder) {
    Scratch s;
    write_wav(s.at("in.wav"), 48000, 1, SF_FORMAT_FLOAT, test_signal(48000, 0.2));
    const Outcome r = render(s, {s.at("in.wav"), s.at("no-such-folder/out.wav")});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(count_lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("no-such-folder/out.wav"), std::string::npos) << r.err;
    EXPECT_EQ(s.files(), std::set<std::string>{"in.wav"});
}

// A write that fails part-way (here: the file size limit is reached) removes the
// partial result and keeps an earlier OUT.wav.
TEST(RenderRefusals, WriteFailingMidwayLeavesNoPartialFile) {
    Scratch s;
    write_wav(s.at("in.wav"), 48000, 1, SF_FORMAT_PCM_16, test_signal(48000, 3.0)); // 288 KB
    for (bool out_exists : {false, true}) {
        SCOPED_TRACE(out_exists ? "OUT exists" : "no OUT");
        if (out_exists) write_text(s.at("out.wav"), "earlier");
        const Outcome r = render(s, {s.at("in.wav"), s.at("out.wav")}, 300 * 1024);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(count_lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
        if (out_exists) {
            EXPECT_EQ(read_text(s.at("out.wav")), "earlier");
            unlink(s.at("out.wav").c_str());
        }
        EXPECT_EQ(s.files(), std::set<std::string>{"in.wav"});
    }
}

// Interrupting a render (Ctrl-C, a kill) takes its temporary file with it.
TEST(RenderRefusals, InterruptedRenderLeavesNoTemporaryFile) {
    Scratch s;
    write_wav(s.at("in.wav"), 48000, 1, SF_FORMAT_PCM_16, test_signal(48000, 20.0));
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        // One frame per call keeps the render busy for seconds.
        const pid_t pid = spawn(s, {s.at("in.wav"), s.at("out.wav"), "--block", "1"});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (s.files().size() < 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(s.files().size(), 2u) << "no temporary file appeared";
        EXPECT_FALSE(s.files().count("out.wav")) << "OUT.wav appeared before the end";
        kill(pid, sig);
        const Outcome r = finish(s, pid);
        EXPECT_EQ(r.signal, sig);
        EXPECT_EQ(s.files(), std::set<std::string>{"in.wav"});
    }
}

// --- Progress -------------------------------------------------------------------------

// Runs the renderer with stderr (and stdout) on a pseudo-terminal; returns what it wrote.
std::string render_on_terminal(std::vector<std::string> args) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv = argv_of(args);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string text;
    char buf[4096];
    // Reads until the child's side closes (EIO), for at most a minute.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) == 0) continue;
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    close(master);
    const int wstatus = wait_with_limit(pid);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << text;
    return text;
}

TEST(RenderProgress, ShownOnATerminalForLongFilesOnly) {
    Scratch s;
    write_wav(s.at("long.wav"), 8000, 1, SF_FORMAT_PCM_16, test_signal(8000, 8.0));
    write_wav(s.at("short.wav"), 8000, 1, SF_FORMAT_PCM_16, test_signal(8000, 2.0));

    const std::string long_run = render_on_terminal({s.at("long.wav"), s.at("out.wav")});
    EXPECT_NE(long_run.find("100%"), std::string::npos) << long_run;
    EXPECT_EQ(render_on_terminal({s.at("short.wav"), s.at("out.wav")}), "");
    // Not a terminal: nothing at all.
    const Outcome r = render(s, {s.at("long.wav"), s.at("out.wav")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

} // namespace
