// The editor through its door on Linux (ui/editor.h over the X11 backend), as a format
// layer drives it: the real helper and page of the LV2 bundle in a plain Xlib window
// under a private X server, a host loop that calls editor_idle when the editor's
// descriptor is readable or a timer fires, and edits recorded with their thread.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "engine/params.h"
#include "tests/ui/x11/embedder.h"
#include "ui/editor.h"

namespace {

constexpr int kDriveX = 95; // the Drive knob's centre in an 800 x 400 editor
constexpr int kDriveY = 200;
constexpr int kDrawn = 1500;        // ember pixels of a drawn 800 x 400 page
constexpr double kBootSeconds = 15; // a loaded machine needs time to start a browser

// The host's side: the bundle's folders, and what reaches it from the page.
struct DoorHost {
    std::string folder = EMBER_LV2_BUNDLE;
    std::thread::id thread = std::this_thread::get_id();
    std::vector<std::string> edits;   // "b 0 10" ..., "off the host's thread" when so
    std::vector<std::string> handled; // "m" texts of the page

    editor_callbacks callbacks() {
        auto folder_of = [](void* user) { return static_cast<DoorHost*>(user)->folder.c_str(); };
        return {this,
                "lv2",
                folder_of,
                folder_of,
                [](void* u, uint32_t i, float v) { record(u, 'b', i, v); },
                [](void* u, uint32_t i, float v) { record(u, 's', i, v); },
                [](void* u, uint32_t i, float v) { record(u, 'e', i, v); }};
    }
    static void record(void* user, char kind, uint32_t index, float value) {
        auto* host = static_cast<DoorHost*>(user);
        host->edits.push_back(std::string(1, kind) + " " + std::to_string(index) + " " +
                              std::to_string(int(value)));
        if (std::this_thread::get_id() != host->thread) host->edits.push_back("off the thread");
    }
};

DoorHost* g_host = nullptr; // the page message handler has no user data of its own

void handle(const char* text, page_reply_fn, void*) {
    if (g_host) g_host->handled.emplace_back(text);
}

// The host's loop: editor_idle whenever the descriptor is readable, and every 30 ms.
bool run_host_loop(editor* ed, const std::function<bool()>& done, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd watch{editor_poll_fd(ed), POLLIN, 0};
        poll(&watch, 1, 30);
        editor_idle(ed);
        if (done()) return true;
    }
    return false;
}

class X11Door : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(start_private_display());
        adopt_orphans();
        g_host = &host;
    }
    void TearDown() override { g_host = nullptr; }
    DoorHost host;
};

} // namespace

// Values from another thread wake the host's loop through the descriptor and reach the
// page; page edits reach the host on its own thread; a helper killed later leaves an
// empty editor that still takes values, and closing leaves nothing behind.
TEST_F(X11Door, DrivenByTheHostsLoopFromOpenToAKilledHelper) {
    Embedder window(800, 400);
    auto descriptors = open_descriptors();
    editor* ed = editor_create(true, reinterpret_cast<void*>(window.window()), host.callbacks(),
                               handle, 800, 400, kParamCount);
    ASSERT_NE(ed, nullptr);
    EXPECT_EQ(window.child_count(), 1);
    EXPECT_NE(editor_window(ed), nullptr);
    ASSERT_TRUE(run_host_loop(
        ed,
        [&] {
            return !host.handled.empty() && ember_pixels(window.pixels(0, 0, 800, 400)) > kDrawn;
        },
        kBootSeconds));
    EXPECT_EQ(host.handled.front(), "kestrelV1 init emberpress");

    // Drive 10 from another thread: the descriptor becomes readable without any idle.
    std::thread([&] { EXPECT_EQ(editor_set_parameter(ed, PARAM_DRIVE, 10.0f), 0); }).join();
    pollfd watch{editor_poll_fd(ed), POLLIN, 0};
    EXPECT_EQ(poll(&watch, 1, 1000), 1);
    run_host_loop(
        ed, [] { return false; }, 0.5);

    // A drag starts from that value and ends at 30, every step on the host's thread.
    ASSERT_TRUE(drag(window, kDriveX, kDriveY, -40));
    ASSERT_TRUE(run_host_loop(
        ed, [&] { return !host.edits.empty() && host.edits.back()[0] == 'e'; }, 5));
    EXPECT_EQ(host.edits.front(), "b 0 10");
    EXPECT_EQ(host.edits.back(), "e 0 30");
    EXPECT_EQ(std::count(host.edits.begin(), host.edits.end(), "off the thread"), 0);

    // The helper dies: the window stays (empty), values are still taken, nothing waits.
    std::vector<pid_t> helpers = helper_processes();
    ASSERT_EQ(helpers.size(), 1u);
    {
        StderrCapture err;
        kill(helpers[0], SIGKILL);
        EXPECT_TRUE(run_host_loop(
            ed, [&] { return !err.lines().empty(); }, 5));
        EXPECT_EQ(err.lines().size(), 1u);
    }
    std::thread([&] { EXPECT_EQ(editor_set_parameter(ed, PARAM_VOLUME, 150.0f), 0); }).join();
    run_host_loop(
        ed, [] { return false; }, 0.3);
    EXPECT_EQ(window.child_count(), 1);

    editor_destroy(ed);
    EXPECT_EQ(window.child_count(), 0);
    EXPECT_EQ(settle_children(5), std::vector<pid_t>{});
    EXPECT_EQ(open_descriptors(), descriptors);
}

// Every refusal is null with one line naming what is missing, and leaves nothing; the
// next open, with what was missing in place, works.
TEST_F(X11Door, RefusedOpeningsLeaveNothingAndTheNextOneWorks) {
    Embedder window(800, 400);
    auto descriptors = open_descriptors();
    void* parent = reinterpret_cast<void*>(window.window());
    struct Case {
        const char* what;
        std::string folder;
        bool embedded;
        const char* line;
    } cases[] = {
        {"no helper", ::testing::TempDir(), true, "emberpress-editor is missing"},
        {"no parent", EMBER_LV2_BUNDLE, false, "only inside a window the host gives it"},
    };
    for (const Case& c : cases) {
        host.folder = c.folder;
        std::vector<std::string> lines;
        {
            StderrCapture err;
            EXPECT_EQ(editor_create(c.embedded, c.embedded ? parent : nullptr, host.callbacks(),
                                    handle, 800, 400, kParamCount),
                      nullptr)
                << c.what;
            lines = err.lines();
        }
        ASSERT_EQ(lines.size(), 1u) << c.what;
        EXPECT_NE(lines[0].find(c.line), std::string::npos) << lines[0];
        EXPECT_EQ(settle_children(5), std::vector<pid_t>{}) << c.what;
        EXPECT_EQ(open_descriptors(), descriptors) << c.what;
        EXPECT_EQ(window.child_count(), 0) << c.what;
    }
    host.folder = EMBER_LV2_BUNDLE;
    editor* ed = editor_create(true, parent, host.callbacks(), handle, 800, 400, kParamCount);
    ASSERT_NE(ed, nullptr);
    editor_destroy(ed);
}
