// emberpress-render: runs a WAV file through the engine, offline.
//
// The engine is driven exactly as the plug-ins drive it: defaults from engine_init, the
// given values through engine_set_param, then the file's sample rate and a reset, then
// engine_process block by block with flush-to-zero and denormals-are-zero set. The
// result is written as a mono 32-bit float WAV.
//
// OUT.wav is either the whole result or untouched: the render goes to a temporary file
// beside it, which is renamed over OUT.wav only once it is complete and on disk.

#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/denormals.h"
#include "engine/engine.h"
#include "engine/params.h"

namespace {

constexpr const char* kUsage =
    "usage: emberpress-render IN.wav OUT.wav [options]\n"
    "\n"
    "Runs IN.wav through the Emberpress engine and writes OUT.wav (mono, 32-bit float,\n"
    "at the input's sample rate).\n"
    "\n"
    "options:\n"
    "  --drive 0..100     drive in percent (default 50)\n"
    "  --tone 0..100      tone in percent (default 50)\n"
    "  --heat 0..100      heat in percent (default 50)\n"
    "  --mix 0..100       wet share in percent (default 100)\n"
    "  --volume 0..200    output volume in percent (default 100)\n"
    "  --bypass           pass the input through untouched\n"
    "  --block N          frames per engine call, 1..1048576 (default 512)\n"
    "  --channel N        channel of a multichannel input to process (1 = first)\n"
    "  --help             show this text\n";

constexpr long kMaxBlock = 1 << 20;
constexpr double kProgressMinSeconds = 5.0;

struct Options {
    const char* in_path = nullptr;
    const char* out_path = nullptr;
    bool has_value[kParamCount] = {};
    float value[kParamCount] = {};
    long block = 512;
    long channel = 0; // 1-based; 0 = not given
};

// One line on stderr; the caller then exits non-zero.
[[gnu::format(printf, 1, 2)]] void error_line(const char* fmt, ...) {
    std::fputs("emberpress-render: ", stderr);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    std::fputc('\n', stderr);
}

// --- Command line ---------------------------------------------------------------------

bool parse_number(const char* text, double& out) {
    if (!*text) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text, &end);
    return *end == '\0' && errno != ERANGE && std::isfinite(out);
}

bool parse_integer(const char* text, long& out) {
    if (!*text) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, 10);
    return *end == '\0' && errno != ERANGE;
}

int param_from_option(const std::string& name) {
    for (int i = 0; i < kParamCount; ++i)
        if (!kParams[i].toggled && name == kParams[i].key) return i;
    return -1;
}

// Returns 0 to go on, or the exit status (0 after --help, 2 for a bad command line).
int parse_command_line(int argc, char** argv, Options& opt, bool& help) {
    std::vector<const char*> paths;
    bool options_done = false;
    for (int a = 1; a < argc; ++a) {
        const char* arg = argv[a];
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            paths.push_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_done = true;
            continue;
        }
        // "--name value" or "--name=value".
        std::string name = arg;
        const char* value = nullptr;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = arg + eq + 1;
            name.resize(eq);
        }
        if (name == "--help" || name == "-h") {
            help = true;
            return 0;
        }
        if (name == "--bypass") {
            if (value) {
                error_line("--bypass takes no value");
                return 2;
            }
            opt.has_value[PARAM_BYPASS] = true;
            opt.value[PARAM_BYPASS] = 1.0f;
            continue;
        }
        const int param = name.size() > 2 ? param_from_option(name.substr(2)) : -1;
        const bool takes_value = param >= 0 || name == "--block" || name == "--channel";
        if (!takes_value || name.compare(0, 2, "--") != 0) {
            error_line("unknown option '%s' (try --help)", name.c_str());
            return 2;
        }
        if (!value) {
            if (a + 1 >= argc) {
                error_line("%s needs a value", name.c_str());
                return 2;
            }
            value = argv[++a];
        }
        if (param >= 0) {
            const ParamInfo& p = kParams[param];
            double x;
            if (!parse_number(value, x) || x < p.min || x > p.max) {
                error_line("%s must be a number from %g to %g, not '%s'", name.c_str(), p.min,
                           p.max, value);
                return 2;
            }
            opt.has_value[param] = true;
            opt.value[param] = static_cast<float>(x);
        } else if (name == "--block") {
            if (!parse_integer(value, opt.block) || opt.block < 1 || opt.block > kMaxBlock) {
                error_line("--block must be a whole number from 1 to %ld, not '%s'", kMaxBlock,
                           value);
                return 2;
            }
        } else {
            if (!parse_integer(value, opt.channel) || opt.channel < 1) {
                error_line("--channel must be a channel number from 1, not '%s'", value);
                return 2;
            }
        }
    }
    if (paths.size() != 2) {
        error_line(paths.size() < 2 ? "needs IN.wav and OUT.wav (try --help)"
                                    : "too many file names (try --help)");
        return 2;
    }
    opt.in_path = paths[0];
    opt.out_path = paths[1];
    return 0;
}

