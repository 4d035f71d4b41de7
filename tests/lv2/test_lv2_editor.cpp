// The LV2 editor in a host nobody here wrote: jalv.gtk3 under a private X server, running
// the plug-in on a private JACK server (dummy backend) fed by jack_simple_client's sine.
// What the page does is shown through what the host exposes: its window's pixels
// (screenshots with ImageMagick's import) and the audio it renders (jack_rec). The
// first screenshot is kept in the build tree as editor-in-jalv.png.
//
// What it cannot prove: that the recordings are bit-exact renders (JACK's dummy backend
// runs in real time and a loaded machine may drop a cycle); levels are compared over a
// second of audio instead, and bypass as equal samples within one recording.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include <sndfile.h>

#include "lv2_host.h"
#include "process_posix.h"
#include "tests/ui/x11/embedder.h"

namespace fs = std::filesystem;

namespace {

constexpr double kBootSeconds = 40; // jalv, then the browser, on a loaded machine
constexpr int kMenuBar = 25;        // jalv's menu bar above the editor
constexpr int kDrawn = 1500;        // ember pixels of a drawn 800 x 400 page
// Centres in the 800 x 400 editor.
constexpr int kDriveX = 95, kVolumeX = 583, kBypassX = 705, kKnobY = 228;
constexpr int kSinePeriod = 200; // jack_simple_client's output1: a 200-sample sine table
// jalv's Presets menu, and its first preset ("Clean Boost +6 dB": Mix 0, Volume 72).
constexpr int kPresetsMenuX = 70, kPresetsMenuY = 12;
constexpr int kFirstPresetX = 110, kFirstPresetY = 88;
constexpr int kParkX = 790; // the empty end of the menu bar

struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    // The pixels of the editor's area w x h at (x, y), below jalv's menu bar.
    std::vector<Rgb> editor_area(int x, int y, int w, int h) const {
        std::vector<Rgb> out;
        for (int row = y + kMenuBar; row < std::min(y + kMenuBar + h, height); ++row)
            for (int column = x; column < std::min(x + w, width); ++column)
                out.push_back(pixels[size_t(row) * width + column]);
        return out;
    }
};

// A screenshot of one window with import, kept at `path`, and its pixels.
Picture screenshot(unsigned long window, const std::string& path) {
    Picture p;
    if (run_command({"import", "-window", std::to_string(window), path}, "", {}, 20).status != 0)
        return p;
    CommandResult size = run_command({"identify", "-format", "%w %h", path}, "", {}, 20);
    std::istringstream(size.output) >> p.width >> p.height;
    const std::string raw = path + ".rgb";
    run_command({"convert", path, "-depth", "8", "rgb:" + raw}, "", {}, 20);
    std::ifstream file(raw, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), {});
    fs::remove(raw);
    if (p.width <= 0 || bytes.size() != size_t(p.width) * p.height * 3) return {};
    for (size_t i = 0; i < bytes.size(); i += 3)
        p.pixels.push_back({bytes[i], bytes[i + 1], bytes[i + 2]});
    return p;
}

int differing_pixels(const std::vector<Rgb>& a, const std::vector<Rgb>& b) {
    int count = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        count += a[i].r != b[i].r || a[i].g != b[i].g || a[i].b != b[i].b;
    return count;
}

