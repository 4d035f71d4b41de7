// The plug view on Linux through the built bundle, as a host drives it under a private
// X server: attached inside an Xlib parent with the host's run loop, the page drawn,
// knob drags arriving as host edits, host changes reaching the page, sizes and content
// scale, removal and attaching again, many cycles, two views, hosts that lend their
// run loop differently, and the failures that must leave the host and its audio alone.
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "reference_render.h"
#include "tests/lv2/process_posix.h"
#include "x11_view_host.h"
#include "view_rect.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void* parent_of(const Embedder& host) {
    return reinterpret_cast<void*>(uintptr_t(host.window()));
}

tresult attach(IPlugView* view, const Embedder& host) {
    return view->vtbl->attached(view, parent_of(host), kPlatformTypeX11EmbedWindowID);
}

// A gesture on Drive from `from` to `to` (plain values): beginEdit, the start value,
// steps between, the end value and endEdit, all for Drive and in that order.
void expect_gesture(const std::vector<Edit>& edits, double from, double to) {
    ASSERT_GE(edits.size(), 4u);
    EXPECT_EQ(edits.front().kind, 'b');
    EXPECT_EQ(edits[1].kind, 'p');
    EXPECT_DOUBLE_EQ(edits[1].value, from / 100);
    EXPECT_EQ(edits[edits.size() - 2].kind, 'p');
    EXPECT_DOUBLE_EQ(edits[edits.size() - 2].value, to / 100);
    EXPECT_EQ(edits.back().kind, 'e');
    for (size_t k = 0; k < edits.size(); ++k) {
        EXPECT_EQ(edits[k].id, kDriveId) << k;
        if (k > 0 && k + 1 < edits.size()) {
            EXPECT_EQ(edits[k].kind, 'p') << k;
        }
    }
}

// The view is out of the run loop and its editor gone: no handler, timer, process or
// window left, and the run loop's references all back with the host.
void expect_detached(RunLoop& loop, Embedder& host) {
    EXPECT_TRUE(loop.watches.empty());
    EXPECT_TRUE(loop.timers.empty());
    EXPECT_EQ(loop.refs, 1);
    EXPECT_EQ(host.child_count(), 0);
    EXPECT_EQ(settle_children(5), std::vector<pid_t>{});
}

} // namespace