// --- Temporary output file ------------------------------------------------------------

// The temporary file's name, kept where a signal handler can reach it so that an
// interrupted render removes it too.
char g_temp_path[4096];
volatile sig_atomic_t g_temp_live = 0;

void remove_temp_and_reraise(int sig) {
    if (g_temp_live) unlink(g_temp_path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// The signals that remove the temporary file. They are held back while the file
// comes into being or is renamed, so that the handler never misses a file that exists
// nor removes one that has already become OUT.wav.
struct HoldCleanupSignals {
    sigset_t saved;
    HoldCleanupSignals() {
        sigset_t held;
        sigemptyset(&held);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, sig);
        sigprocmask(SIG_BLOCK, &held, &saved);
    }
    ~HoldCleanupSignals() { sigprocmask(SIG_SETMASK, &saved, nullptr); }
};

// Creates ".NAME.XXXXXX" beside out_path, readable like a freshly created file.
int create_temp_beside(const char* out_path) {
    std::string dir = ".", base = out_path;
    if (const auto slash = base.rfind('/'); slash != std::string::npos) {
        dir = slash == 0 ? "/" : base.substr(0, slash);
        base = base.substr(slash + 1);
    }
    const std::string temp = dir + "/." + base + ".XXXXXX";
    if (base.empty() || temp.size() >= sizeof g_temp_path) {
        errno = EINVAL;
        return -1;
    }
    HoldCleanupSignals hold;
    std::memcpy(g_temp_path, temp.c_str(), temp.size() + 1);
    const int fd = mkstemp(g_temp_path);
    if (fd < 0) return -1;
    g_temp_live = 1;
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return fd;
}

void discard_temp(int fd) {
    if (fd >= 0) close(fd);
    if (g_temp_live) unlink(g_temp_path);
    g_temp_live = 0;
}

// --- Progress bar ---------------------------------------------------------------------

struct Progress {
    bool shown = false;
    int last_percent = -1;
};

void progress_update(Progress& p, sf_count_t done, sf_count_t total) {
    if (!p.shown) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == p.last_percent) return;
    p.last_percent = percent;
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    const int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\rrendering [%s] %3d%%", bar, percent);
    std::fflush(stderr);
}

// Ends the bar's line so that whatever follows (an error line) starts on its own.
void progress_end(Progress& p) {
    if (p.shown && p.last_percent >= 0) std::fputc('\n', stderr);
    p.shown = false;
}

// --- Rendering ------------------------------------------------------------------------

struct SndFile {
    SNDFILE* file = nullptr;
    ~SndFile() {
        if (file) sf_close(file);
    }
};