// One second of what the sine source sends the plug-in and what the plug-in sends back,
// recorded together.
struct Recording {
    std::vector<float> in, out;
    static double rms(const std::vector<float>& x) {
        double sum = 0;
        for (float v : x) sum += double(v) * v;
        return x.empty() ? 0 : std::sqrt(sum / x.size());
    }
    // The 3rd and 5th harmonics of the sine against its fundamental, the median over
    // the recording's whole periods: how hard the circuit clips, whatever the level,
    // and untouched by the few periods a loaded machine's skipped cycle breaks.
    static double harmonics(const std::vector<float>& x) {
        std::vector<double> ratios;
        for (size_t at = 0; at + kSinePeriod <= x.size(); at += kSinePeriod) {
            auto magnitude = [&](int k) {
                double re = 0, im = 0;
                for (int j = 0; j < kSinePeriod; ++j) {
                    const double phase = 2 * M_PI * k * j / kSinePeriod;
                    re += x[at + j] * std::cos(phase);
                    im -= x[at + j] * std::sin(phase);
                }
                return std::hypot(re, im);
            };
            const double fundamental = magnitude(1);
            if (fundamental > 0) ratios.push_back((magnitude(3) + magnitude(5)) / fundamental);
        }
        if (ratios.empty()) return 0;
        std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
        return ratios[ratios.size() / 2];
    }
};

// A host for one test: jalv.gtk3 with the plug-in and its editor, on the suite's
// display and JACK server, with its output in a log.
class Jalv {
  public:
    Jalv(const std::string& lv2_path, const std::string& jack_env, const std::string& log)
        : log_(log), process_({"jalv.gtk3", kPluginUri}, log, {"LV2_PATH=" + lv2_path, jack_env}) {}

    pid_t pid() const { return process_.pid(); }
    bool running() { return process_.running(); }
    std::string log() const {
        std::ifstream file(log_);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    // The visible top-level window of this jalv (none while it starts).
    unsigned long window() {
        CommandResult r = run_command(
            {"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid())}, "", {}, 10);
        unsigned long id = 0;
        std::istringstream(r.output) >> id;
        return id;
    }
    // Waits until `shows` holds for a screenshot of the window, kept at `path`.
    bool wait_for(const std::string& path, const std::function<bool(const Picture&)>& shows,
                  double seconds = kBootSeconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline && running()) {
            if (unsigned long w = window()) {
                Picture p = screenshot(w, path);
                if (!p.pixels.empty() && shows(p)) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        return false;
    }
    // The host's own process maps no browser library.
    bool maps_a_browser() const {
        std::ifstream maps("/proc/" + std::to_string(pid()) + "/maps");
        std::string line;
        while (std::getline(maps, line))
            if (line.find("libwebkit") != std::string::npos ||
                line.find("libjavascriptcore") != std::string::npos)
                return true;
        return false;
    }
    // The editor helpers this jalv started that are still there.
    std::vector<pid_t> helpers() const {
        CommandResult r =
            run_command({"pgrep", "-P", std::to_string(pid()), "emberpress-edit"}, "", {}, 10);
        std::vector<pid_t> out;
        std::istringstream list(r.output);
        for (pid_t p; list >> p;) out.push_back(p);
        return out;
    }

  private:
    std::string log_;
    BackgroundProcess process_;
};

bool page_drawn(const Picture& p) {
    return ember_pixels(p.editor_area(0, 0, 800, 400)) > kDrawn;
}

// xdotool in the window at `window`'s origin (no window manager: it stays at 0, 0).
bool pointer(const std::vector<std::string>& steps) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), steps.begin(), steps.end());
    return run_command(argv, "", {}, 20).status == 0;
}

bool click(int x, int y) {
    return pointer(
        {"mousemove", std::to_string(x), std::to_string(y), "sleep", "0.2", "click", "1"});
}

// Drags the editor's knob at (x, y) by `dy` pixels (up when negative) in ten steps.
bool drag_knob(int x, int y, int dy) {
    y += kMenuBar;
    std::vector<std::string> steps = {
        "mousemove", std::to_string(x), std::to_string(y), "sleep", "0.2", "mousedown", "1"};
    for (int step = 1; step <= 10; ++step)
        steps.insert(steps.end(), {"sleep", "0.03", "mousemove", std::to_string(x),
                                   std::to_string(y + dy * step / 10)});
    steps.insert(steps.end(), {"sleep", "0.1", "mouseup", "1"});
    return pointer(steps);
}

class Lv2EditorInJalv : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!have_program("jalv.gtk3") || !have_program("jackd") ||
            !have_program("jack_simple_client") || !have_program("jack_rec") ||
            !have_program("xdotool") || !have_program("import")) {
            missing_ = "jalv, jackd2, xdotool or imagemagick is not installed";
            return;
        }
        if (!start_private_display()) {
            problem_ = "the private X server did not start";
            return;
        }
        dir_ = fs::temp_directory_path() / ("emberpress-editor-jalv-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        jack_ = new JackServer(dir_ / "jackd.log");
        if (!jack_->wait_ready()) {
            problem_ = "the JACK dummy server did not start";
            return;
        }
        source_ =
            new BackgroundProcess({"jack_simple_client"}, dir_ / "source.log", {jack_->env()});
    }
    static void TearDownTestSuite() {
        delete source_;
        delete jack_;
        source_ = nullptr;
        jack_ = nullptr;
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    void SetUp() override {
        if (!missing_.empty()) GTEST_SKIP() << missing_;
        ASSERT_TRUE(problem_.empty()) << problem_;
    }

    // The sine into the plug-in's input (again for each new jalv).
    static bool connect_source() {
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (run_command({"jack_connect", "jack_simple_client:output1", "Emberpress:in"}, "",
                            {jack_->env()}, 10)
                    .status == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }
    static Recording record(const std::string& name) {
        const std::string path = dir_ / (name + ".wav");
        run_command(
            {"jack_rec", "-f", path, "-d", "1", "jack_simple_client:output1", "Emberpress:out"}, "",
            {jack_->env()}, 20);
        Recording r;
        SF_INFO info{};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        if (!f) return r;
        std::vector<float> frames(size_t(info.frames) * info.channels);
        sf_readf_float(f, frames.data(), info.frames);
        sf_close(f);
        for (size_t i = 0; info.channels == 2 && i < frames.size(); i += 2) {
            r.in.push_back(frames[i]);
            r.out.push_back(frames[i + 1]);
        }
        return r;
    }

    static inline std::string missing_, problem_;
    static inline fs::path dir_;
    static inline JackServer* jack_ = nullptr;
    static inline BackgroundProcess* source_ = nullptr;
};

} // namespace