TEST_F(X11ViewTest, ShowsTheEditorRelaysEditsAndFollowsTheHost) {
    RunLoop loop;
    Frame frame;
    frame.loop = &loop;
    Session s;
    ASSERT_EQ(s.set(kDriveId, 0.1), kResultOk);
    IPlugView* view = s.create_view();
    ASSERT_NE(view, nullptr);
    Embedder host(1200, 600);
    EXPECT_EQ(size_of(view), (ViewRect{0, 0, 800, 400}));
    EXPECT_EQ(view->vtbl->canResize(view), kResultTrue);

    // What it cannot show is refused before anything is made.
    EXPECT_EQ(view->vtbl->isPlatformTypeSupported(view, kPlatformTypeX11EmbedWindowID),
              kResultTrue);
    for (const char* type : {"HWND", "WaylandSurfaceID", "x11embedwindowid", ""}) {
        EXPECT_EQ(view->vtbl->isPlatformTypeSupported(view, type), kResultFalse) << type;
        EXPECT_EQ(view->vtbl->attached(view, parent_of(host), type), kInvalidArgument) << type;
    }
    EXPECT_EQ(view->vtbl->attached(view, parent_of(host), nullptr), kInvalidArgument);
    EXPECT_EQ(view->vtbl->attached(view, nullptr, kPlatformTypeX11EmbedWindowID), kInvalidArgument);
    EXPECT_EQ(child_processes(), std::vector<pid_t>{});
    for (const char* name : {"Editor", "editor ", "", "view"})
        EXPECT_EQ(s.controller->vtbl->createView(s.controller, name), nullptr) << name;

    ASSERT_EQ(view->vtbl->setFrame(view, frame.frame()), kResultOk);
    ASSERT_EQ(attach(view, host), kResultOk);
    ASSERT_EQ(loop.watches.size(), 1u) << "the editor's socket";
    ASSERT_EQ(loop.timers.size(), 1u);
    EXPECT_GE(loop.timers[0].ms, 10u);
    EXPECT_LE(loop.timers[0].ms, 30u);
    EXPECT_EQ(attach(view, host), kInvalidArgument) << "already attached";
    ASSERT_TRUE(loop.run_until([&] { return page_drawn(host); }, kBootSeconds));
    EXPECT_EQ(ember_pixels(host.pixels(800, 0, 400, 600)), 0) << "drawn outside 800 x 400";

    // The page started from the controller's value (10) and its gesture reaches the
    // host's handler; the controller keeps the value.
    expect_gesture(drag_drive(loop, s, host, -40), 10, 30);
    EXPECT_GT(loop.descriptor_calls, 0);
    EXPECT_DOUBLE_EQ(s.controller->vtbl->getParamNormalized(s.controller, kDriveId), 0.3);

    // Host changes reach the page: the next gesture starts from them.
    ASSERT_EQ(s.set(kDriveId, 0.5), kResultOk);
    expect_gesture(drag_drive(loop, s, host, -20), 50, 60);
    {
        ActiveProcessor p;
        ParamChanges changes;
        changes.add(kDriveId, {{0, 0.7}});
        std::vector<float> buffer(64);
        p.process(buffer.data(), buffer.data(), 64, changes.changes());
        MemoryStream state(p.state());
        ASSERT_EQ(s.controller->vtbl->setComponentState(s.controller, state.stream()), kResultOk);
    }
    expect_gesture(drag_drive(loop, s, host, -20), 70, 80);

    // Sizes: 2:1 between 640 x 320 and 1200 x 600; a size outside becomes the nearest
    // one the editor can show, and the page fills exactly that.
    for (auto [asked, fitted] : {std::pair{ViewRect{0, 0, 5000, 100}, ViewRect{0, 0, 640, 320}},
                                 {{10, 20, 1010, 920}, {10, 20, 1010, 520}},
                                 {{0, 0, 2400, 1200}, {0, 0, 1200, 600}},
                                 {{0, 0, 801, 400}, {0, 0, 800, 400}}}) {
        EXPECT_EQ(view->vtbl->checkSizeConstraint(view, &asked), kResultTrue);
        EXPECT_EQ(asked, fitted);
    }
    EXPECT_EQ(view->vtbl->checkSizeConstraint(view, nullptr), kInvalidArgument);
    EXPECT_EQ(view->vtbl->onSize(view, nullptr), kInvalidArgument);
    // The page's ember grows with the square of the size: (1000 / 800)^2 = 1.56 times.
    const int at_800 = ember_pixels(host.pixels(0, 0, 800, 400));
    ViewRect inside{0, 0, 1000, 500};
    ASSERT_EQ(view->vtbl->onSize(view, &inside), kResultOk);
    EXPECT_EQ(size_of(view), inside);
    EXPECT_TRUE(loop.run_until(
        [&] { return ember_pixels(host.pixels(0, 0, 1000, 500)) > at_800 * 4 / 3; }, 5))
        << "the page fills 1000 x 500";
    ViewRect outside{0, 0, 5000, 100};
    ASSERT_EQ(view->vtbl->onSize(view, &outside), kResultOk);
    EXPECT_EQ(size_of(view), (ViewRect{0, 0, 640, 320}));
    EXPECT_TRUE(loop.run_until(
        [&] {
            return ember_pixels(host.pixels(640, 0, 560, 600)) == 0 &&
                   ember_pixels(host.pixels(0, 320, 640, 280)) == 0 && page_drawn(host, 640, 320);
        },
        5))
        << "the page fills 640 x 320 and nothing beyond";

    // Removed: nothing of the editor is left; the size stays for the next attach.
    EXPECT_EQ(view->vtbl->removed(view), kResultOk);
    expect_detached(loop, host);
    EXPECT_EQ(size_of(view), (ViewRect{0, 0, 640, 320}));
    EXPECT_EQ(view->vtbl->onSize(view, &inside), kResultFalse) << "detached";
    EXPECT_EQ(view->vtbl->removed(view), kResultOk) << "removing a detached view";

    ASSERT_EQ(attach(view, host), kResultOk);
    EXPECT_TRUE(loop.run_until([&] { return page_drawn(host, 640, 320); }, kBootSeconds));
    expect_gesture(drag_drive(loop, s, host, -20, 640), 80, 90);
    EXPECT_EQ(view->vtbl->removed(view), kResultOk);
    EXPECT_EQ(release(view), 0u);
    expect_detached(loop, host);
}