int render(const Options& opt) {
    // Plain reasons for the commonest mistakes, before the audio library's own.
    struct stat st;
    if (stat(opt.in_path, &st) != 0) {
        error_line("cannot read '%s': %s", opt.in_path, std::strerror(errno));
        return 1;
    }
    if (S_ISDIR(st.st_mode)) {
        error_line("cannot read '%s': it is a folder", opt.in_path);
        return 1;
    }
    SF_INFO in_info{};
    SndFile in;
    in.file = sf_open(opt.in_path, SFM_READ, &in_info);
    if (!in.file) {
        error_line("cannot read '%s': %s", opt.in_path, sf_strerror(nullptr));
        return 1;
    }
    const long channels = in_info.channels;
    if (channels > 1 && opt.channel == 0) {
        error_line("'%s' has %ld channels: choose one with --channel 1..%ld", opt.in_path, channels,
                   channels);
        return 1;
    }
    if (opt.channel > channels) {
        error_line("'%s' has %ld channel%s: there is no channel %ld", opt.in_path, channels,
                   channels == 1 ? "" : "s", opt.channel);
        return 1;
    }
    const long channel = opt.channel > 0 ? opt.channel - 1 : 0;
    const int fs = in_info.samplerate;

    int fd = create_temp_beside(opt.out_path);
    if (fd < 0) {
        error_line("cannot write '%s': %s", opt.out_path, std::strerror(errno));
        return 1;
    }
    SF_INFO out_info{};
    out_info.samplerate = fs;
    out_info.channels = 1;
    out_info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SndFile out;
    out.file = sf_open_fd(fd, SFM_WRITE, &out_info, SF_FALSE);
    if (!out.file) {
        error_line("cannot write '%s': %s", opt.out_path, sf_strerror(nullptr));
        discard_temp(fd);
        return 1;
    }
    // Without the timestamped peak chunk, equal renders give equal files.
    sf_command(out.file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

    static Engine engine;
    engine_init(engine);
    for (int i = 0; i < kParamCount; ++i)
        if (opt.has_value[i]) engine_set_param(engine, i, opt.value[i]);
    engine_set_sample_rate(engine, static_cast<float>(fs));
    engine_reset(engine);

    const sf_count_t block = opt.block;
    std::vector<float> frames(static_cast<size_t>(block * channels));
    std::vector<float> mono(static_cast<size_t>(block));
    const sf_count_t total = in_info.frames;
    Progress progress;
    progress.shown = isatty(STDERR_FILENO) && total > kProgressMinSeconds * fs;

    // A failure names the file it concerns and why.
    const char* failed_path = nullptr;
    std::string reason;
    sf_count_t done = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(in.file, frames.data(), block);
        if (got <= 0) break;
        for (sf_count_t i = 0; i < got; ++i) mono[i] = frames[i * channels + channel];
        {
            DenormalGuard ftz;
            engine_process(engine, mono.data(), mono.data(), static_cast<uint32_t>(got));
        }
        if (sf_writef_float(out.file, mono.data(), got) != got) {
            failed_path = opt.out_path;
            reason = sf_strerror(out.file);
            break;
        }
        done += got;
        progress_update(progress, done, total);
    }
    progress_end(progress);
    if (!failed_path && sf_error(in.file) != SF_ERR_NO_ERROR) {
        failed_path = opt.in_path;
        reason = sf_strerror(in.file);
    } else if (!failed_path && done < total) {
        failed_path = opt.in_path;
        reason = "the file ends before its last sample";
    }
    if (!failed_path) {
        // Closing writes the header's final sizes; the data must then be on disk before
        // the rename makes it OUT.wav.
        const int closed = sf_close(out.file);
        out.file = nullptr;
        if (closed != 0) {
            reason = sf_error_number(closed);
        } else if (fsync(fd) != 0) {
            reason = std::strerror(errno);
        } else {
            const int fd_closed = close(fd);
            fd = -1;
            HoldCleanupSignals hold;
            if (fd_closed != 0 || rename(g_temp_path, opt.out_path) != 0) {
                reason = std::strerror(errno);
            } else {
                g_temp_live = 0;
                return 0;
            }
        }
        failed_path = opt.out_path;
    }
    if (out.file) {
        sf_close(out.file);
        out.file = nullptr;
    }
    discard_temp(fd);
    error_line("cannot %s '%s': %s", failed_path == opt.in_path ? "read" : "write", failed_path,
               reason.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    bool help = false;
    if (const int status = parse_command_line(argc, argv, opt, help); status != 0) return status;
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // A render interrupted by a signal takes its temporary file with it. A write past
    // a file size limit fails as a write error instead of killing the process.
    std::signal(SIGINT, remove_temp_and_reraise);
    std::signal(SIGTERM, remove_temp_and_reraise);
    std::signal(SIGHUP, remove_temp_and_reraise);
    std::signal(SIGXFSZ, SIG_IGN);
    return render(opt);
}
