// The plug view's life through the bundle, as a host drives it: attach inside the
// host's window, sizes, the idle timer, removal and attaching again, what it refuses,
// failed starts, several views of one controller, and hosts that let go in the wrong
// order. Every scenario runs with a time limit.
#include <algorithm>
#include <atomic>
#include <filesystem>

#include "tests/ui/panel_probe.h"
#include "view_host.h"
#include "view_rect.h"

namespace {

constexpr ViewRect kDesignSize{0, 0, 800, 400};

std::string last_bounds(int browser) {
    auto log = browser_log(browser);
    auto it = std::find_if(log.rbegin(), log.rend(),
                           [](auto& line) { return line.rfind("put_Bounds ", 0) == 0; });
    return it == log.rend() ? "" : *it;
}

// Counts the idle timer's messages that the editor's UI thread takes from its queue.
struct TimerWatch {
    static inline std::atomic<int> ticks{0};
    static inline HWND window;
    static inline UINT_PTR id;
    HHOOK hook;
    TimerWatch(HWND ui_window, IPlugView* view) {
        ticks = 0;
        window = ui_window;
        id = reinterpret_cast<UINT_PTR>(view);
        hook = SetWindowsHookExA(WH_GETMESSAGE, on_message, nullptr,
                                 GetWindowThreadProcessId(ui_window, nullptr));
        EXPECT_NE(hook, nullptr);
    }
    ~TimerWatch() { UnhookWindowsHookEx(hook); }
    static LRESULT CALLBACK on_message(int code, WPARAM removing, LPARAM lparam) {
        const MSG* msg = reinterpret_cast<const MSG*>(lparam);
        if (code == HC_ACTION && removing == PM_REMOVE && msg->message == WM_TIMER &&
            msg->hwnd == window && msg->wParam == id &&
            GetCurrentThreadId() == GetWindowThreadProcessId(window, nullptr))
            ++ticks;
        return CallNextHookEx(nullptr, code, removing, lparam);
    }
};

} // namespace

TEST_F(ViewTest, AttachShowsTheEditorInTheHostWindowAndEachRemovalLeavesNothing) {
    with_time_limit([&] {
        Session s;
        s.set(kToneId, 0.42);
        s.set(kVolumeId, 0.25);
        s.set(kBypassId, 0.6);
        IPlugView* view = s.create_view();
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(size_of(view), kDesignSize);
        HWND parent = make_parent_window();

        for (int round = 1; round <= 2; ++round) {
            ASSERT_EQ(view->vtbl->attached(view, parent, kPlatformTypeHWND), kResultOk);
            HWND window = editor_window_in(parent);
            ASSERT_NE(window, nullptr);
            const int browser = stand_in().browser_of(window);
            EXPECT_EQ(browser, round) << "a new editor each time";
            EXPECT_EQ(page_posts(browser), reports({50, 42, 50, 100, 50, 1}))
                << "the controller's values, in index order, before attached returns";
            EXPECT_EQ(size_of(view), kDesignSize);

            // The page the editor opens is the one installed in the bundle.
            auto log = browser_log(browser);
            auto navigate = std::find_if(
                log.begin(), log.end(), [](auto& line) { return line.rfind("Navigate ", 0) == 0; });
            ASSERT_NE(navigate, log.end());
            const std::string page = navigate->substr(9);
            EXPECT_TRUE(
                page.ends_with("\\fernwood-emberpress.vst3\\Contents\\Resources\\index.html"))
                << page;
            EXPECT_TRUE(std::filesystem::is_regular_file(page)) << page;

            TimerWatch watch(window, view);
            EXPECT_TRUE(pump_until([] { return TimerWatch::ticks >= 3; }))
                << "the idle timer runs on the editor's thread";

            EXPECT_EQ(view->vtbl->attached(view, parent, kPlatformTypeHWND), kInvalidArgument);
            EXPECT_EQ(stand_in().last_browser(), round) << "no second editor";
            EXPECT_EQ(editor_window_in(parent), window) << "the first one stays";

            ViewRect bigger{0, 0, 1000, 600};
            EXPECT_EQ(view->vtbl->onSize(view, &bigger), kResultOk);
            EXPECT_EQ(size_of(view), bigger);
            EXPECT_EQ(last_bounds(browser), "put_Bounds 0 0 1000 600") << "the browser follows";

            EXPECT_EQ(view->vtbl->removed(view), kResultOk);
            EXPECT_FALSE(IsWindow(window));
            expect_nothing_left({browser});
            EXPECT_EQ(size_of(view), kDesignSize);
            EXPECT_EQ(view->vtbl->onSize(view, &bigger), kResultFalse);
            EXPECT_EQ(view->vtbl->removed(view), kResultOk) << "removing a detached view";
        }
        EXPECT_EQ(release(view), 0u);
        DestroyWindow(parent);
    });
}