// The host's content scale multiplies every size; a change while attached resizes the
// editor and asks the host's frame for the matching size.
TEST_F(X11ViewTest, ContentScaleMultipliesTheSizes) {
    RunLoop loop;
    Frame frame;
    frame.loop = &loop;
    Session s;
    IPlugView* view = s.create_view();
    ASSERT_NE(view, nullptr);
    auto* scaling = query<IPlugViewContentScaleSupport>(view, kIPlugViewContentScaleSupportIid);
    ASSERT_NE(scaling, nullptr);
    ASSERT_EQ(scaling->vtbl->setContentScaleFactor(scaling, 2), kResultOk);
    EXPECT_EQ(size_of(view), (ViewRect{0, 0, 1600, 800}));
    for (float bad : {0.0f, -1.0f, 0.25f, 8.0f, NAN, INFINITY}) {
        EXPECT_EQ(scaling->vtbl->setContentScaleFactor(scaling, bad), kInvalidArgument) << bad;
        EXPECT_EQ(size_of(view), (ViewRect{0, 0, 1600, 800})) << bad;
    }
    ViewRect asked{0, 0, 5000, 2500};
    EXPECT_EQ(view->vtbl->checkSizeConstraint(view, &asked), kResultTrue);
    EXPECT_EQ(asked, (ViewRect{0, 0, 2400, 1200}));
    asked = {0, 0, 100, 100};
    EXPECT_EQ(view->vtbl->checkSizeConstraint(view, &asked), kResultTrue);
    EXPECT_EQ(asked, (ViewRect{0, 0, 1280, 640}));

    Embedder host(1600, 800, 0, 0); // the whole width of the screen
    ASSERT_EQ(view->vtbl->setFrame(view, frame.frame()), kResultOk);
    ASSERT_EQ(attach(view, host), kResultOk);
    EXPECT_TRUE(loop.run_until([&] { return page_drawn(host, 1600, 800); }, kBootSeconds))
        << "the page fills 1600 x 800";

    // Back to 1: the view asks the host for the unscaled size, the host answers with
    // onSize, and the page follows.
    frame.on_resize = [&](const ViewRect& r) {
        ViewRect given = r;
        EXPECT_EQ(view->vtbl->onSize(view, &given), kResultOk);
    };
    ASSERT_EQ(scaling->vtbl->setContentScaleFactor(scaling, 1), kResultOk);
    EXPECT_EQ(frame.resizes, (std::vector<ViewRect>{{0, 0, 800, 400}}));
    EXPECT_EQ(size_of(view), (ViewRect{0, 0, 800, 400}));
    EXPECT_TRUE(loop.run_until(
        [&] { return page_drawn(host) && ember_pixels(host.pixels(800, 0, 800, 800)) == 0; }, 5));
    EXPECT_EQ(view->vtbl->removed(view), kResultOk);
    release(scaling);
    EXPECT_EQ(release(view), 0u);
}