// The page inside jalv's window; drags on Drive and Volume and a click on Bypass reach
// the plug-in through the host (the sound changes; bypassed, it is the input); the host's
// preset reaches the page; no browser library enters jalv's process.
TEST_F(Lv2EditorInJalv, ShowsThePageChangesTheSoundAndFollowsTheHost) {
    Jalv jalv(EMBER_LV2_PATH, jack_->env(), dir_ / "jalv.log");
    const std::string shot = EMBER_ARTIFACTS "/editor-in-jalv.png";
    ASSERT_TRUE(jalv.wait_for(shot, page_drawn)) << "see " << shot << "\n" << jalv.log();
    Picture drawn = screenshot(jalv.window(), dir_ / "drawn.png");
    EXPECT_EQ(drawn.width, 800);
    EXPECT_EQ(drawn.height, 400 + kMenuBar) << "jalv sizes its window to what the UI asks";
    EXPECT_FALSE(jalv.maps_a_browser());
    ASSERT_TRUE(connect_source());

    // Drive down to nothing: the circuit clips less (on this sine the level hardly
    // moves, but the share of odd harmonics falls by about 4 %; a steady periodic
    // recording measures it to far better than that).
    const Recording driven = record("driven");
    ASSERT_TRUE(drag_knob(kDriveX, kKnobY, 100));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Recording undriven = record("undriven");
    ASSERT_GT(Recording::harmonics(driven.out), 0.1);
    EXPECT_LT(Recording::harmonics(undriven.out), 0.98 * Recording::harmonics(driven.out));

    // Volume up: the host's output grows.
    const Recording before = record("before");
    ASSERT_TRUE(drag_knob(kVolumeX, kKnobY, -60));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Recording louder = record("louder");
    ASSERT_GT(Recording::rms(before.out), 0.01);
    EXPECT_GT(Recording::rms(louder.out), 1.5 * Recording::rms(before.out));

    // The page's bypass switch turns the enable port off: the output becomes the input,
    // sample for sample once the crossfade has died away (about two seconds).
    ASSERT_TRUE(click(kBypassX, kKnobY + kMenuBar));
    Recording bypassed;
    for (int attempt = 0; attempt < 5 && (bypassed.in.empty() || bypassed.out != bypassed.in);
         ++attempt)
        bypassed = record("bypassed");
    ASSERT_FALSE(bypassed.in.empty());
    EXPECT_TRUE(bypassed.out == bypassed.in);

    // A preset chosen in jalv's own menu moves the page's knobs (Mix, Volume and Bypass
    // on the right, which the open menu does not cover). The pointer rests on the empty
    // end of the menu bar for both pictures, so that no hover effect counts.
    auto knobs = [](const Picture& p) { return p.editor_area(400, 150, 400, 180); };
    auto park_and_shoot = [&](const std::string& name) {
        pointer({"mousemove", std::to_string(kParkX), std::to_string(kPresetsMenuY)});
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return screenshot(jalv.window(), dir_ / name);
    };
    const std::vector<Rgb> before_preset = knobs(park_and_shoot("before-preset.png"));
    ASSERT_TRUE(click(kPresetsMenuX, kPresetsMenuY));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ASSERT_TRUE(click(kFirstPresetX, kFirstPresetY));
    bool moved = false;
    for (int attempt = 0; attempt < 10 && !moved; ++attempt)
        moved = differing_pixels(knobs(park_and_shoot("preset.png")), before_preset) > 500;
    EXPECT_TRUE(moved) << "see " << dir_ / "preset.png";
    EXPECT_TRUE(jalv.running());
}