TEST_F(ViewTest, AnswersAsAPlugViewAndRefusesWhatItCannotShow) {
    with_time_limit([&] {
        Session s;
        IPlugView* view = s.create_view();
        ASSERT_NE(view, nullptr);
        void* obj = nullptr;
        EXPECT_EQ(view->vtbl->unknown.queryInterface(view, kIPlugViewIid.bytes, &obj), kResultOk);
        EXPECT_EQ(obj, view);
        EXPECT_EQ(view->vtbl->unknown.queryInterface(view, kFUnknownIid.bytes, &obj), kResultOk);
        EXPECT_EQ(obj, view);
        EXPECT_EQ(view->vtbl->unknown.queryInterface(view, kIEditControllerIid.bytes, &obj),
                  kNoInterface);
        EXPECT_EQ(obj, nullptr);
        EXPECT_EQ(view->vtbl->unknown.queryInterface(view, kIPlugViewIid.bytes, nullptr),
                  kInvalidArgument);
        EXPECT_EQ(release(view), 2u) << "each hit added one reference";
        EXPECT_EQ(release(view), 1u);

        EXPECT_EQ(view->vtbl->canResize(view), kResultTrue);
        ViewRect small{0, 0, 10, 10};
        EXPECT_EQ(view->vtbl->checkSizeConstraint(view, &small), kResultOk);
        EXPECT_EQ(small, (ViewRect{0, 0, 10, 10}));
        EXPECT_EQ(view->vtbl->getSize(view, nullptr), kInvalidArgument);
        EXPECT_EQ(view->vtbl->onSize(view, nullptr), kInvalidArgument);

        // Other platforms' types, and parents that are no window: refused before
        // anything is made.
        HWND parent = make_parent_window();
        HWND gone = make_parent_window();
        DestroyWindow(gone);
        EXPECT_EQ(view->vtbl->isPlatformTypeSupported(view, kPlatformTypeHWND), kResultTrue);
        for (const char* type : {"NSView", "X11EmbedWindowID", "hwnd", "HWND ", ""}) {
            EXPECT_EQ(view->vtbl->isPlatformTypeSupported(view, type), kResultFalse) << type;
            EXPECT_EQ(view->vtbl->attached(view, parent, type), kInvalidArgument) << type;
        }
        EXPECT_EQ(view->vtbl->isPlatformTypeSupported(view, nullptr), kResultFalse);
        EXPECT_EQ(view->vtbl->attached(view, parent, nullptr), kInvalidArgument);
        EXPECT_EQ(view->vtbl->attached(view, nullptr, kPlatformTypeHWND), kInvalidArgument);
        EXPECT_EQ(view->vtbl->attached(view, gone, kPlatformTypeHWND), kInvalidArgument);
        EXPECT_EQ(stand_in().last_browser(), 0) << "no browser was started";
        EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
        expect_nothing_left();
        EXPECT_EQ(size_of(view), kDesignSize);

        for (const char* name : {"Editor", "editor ", "", "view"})
            EXPECT_EQ(s.controller->vtbl->createView(s.controller, name), nullptr) << name;
        EXPECT_EQ(s.controller->vtbl->createView(s.controller, nullptr), nullptr);

        EXPECT_EQ(release(view), 0u);
        DestroyWindow(parent);
    });
}

// A browser that fails to start shows the panel naming the runtime inside the host's
// window instead; the view works on (sizes, the host's values) and each removal
// leaves nothing. (Without a loader beside the module: test_view_runtime.cpp.)
TEST_F(ViewTest, FailedStartsShowThePanelAndEachRemovalLeavesNothing) {
    with_time_limit([&] {
        Session s;
        IPlugView* view = s.create_view();
        ASSERT_NE(view, nullptr);
        HWND parent = make_parent_window();
        ViewRect size{0, 0, 900, 500};
        for (const char* step : {"CreateCoreWebView2EnvironmentWithOptions", "environment",
                                 "controller", "Navigate"}) {
            stand_in().reset();
            stand_in().fail(step, E_FAIL);
            ASSERT_EQ(view->vtbl->attached(view, parent, kPlatformTypeHWND), kResultOk) << step;
            EXPECT_EQ(stand_in().last_browser(), 1) << step;
            const PanelProbe panel = find_panel(editor_window_in(parent));
            ASSERT_TRUE(panel) << step;
            EXPECT_EQ(size_of(view), kDesignSize) << step;
            RECT area;
            GetClientRect(panel.window, &area);
            EXPECT_EQ(area.right, 800) << step << ": the panel fills the editor";
            EXPECT_EQ(area.bottom, 400) << step;
            EXPECT_EQ(view->vtbl->onSize(view, &size), kResultOk) << step;
            EXPECT_EQ(size_of(view), size) << step;
            GetClientRect(panel.window, &area);
            EXPECT_EQ(area.right, 900) << step << ": the panel follows the size";
            EXPECT_EQ(area.bottom, 500) << step;
            s.set(kDriveId, 0.3); // the host's controls work on, with no page to show it
            EXPECT_TRUE(page_posts(1).empty()) << step;

            EXPECT_EQ(view->vtbl->removed(view), kResultOk) << step;
            expect_nothing_left({1});
            EXPECT_FALSE(panel.class_registered()) << step;
            EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr) << step;
            EXPECT_EQ(size_of(view), kDesignSize) << step;
        }
        stand_in().reset();
        ASSERT_EQ(view->vtbl->attached(view, parent, kPlatformTypeHWND), kResultOk);
        EXPECT_EQ(page_posts(1).size(), 6u);
        EXPECT_FALSE(find_panel(editor_window_in(parent))) << "the browser, no panel";
        EXPECT_EQ(view->vtbl->removed(view), kResultOk);
        EXPECT_EQ(release(view), 0u);
        DestroyWindow(parent);
    });
}