// Hosts lend their run loop differently: through the controller's host context rather
// than the frame, and some never report a readable descriptor (the timer must do). A
// host that lends none, or refuses the timer, gets a clean refusal.
TEST_F(X11ViewTest, RunLoopFromTheContextAndTimerOnly) {
    Embedder host(800, 400);
    RunLoop refusing;
    refusing.refuse_timers = true;
    for (RunLoop* lent : {static_cast<RunLoop*>(nullptr), &refusing}) {
        Session s(test_factory(), lent);
        IPlugView* view = s.create_view();
        const auto descriptors = open_descriptors();
        std::vector<std::string> lines;
        {
            StderrCapture err;
            EXPECT_EQ(attach(view, host), kResultFalse);
            lines = err.lines();
        }
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(lent ? "refused the editor's timer" : "no run loop"),
                  std::string::npos)
            << lines[0];
        expect_detached(refusing, host);
        EXPECT_EQ(open_descriptors(), descriptors);
        EXPECT_EQ(release(view), 0u);
    }
    RunLoop loop;
    loop.report_descriptors = false;
    Frame frame; // lends no run loop
    Session s(test_factory(), &loop);
    IPlugView* view = s.create_view();
    ASSERT_EQ(view->vtbl->setFrame(view, frame.frame()), kResultOk);
    ASSERT_EQ(attach(view, host), kResultOk);
    ASSERT_TRUE(loop.run_until([&] { return page_drawn(host); }, kBootSeconds));
    expect_gesture(drag_drive(loop, s, host, -20), 50, 60);
    EXPECT_EQ(loop.descriptor_calls, 0);
    EXPECT_GT(loop.timer_calls, 0);
    EXPECT_EQ(view->vtbl->removed(view), kResultOk);
    EXPECT_EQ(release(view), 0u);
    expect_detached(loop, host);
}

TEST_F(X11ViewTest, TwoViewsAtOnce) {
    RunLoop loop;
    Frame frame;
    frame.loop = &loop;
    Session s;
    Embedder first(800, 400, 10, 10), second(800, 400, 10, 440);
    IPlugView* a = s.create_view();
    IPlugView* b = s.create_view();
    a->vtbl->setFrame(a, frame.frame());
    b->vtbl->setFrame(b, frame.frame());
    ASSERT_EQ(attach(a, first), kResultOk);
    ASSERT_EQ(attach(b, second), kResultOk);
    EXPECT_EQ(loop.watches.size(), 2u);
    EXPECT_EQ(loop.timers.size(), 2u);
    ASSERT_TRUE(
        loop.run_until([&] { return page_drawn(first) && page_drawn(second); }, kBootSeconds));

    // A host value reaches both pages; a gesture in the second starts from it.
    ASSERT_EQ(s.set(kDriveId, 0.2), kResultOk);
    expect_gesture(drag_drive(loop, s, second, -20), 20, 30);

    // The first goes; the second stays, in the run loop and drawn.
    EXPECT_EQ(a->vtbl->removed(a), kResultOk);
    EXPECT_EQ(release(a), 0u);
    EXPECT_EQ(first.child_count(), 0);
    EXPECT_EQ(loop.watches.size(), 1u);
    EXPECT_EQ(loop.timers.size(), 1u);
    loop.run_for(0.3);
    EXPECT_TRUE(page_drawn(second));
    expect_gesture(drag_drive(loop, s, second, -20), 30, 40);
    EXPECT_EQ(b->vtbl->removed(b), kResultOk);
    EXPECT_EQ(release(b), 0u);
    expect_detached(loop, second);
}

TEST_F(X11ViewTest, FiftyOpenAndCloseCyclesLeaveNothing) {
    RunLoop loop;
    Frame frame;
    frame.loop = &loop;
    Session s;
    Embedder host(800, 400);
    IPlugView* view = s.create_view();
    view->vtbl->setFrame(view, frame.frame());
    const auto descriptors = open_descriptors();
    for (int cycle = 0; cycle < 50; ++cycle) {
        ASSERT_EQ(attach(view, host), kResultOk) << "cycle " << cycle;
        // Some close while the page loads, some once it shows.
        if (cycle % 10 == 9) {
            ASSERT_TRUE(loop.run_until([&] { return page_drawn(host); }, kBootSeconds));
        } else {
            loop.run_for(0.02);
        }
        ASSERT_EQ(view->vtbl->removed(view), kResultOk);
    }
    expect_detached(loop, host);
    EXPECT_EQ(open_descriptors(), descriptors);
    EXPECT_EQ(release(view), 0u);
}