// Without its helper the UI's instantiation fails with one line naming it; jalv shows
// its own controls instead and the plug-in keeps processing.
TEST_F(Lv2EditorInJalv, WithoutItsHelperTheHostCarriesOn) {
    const fs::path lv2 = dir_ / "no-helper";
    fs::create_directories(lv2);
    fs::copy(fs::path(EMBER_LV2_PATH) / "fernwood-emberpress.lv2", lv2 / "fernwood-emberpress.lv2",
             fs::copy_options::recursive);
    fs::remove(lv2 / "fernwood-emberpress.lv2" / "emberpress-editor");

    Jalv jalv(lv2, jack_->env(), dir_ / "jalv-no-helper.log");
    ASSERT_TRUE(jalv.wait_for(dir_ / "no-helper.png", [](const Picture& p) { return p.width > 0; }))
        << jalv.log();
    ASSERT_TRUE(connect_source());
    const Recording r = record("no-helper");
    EXPECT_TRUE(jalv.running());
    EXPECT_GT(Recording::rms(r.out), 0.01);
    EXPECT_NE(r.out, r.in) << "processed, not bypassed";

    std::istringstream log(jalv.log());
    std::vector<std::string> ours;
    for (std::string line; std::getline(log, line);)
        if (line.rfind("emberpress editor: ", 0) == 0) ours.push_back(line);
    ASSERT_EQ(ours.size(), 1u) << jalv.log();
    EXPECT_NE(ours[0].find("emberpress-editor is missing"), std::string::npos) << ours[0];
}

