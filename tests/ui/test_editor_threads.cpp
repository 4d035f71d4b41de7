// The editor's threads: host values from any thread, host values set from inside an
// edit callback (the hand-over), a resize and a destruction while a page edit is in
// flight. Every scenario has a time limit, so a deadlock fails the test.
#include <algorithm>
#include <thread>

#include "tests/ui/editor_harness.h"

namespace {

struct OpenEditor {
    Host host;
    HWND parent = nullptr;
    int browser = 0;
};

void open(OpenEditor& e, Host host) {
    e.host = std::move(host);
    e.parent = make_host_window();
    e.host.ed = editor_create(true, e.parent, e.host.callbacks(), nullptr, 800, 400, 6);
    ASSERT_NE(e.host.ed, nullptr);
    e.browser = standin_browser_of(window_of(e.host.ed));
}

void close(OpenEditor& e) {
    editor_destroy(e.host.ed);
    DestroyWindow(e.parent);
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

TEST_F(EditorTest, HostValuesFromSeveralThreadsAtOnceAllReachThePage) {
    with_time_limit([&] {
        OpenEditor e;
        open(e, make_host());
        constexpr int kRounds = 200;
        // Index 0 from the creating thread, 1 to 4 from four other threads, all at once.
        std::vector<std::thread> others;
        for (int t = 1; t <= 4; ++t)
            others.emplace_back([&, t] {
                for (int k = 1; k <= kRounds; ++k) editor_set_parameter(e.host.ed, t, (float)k);
            });
        for (int k = 1; k <= kRounds; ++k) editor_set_parameter(e.host.ed, 0, (float)k);
        for (auto& t : others) t.join();

        auto posts = page_posts(e.browser);
        ASSERT_EQ(posts.size(), 5u * kRounds) << "every call posted exactly one report";
        for (int index = 0; index <= 4; ++index) {
            std::vector<std::string> expected, seen;
            for (int k = 1; k <= kRounds; ++k) expected.push_back(report(index, (float)k));
            std::copy_if(posts.begin(), posts.end(), std::back_inserter(seen),
                         [&](const std::string& p) {
                             return p.rfind(report(index, 0).substr(0, 11), 0) == 0;
                         });
            EXPECT_EQ(seen, expected) << "one thread's values arrive in its order";
        }
        deliver(e.browser, L"g");
        posts = page_posts(e.browser);
        std::vector<std::string> last(posts.end() - 6, posts.end());
        EXPECT_EQ(last, (std::vector<std::string>{report(0, kRounds), report(1, kRounds),
                                                  report(2, kRounds), report(3, kRounds),
                                                  report(4, kRounds), report(5, 0)}));
        for (auto& line : browser_log(e.browser))
            EXPECT_EQ(line.find("broken"), std::string::npos) << line;
        close(e);
        expect_nothing_left(e.browser);
    });
}

TEST_F(EditorTest, HostChangesDuringAPageGestureReachThePage) {
    with_time_limit([&] {
        OpenEditor e;
        open(e, make_host());
        // The page's edit and the host's change race each other; either order must finish.
        for (int round = 0; round < 20; ++round) {
            int before = standin_events_done(e.browser);
            ASSERT_EQ(standin_page_message(e.browser, L"s 0 42480000", 0), 0);
            if (round % 2) Sleep(1);
            EXPECT_EQ(editor_set_parameter(e.host.ed, 1, (float)round), 0);
            EXPECT_EQ(page_posts(e.browser).back(), report(1, (float)round));
            ASSERT_TRUE(pump_until([&] { return standin_events_done(e.browser) > before; }));
        }
        ASSERT_EQ(e.host.edits.size(), 20u);
        EXPECT_TRUE(std::all_of(e.host.edits.begin(), e.host.edits.end(), [](const Edit& edit) {
            return edit.on_creating_thread && edit.kind == 's' && edit.index == 0 &&
                   edit.value == 50;
        }));
        close(e);
        expect_nothing_left(e.browser);
    });
}

TEST_F(EditorTest, HostSetsValuesFromInsideItsEditCallback) {
    with_time_limit([&] {
        Host host = make_host();
        // The host answers the page's drive value with its own rounding, and moves volume.
        host.react = [](Host& h, const Edit& edit) {
            if (edit.kind != 's') return;
            EXPECT_EQ(editor_set_parameter(h.ed, edit.index, edit.value * 2), 0);
            EXPECT_EQ(editor_set_parameter(h.ed, 4, 123), 0);
            editor_send_text(h.ed, "no way to hand text over"); // dropped, not a hang
        };
        OpenEditor e;
        open(e, std::move(host));
        deliver(e.browser, L"s 0 41200000"); // 10.0
        ASSERT_EQ(e.host.edits.size(), 1u);
        EXPECT_TRUE(e.host.edits[0].on_creating_thread);
        EXPECT_EQ(page_posts(e.browser), (std::vector<std::string>{report(0, 20), report(4, 123)}));

        deliver(e.browser, L"g"); // the handed-over values replaced the page's own in the cache
        auto posts = page_posts(e.browser);
        EXPECT_EQ(posts[2], report(0, 20));
        EXPECT_EQ(posts[6], report(4, 123));
        close(e);
        expect_nothing_left(e.browser);
    });
}

TEST_F(EditorTest, ResizesFollowTheWindowAlsoWhileAPageEditIsInFlight) {
    with_time_limit([&] {
        Host host = make_host();
        // Inside the callback the UI thread waits for this thread. A host may resize
        // asynchronously (the first edit) or wait for the window (the second): the UI
        // thread answers the size change while it waits.
        host.react = [](Host& h, const Edit& edit) {
            UINT wait = edit.index == 2 ? SWP_ASYNCWINDOWPOS : 0;
            int width = edit.index == 2 ? 1000 : 900;
            EXPECT_TRUE(SetWindowPos(window_of(h.ed), nullptr, 0, 0, width, 600,
                                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE |
                                         SWP_NOOWNERZORDER | wait));
        };
        OpenEditor e;
        open(e, std::move(host));
        SetWindowPos(window_of(e.host.ed), nullptr, 0, 0, 640, 320,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        EXPECT_EQ(browser_log(e.browser).back(), "put_Bounds 0 0 640 320");

        deliver(e.browser, L"s 2 42480000");
        EXPECT_TRUE(pump_until(
            [&] { return contains(browser_log(e.browser), "put_Bounds 0 0 1000 600"); }));
        deliver(e.browser, L"s 3 42480000");
        EXPECT_EQ(browser_log(e.browser).back(), "WebMessageReceived -> 0x00000000");
        EXPECT_TRUE(contains(browser_log(e.browser), "put_Bounds 0 0 900 600"));
        RECT client;
        GetClientRect(window_of(e.host.ed), &client);
        EXPECT_EQ(client.right, 900);
        EXPECT_EQ(client.bottom, 600);
        close(e);
        expect_nothing_left(e.browser);
    });
}

TEST_F(EditorTest, DestroyWhilePageEditsAreInFlight) {
    with_time_limit([&] {
        for (int round = 0; round < 6; ++round) {
            standin_reset();
            OpenEditor e;
            open(e, make_host());
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(standin_page_message(e.browser, L"s 3 42480000", 0), 0);
            if (round % 2) Sleep(2);   // let the UI thread get into its relay first
            editor_destroy(e.host.ed); // the edits may be dropped; the teardown completes
            EXPECT_LE(e.host.edits.size(), 3u);
            expect_nothing_left(e.browser);
            DestroyWindow(e.parent);
        }
    });
}