// The host's process never maps a toolkit library, neither through the module's own
// dependencies nor with an editor open.
TEST_F(X11ViewTest, HostProcessLoadsNoToolkit) {
    const char* toolkit[] = {"libgtk", "libgdk",    "libglib",           "libgobject",
                             "libgio", "libwebkit", "libjavascriptcore", "libsoup"};
    CommandResult needed = run_command({"readelf", "-d", EMBER_VST3_MODULE});
    ASSERT_EQ(needed.status, 0) << needed.output;
    ASSERT_NE(needed.output.find("(NEEDED)"), std::string::npos);
    RunLoop loop;
    Frame frame;
    frame.loop = &loop;
    Session s;
    Embedder host(800, 400);
    IPlugView* view = s.create_view();
    view->vtbl->setFrame(view, frame.frame());
    ASSERT_EQ(attach(view, host), kResultOk);
    ASSERT_TRUE(loop.run_until([&] { return page_drawn(host); }, kBootSeconds));
    std::ifstream maps_file("/proc/self/maps");
    const std::string maps((std::istreambuf_iterator<char>(maps_file)), {});
    for (const char* name : toolkit) {
        EXPECT_EQ(needed.output.find(name), std::string::npos) << name << " needed";
        EXPECT_EQ(maps.find(name), std::string::npos) << name << " mapped";
    }
    // The helper holds them (the scan would see them there).
    const std::vector<pid_t> helpers = helper_processes();
    ASSERT_EQ(helpers.size(), 1u);
    std::ifstream helper_maps("/proc/" + std::to_string(helpers[0]) + "/maps");
    const std::string helper_text((std::istreambuf_iterator<char>(helper_maps)), {});
    EXPECT_NE(helper_text.find("libwebkit2gtk-4.1"), std::string::npos);
    EXPECT_EQ(view->vtbl->removed(view), kResultOk);
    EXPECT_EQ(release(view), 0u);
}

// --- Faults: the host and the plug-in's audio carry on ---------------------------------