// A helper that crashes (killed) or hangs (stopped: it stops answering and is killed
// after the answer limit) while the editor shows leaves the view empty; jalv and the
// plug-in go on as before.
TEST_F(Lv2EditorInJalv, AHelperThatCrashesOrHangsLeavesAnEmptyViewAndTheHostCarriesOn) {
    for (auto [fault, signal] : {std::pair{"crash", SIGKILL}, {"hang", SIGSTOP}}) {
        SCOPED_TRACE(fault);
        Jalv jalv(EMBER_LV2_PATH, jack_->env(), dir_ / ("jalv-" + std::string(fault) + ".log"));
        ASSERT_TRUE(jalv.wait_for(dir_ / "shown.png", page_drawn)) << jalv.log();
        ASSERT_TRUE(connect_source());
        const Recording before = record("before-fault");

        const std::vector<pid_t> helpers = jalv.helpers();
        ASSERT_EQ(helpers.size(), 1u);
        kill(helpers[0], signal);
        EXPECT_TRUE(jalv.wait_for(
            dir_ / "empty.png",
            [](const Picture& p) { return ember_pixels(p.editor_area(0, 0, 800, 400)) == 0; }, 15));
        const Recording after = record("after-fault");
        EXPECT_TRUE(jalv.running());
        EXPECT_TRUE(jalv.helpers().empty()) << "reaped";
        EXPECT_NEAR(Recording::rms(after.out), Recording::rms(before.out),
                    0.01 * Recording::rms(before.out));
        std::istringstream log(jalv.log());
        int lines = 0;
        for (std::string line; std::getline(log, line);)
            lines += line.rfind("emberpress editor: ", 0) == 0;
        EXPECT_EQ(lines, 1) << jalv.log();
    }
}

// What the system loader brings in with each binary: the UI no toolkit, the plug-in
// nothing of X11 either (headless hosts load it).
TEST(Lv2EditorBinaries, TheUiLinksNoToolkitAndThePluginNothingOfX11) {
    const std::string bundle = std::string(EMBER_LV2_PATH) + "/fernwood-emberpress.lv2/";
    auto needed = [](const std::string& file) {
        std::istringstream dump(run_command({"readelf", "-d", file}, "", {}, 20).output);
        std::string libraries;
        for (std::string line; std::getline(dump, line);)
            if (line.find("(NEEDED)") != std::string::npos) libraries += line + "\n";
        return libraries;
    };
    const std::string ui = needed(bundle + "fernwood-emberpress-ui.so");
    const std::string plugin = needed(bundle + "fernwood-emberpress.so");
    ASSERT_NE(ui.find("libxcb"), std::string::npos) << ui;
    ASSERT_NE(plugin.find("libc.so"), std::string::npos) << plugin;
    for (const char* toolkit :
         {"gtk", "gdk", "glib", "gobject", "gio", "webkit", "javascriptcore"}) {
        EXPECT_EQ(ui.find(toolkit), std::string::npos) << toolkit << "\n" << ui;
        EXPECT_EQ(plugin.find(toolkit), std::string::npos) << toolkit << "\n" << plugin;
    }
    EXPECT_EQ(plugin.find("libxcb"), std::string::npos) << plugin;
    EXPECT_EQ(plugin.find("libX11"), std::string::npos) << plugin;
}