TEST_F(ViewTest, SeveralViewsGetHostValuesInListOrderAndAFreedEntryIsReused) {
    with_time_limit([&] {
        Session s;
        OpenView a = open_view(s), b = open_view(s);
        auto shown_by = [](std::vector<int> browsers, float value) {
            std::vector<std::string> lines;
            for (int browser : browsers)
                lines.push_back(std::to_string(browser) + " " + report(0, value));
            return lines;
        };
        auto last_posts = [](size_t n) {
            auto all = posts_in_order();
            return std::vector<std::string>(all.end() - std::min(n, all.size()), all.end());
        };
        s.set(kDriveId, 0.3);
        EXPECT_EQ(last_posts(2), shown_by({a.browser, b.browser}, 30));

        deliver(b.browser, L"s 1 42c80000");
        EXPECT_EQ(s.handler.calls, (std::vector<HostCall>{{'p', kToneId, 1.0, true}}));

        // The host lets go of the first view while it is open: its editor closes and
        // its entry is free; the next view takes it, the one after gets a new one.
        EXPECT_EQ(release(a.view), 0u);
        EXPECT_FALSE(IsWindow(a.ui_window));
        expect_classes_gone(a.browser);
        s.set(kDriveId, 0.4);
        EXPECT_EQ(last_posts(1), shown_by({b.browser}, 40));
        OpenView c = open_view(s), d = open_view(s);
        s.set(kDriveId, 0.5);
        EXPECT_EQ(last_posts(3), shown_by({c.browser, b.browser, d.browser}, 50));
        EXPECT_EQ(page_posts(c.browser).front(), report(0, 40)) << "a new page starts current";

        close_view(b);
        close_view(c);
        close_view(d);
        DestroyWindow(a.parent);
        expect_nothing_left({b.browser, c.browser, d.browser});
    });
}

TEST_F(ViewTest, HostWindowDestroyedBeforeTheViewIsRemoved) {
    with_time_limit([&] {
        Session s;
        OpenView v = open_view(s);
        DestroyWindow(v.parent); // takes the editor's window with it
        EXPECT_TRUE(pump_until([&] {
            return !IsWindow(v.ui_window) && browser_log(v.browser).back() == "Close";
        })) << "the editor's thread ends on its own";
        EXPECT_EQ(size_of(v.view), kDesignSize) << "no window left to measure";
        ViewRect size{0, 0, 900, 500};
        EXPECT_EQ(v.view->vtbl->onSize(v.view, &size), kResultOk);
        s.set(kDriveId, 0.1); // reaches no page, and does not wait for one
        EXPECT_EQ(page_posts(v.browser).size(), 6u);
        EXPECT_EQ(v.view->vtbl->removed(v.view), kResultOk);
        expect_nothing_left({v.browser});

        v.parent = make_parent_window();
        ASSERT_EQ(v.view->vtbl->attached(v.view, v.parent, kPlatformTypeHWND), kResultOk);
        EXPECT_EQ(page_posts(stand_in().last_browser()).front(), report(0, 10));
        close_view(v);
        expect_nothing_left();
    });
}

TEST_F(ViewTest, ControllerReleaseClosesTheViewsTheHostStillHolds) {
    with_time_limit([&] {
        OpenView once, twice;
        {
            Session s;
            once = open_view(s);
            twice = open_view(s);
            add_ref(twice.view);
        } // the controller goes first
        // Both editors are closed; the host's references stay valid and are its own.
        EXPECT_FALSE(IsWindow(once.ui_window));
        EXPECT_FALSE(IsWindow(twice.ui_window));
        ViewRect size{0, 0, 640, 320};
        EXPECT_EQ(twice.view->vtbl->onSize(twice.view, &size), kResultFalse) << "detached";
        EXPECT_EQ(twice.view->vtbl->attached(twice.view, twice.parent, kPlatformTypeHWND),
                  kResultFalse)
            << "no controller left to show";
        EXPECT_EQ(twice.view->vtbl->removed(twice.view), kResultOk);
        EXPECT_EQ(release(once.view), 0u);
        EXPECT_EQ(release(twice.view), 1u);
        EXPECT_EQ(release(twice.view), 0u);
        DestroyWindow(once.parent);
        DestroyWindow(twice.parent);
        expect_nothing_left({once.browser, twice.browser});
    });
}