namespace {

// A processor of the bundle rendering on an audio thread of its own while the test
// runs; finish() checks that every sample equals the engine's own render.
class AudioThread {
  public:
    explicit AudioThread(IPluginFactory3* factory) : processor_(48000, true, true, factory) {
        thread_ = std::thread([this] {
            while (!stop_) {
                const size_t at = out_.size();
                out_.resize(at + kBlock);
                processor_.process(input_.data() + at % kPeriod, out_.data() + at, kBlock);
                ++blocks_;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~AudioThread() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int blocks() const { return blocks_; }
    void finish() {
        stop_ = true;
        thread_.join();
        Reference ref;
        std::vector<float> want(out_.size());
        for (size_t at = 0; at < out_.size(); at += kBlock)
            ref.process(input_.data() + at % kPeriod, want.data() + at, kBlock);
        EXPECT_GT(out_.size(), 0u);
        EXPECT_TRUE(same_bits(out_, want)) << "the audio changed";
    }

  private:
    static constexpr int32_t kBlock = 256;
    static constexpr size_t kPeriod = 256 * 64;
    const std::vector<float> input_ = test_signal(kPeriod + kBlock);
    ActiveProcessor processor_;
    std::vector<float> out_;
    std::atomic<bool> stop_{false};
    std::atomic<int> blocks_{0};
    std::thread thread_;
};

// attached fails within the time limit with one line on standard error naming the
// cause, leaves nothing behind, and the audio thread rendered meanwhile.
void expect_clean_failure(IPlugView* view, Embedder& host, RunLoop& loop, AudioThread& audio,
                          const std::string& line_part) {
    const auto descriptors = open_descriptors();
    const int blocks_before = audio.blocks();
    std::vector<std::string> lines;
    const auto start = Clock::now();
    {
        StderrCapture err;
        EXPECT_EQ(attach(view, host), kResultFalse);
        lines = err.lines();
    }
    EXPECT_LT(seconds_since(start), 7);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(line_part), std::string::npos) << lines[0];
    EXPECT_EQ(size_of(view), (ViewRect{0, 0, 800, 400}));
    expect_detached(loop, host);
    EXPECT_EQ(open_descriptors(), descriptors);
    if (seconds_since(start) > 1) {
        EXPECT_GT(audio.blocks(), blocks_before) << "the audio thread rendered meanwhile";
    }
}

} // namespace

// Helper missing (and back again), helper never answering: attached refuses each time
// and tries afresh at the next attach.
TEST_F(X11ViewTest, HelperMissingOrSilentFailsCleanly) {
    BundleCopy copy("faulty");
    ASSERT_NE(copy.factory, nullptr);
    AudioThread audio(copy.factory);
    RunLoop loop;
    Frame frame;
    frame.loop = &loop;
    Session s(copy.factory);
    Embedder host(800, 400);
    IPlugView* view = s.create_view();
    view->vtbl->setFrame(view, frame.frame());

    const std::string kept = copy.helper + ".kept";
    std::filesystem::rename(copy.helper, kept);
    expect_clean_failure(view, host, loop, audio, "the helper program " + copy.helper);
    expect_clean_failure(view, host, loop, audio, "the helper program " + copy.helper);

    std::ofstream(copy.helper) << "#!/bin/sh\nexec sleep 60\n";
    std::filesystem::permissions(copy.helper, std::filesystem::perms::owner_all);
    expect_clean_failure(view, host, loop, audio, "no answer from " + copy.helper + " within 5 s");

    std::filesystem::rename(kept, copy.helper);
    ASSERT_EQ(attach(view, host), kResultOk);
    EXPECT_TRUE(loop.run_until([&] { return page_drawn(host); }, kBootSeconds));
    EXPECT_EQ(view->vtbl->removed(view), kResultOk);
    EXPECT_EQ(release(view), 0u);
    audio.finish();
}

// A helper killed or stopped while the editor is open: the view goes empty within the
// limit, no run-loop call waits for it, removing is quick, and attaching again brings
// the page back.
TEST_F(X11ViewTest, HelperKilledOrStoppedLeavesAnEmptyView) {
    AudioThread audio(test_factory());
    RunLoop loop;
    Frame frame;
    frame.loop = &loop;
    Session s;
    Embedder host(800, 400);
    IPlugView* view = s.create_view();
    view->vtbl->setFrame(view, frame.frame());
    for (int signal_number : {SIGKILL, SIGSTOP}) {
        SCOPED_TRACE(signal_number == SIGKILL ? "killed" : "stopped");
        ASSERT_EQ(attach(view, host), kResultOk);
        ASSERT_TRUE(loop.run_until([&] { return page_drawn(host); }, kBootSeconds));
        const std::vector<pid_t> helpers = helper_processes();
        ASSERT_EQ(helpers.size(), 1u);

        StderrCapture err;
        kill(helpers[0], signal_number);
        const double limit = signal_number == SIGKILL ? 2 : 8;
        const auto start = Clock::now();
        EXPECT_TRUE(loop.run_until(
            [&] { return ember_pixels(host.pixels(0, 0, 800, 400)) == 0 && !err.lines().empty(); },
            limit));
        EXPECT_LT(seconds_since(start), limit);
        EXPECT_EQ(err.lines().size(), 1u);

        const auto removing = Clock::now();
        EXPECT_EQ(view->vtbl->removed(view), kResultOk);
        EXPECT_LT(seconds_since(removing), 1.5);
        expect_detached(loop, host);
    }
    ASSERT_EQ(attach(view, host), kResultOk);
    EXPECT_TRUE(loop.run_until([&] { return page_drawn(host); }, kBootSeconds));
    expect_gesture(drag_drive(loop, s, host, -20), 50, 60);
    EXPECT_EQ(view->vtbl->removed(view), kResultOk);
    EXPECT_EQ(release(view), 0u);
    audio.finish();
}