// The X11 UI as a host with a content scale drives it: the UI binary loaded with
// dlopen, a parent window of the test's own, ui:scaleFactor 1.5 among the options and
// a ui:resize that records. The editor opens at 1.5 x 800 x 400, asks for that room,
// follows the parent window when it grows, and without a parent window is refused.
TEST(Lv2UiX11, TakesTheHostsScaleAsksForItsRoomAndFollowsTheWindow) {
    ASSERT_TRUE(start_private_display());
    adopt_orphans();
    const std::string bundle = std::string(EMBER_LV2_PATH) + "/fernwood-emberpress.lv2/";
    void* binary = dlopen((bundle + "fernwood-emberpress-ui.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(binary, nullptr) << dlerror();
    auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(binary, "lv2ui_descriptor"));
    ASSERT_NE(entry, nullptr);
    const LV2UI_Descriptor* desc = entry(0);
    ASSERT_NE(desc, nullptr);
    EXPECT_STREQ(desc->URI, "https://fernwood.audio/plugins/emberpess#ui");
    EXPECT_EQ(entry(1), nullptr);

    static std::vector<std::string> uris;
    LV2_URID_Map map = {nullptr, [](LV2_URID_Map_Handle, const char* uri) {
                            auto at = std::find(uris.begin(), uris.end(), uri);
                            if (at == uris.end()) at = uris.insert(at, uri);
                            return LV2_URID(at - uris.begin() + 1);
                        }};
    const float scale = 1.5f;
    const LV2_Options_Option options[] = {{LV2_OPTIONS_INSTANCE, 0,
                                           map.map(nullptr, LV2_UI__scaleFactor), sizeof scale,
                                           map.map(nullptr, LV2_ATOM__Float), &scale},
                                          {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    static std::vector<std::pair<int, int>> asked;
    LV2UI_Resize resize = {nullptr, [](LV2UI_Feature_Handle, int w, int h) {
                               asked.emplace_back(w, h);
                               return 0;
                           }};
    Embedder window(1200, 600);
    const LV2_Feature map_feature = {LV2_URID__map, &map};
    const LV2_Feature options_feature = {LV2_OPTIONS__options,
                                         const_cast<LV2_Options_Option*>(options)};
    const LV2_Feature resize_feature = {LV2_UI__resize, &resize};
    const LV2_Feature parent_feature = {LV2_UI__parent, reinterpret_cast<void*>(window.window())};
    const LV2_Feature* features[] = {&map_feature, &options_feature, &resize_feature,
                                     &parent_feature, nullptr};
    auto write = [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {};

    LV2UI_Widget widget = nullptr;
    LV2UI_Handle ui =
        desc->instantiate(desc, kPluginUri, bundle.c_str(), write, nullptr, &widget, features);
    ASSERT_NE(ui, nullptr);
    EXPECT_NE(widget, nullptr);
    EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{1200, 600}}));
    auto* idle =
        static_cast<const LV2UI_Idle_Interface*>(desc->extension_data(LV2_UI__idleInterface));
    ASSERT_NE(idle, nullptr);
    auto idle_until = [&](const std::function<bool()>& done, double seconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            EXPECT_EQ(idle->idle(ui), 0);
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        return false;
    };
    // The page fills 1200 x 600: ember beyond the unscaled 800 x 400.
    EXPECT_TRUE(idle_until(
        [&] { return ember_pixels(window.pixels(800, 0, 400, 600)) > kDrawn / 2; }, kBootSeconds));

    // The host's window grows; the editor follows it (2:1, within 1.5 x 1200 x 600).
    window.resize(1400, 800);
    EXPECT_TRUE(idle_until(
        [&] { return ember_pixels(window.pixels(1200, 0, 200, 700)) > kDrawn / 10; }, 10));
    EXPECT_EQ(ember_pixels(window.pixels(0, 705, 1400, 95)), 0) << "drawn beyond 1400 x 700";

    desc->cleanup(ui);
    EXPECT_EQ(window.child_count(), 0);
    EXPECT_EQ(settle_children(5), std::vector<pid_t>{});

    // No parent window: refused with one line, and nothing is shown or started.
    const LV2_Feature* without_parent[] = {&map_feature, &resize_feature, nullptr};
    std::vector<std::string> lines;
    {
        StderrCapture err;
        widget = reinterpret_cast<LV2UI_Widget>(0x5eed);
        EXPECT_EQ(desc->instantiate(desc, kPluginUri, bundle.c_str(), write, nullptr, &widget,
                                    without_parent),
                  nullptr);
        lines = err.lines();
    }
    EXPECT_EQ(widget, nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("inside a window the host gives it"), std::string::npos) << lines[0];
    EXPECT_EQ(settle_children(5), std::vector<pid_t>{});
    EXPECT_EQ(asked.size(), 1u) << "no room asked for without an editor";
}
