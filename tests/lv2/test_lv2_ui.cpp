// The LV2 UI as a Windows host drives it: the bundle's DLL loaded with LoadLibraryW,
// lv2ui_descriptor, a parent window of the host's own (or none), write and touch
// functions that record what arrives, and the stand-in browser playing the page.
// The test host runs from its copy of the bundle, which also holds the stand-in.
// Every scenario runs under a time limit, so a deadlock fails instead of hanging.
#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include <lv2/ui/ui.h>

#include "tests/lv2/lv2_host.h"
#include "tests/ui/editor_harness.h"
#include "tests/ui/fake_runtime.h"
#include "tests/ui/panel_probe.h"

namespace {

constexpr const char* kUiUri = "https://fernwood.audio/plugins/emberpess#ui";
constexpr const char* kMissingMap = "Missing feature <" LV2_URID__map ">\n";

std::string bundle() {
    return exe_folder();
}

// The same bundle without WebView2Loader.dll, beside the test host's copy.
std::string bundle_without_loader() {
    std::string folder = exe_folder();
    return folder.substr(0, folder.find_last_of('\\')) + "\\no-loader.lv2";
}

HMODULE load_binary(const std::string& folder) {
    std::string path = folder + "\\fernwood-emberpress.dll";
    return LoadLibraryW(std::wstring(path.begin(), path.end()).c_str()); // ASCII build paths
}

// The module stays loaded, as a host keeps it while its UIs may open.
const LV2UI_Descriptor* ui_descriptor(const std::string& folder = bundle(), uint32_t index = 0) {
    auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(
        reinterpret_cast<void*>(GetProcAddress(load_binary(folder), "lv2ui_descriptor")));
    return entry ? entry(index) : nullptr;
}

std::wstring page_edit(char kind, uint32_t index, float value) {
    wchar_t text[32];
    swprintf(text, 32, L"%c %x %08x", kind, index, std::bit_cast<uint32_t>(value));
    return text;
}

std::string format(const char* fmt, uint32_t port, double value) {
    char text[64];
    snprintf(text, sizeof text, fmt, port, value);
    return text;
}

// One host's side of a UI, on the thread that opens it (the host's UI thread). It
// records every write and touch as "write PORT VALUE" and "touch PORT 1|0".
struct UiHost {
    const LV2UI_Descriptor* desc = ui_descriptor();
    DWORD thread = GetCurrentThreadId();
    HostFeatures lv2; // URID map and a log that keeps the messages
    HWND parent = make_host_window();
    LV2UI_Touch touch{this, record_touch};
    std::vector<LV2_Feature> offered = {{LV2_URID__map, lv2.urids.map_feature_data()},
                                        {LV2_LOG__log, lv2.log.feature_data()},
                                        {LV2_UI__parent, parent},
                                        {LV2_UI__touch, &touch}};
    std::vector<std::string> calls;
    std::function<void(UiHost&, uint32_t port, float value)> on_write; // inside the write
    LV2UI_Write_Function write = record_write;
    LV2UI_Handle ui = nullptr;
    LV2UI_Widget widget = nullptr;
    int browser = 0;

    ~UiHost() { DestroyWindow(parent); }

    void withhold(const char* uri) {
        std::erase_if(offered, [&](const LV2_Feature& f) { return !strcmp(f.URI, uri); });
    }

    // Without a feature list, instantiate gets a null pointer instead.
    bool open(const char* bundle_path, bool feature_list = true) {
        std::vector<const LV2_Feature*> list;
        for (const LV2_Feature& f : offered) list.push_back(&f);
        list.push_back(nullptr);
        widget = reinterpret_cast<LV2UI_Widget>(0x5eed); // instantiate must overwrite it
        ui = desc->instantiate(desc, kPluginUri, bundle_path, write, this, &widget,
                               feature_list ? list.data() : nullptr);
        browser = ui ? standin_browser_of(static_cast<HWND>(widget)) : 0;
        return ui != nullptr;
    }
    bool open(bool feature_list = true) { // hosts pass the path with a trailing separator
        return open((bundle() + "\\").c_str(), feature_list);
    }

    void port_event(uint32_t port, float value) { desc->port_event(ui, port, 4, 0, &value); }
    void close() { desc->cleanup(ui); }

    static void record_write(LV2UI_Controller controller, uint32_t port, uint32_t size,
                             uint32_t protocol, const void* buffer) {
        auto& host = *static_cast<UiHost*>(controller);
        float value;
        memcpy(&value, buffer, sizeof value);
        host.calls.push_back(size == 4 && protocol == 0 ? format("write %u %g", port, value)
                                                        : "write of another kind");
        if (GetCurrentThreadId() != host.thread) host.calls.push_back("not on the UI thread");
        if (host.on_write) host.on_write(host, port, value);
    }
    static void record_touch(LV2UI_Feature_Handle handle, uint32_t port, bool grabbed) {
        auto& host = *static_cast<UiHost*>(handle);
        host.calls.push_back(format("touch %u %g", port, grabbed));
        if (GetCurrentThreadId() != host.thread) host.calls.push_back("not on the UI thread");
    }
};

using Lines = std::vector<std::string>;

class Lv2UiTest : public EditorTest {};

} // namespace

TEST(Lv2UiDescriptor, OneUiUnderItsPublishedUriInThePluginsBinary) {
    const LV2UI_Descriptor* d = ui_descriptor();
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->URI, kUiUri);
    EXPECT_EQ(ui_descriptor(bundle(), 1), nullptr);
    EXPECT_EQ(ui_descriptor(bundle(), 0xffffffffu), nullptr);
    EXPECT_NE(d->extension_data(LV2_UI__idleInterface), nullptr);
    EXPECT_EQ(d->extension_data(LV2_UI__showInterface), nullptr);
    EXPECT_EQ(d->extension_data(LV2_UI__resize), nullptr);

    auto plugin = reinterpret_cast<LV2_Descriptor_Function>(
        reinterpret_cast<void*>(GetProcAddress(load_binary(bundle()), "lv2_descriptor")));
    ASSERT_NE(plugin, nullptr);
    EXPECT_STREQ(plugin(0)->URI, kPluginUri);
}

TEST_F(Lv2UiTest, OpensInTheHostsWindowWithThePageOfItsBundle) {
    with_time_limit([&] {
        UiHost host;
        ASSERT_TRUE(host.open());
        HWND window = static_cast<HWND>(host.widget);
        ASSERT_GT(host.browser, 0) << "the widget is the editor's window";
        EXPECT_EQ(GetAncestor(window, GA_PARENT), host.parent);
        RECT client;
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, 800);
        EXPECT_EQ(client.bottom, 400);
        const Lines log = browser_log(host.browser);
        EXPECT_NE(std::find(log.begin(), log.end(), "Navigate " + bundle() + "\\index.html"),
                  log.end());
        EXPECT_TRUE(page_posts(host.browser).empty()) << "first values come from the host";
        EXPECT_TRUE(host.lv2.log.entries().empty());

        auto idle = static_cast<const LV2UI_Idle_Interface*>(
            host.desc->extension_data(LV2_UI__idleInterface));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(idle->idle(host.ui), 0);

        host.close();
        EXPECT_EQ(GetWindow(host.parent, GW_CHILD), nullptr);
        expect_nothing_left(host.browser);
    });
}

TEST_F(Lv2UiTest, PageGesturesBecomePortWritesInsideTouch) {
    with_time_limit([&] {
        UiHost host;
        ASSERT_TRUE(host.open());
        for (auto [kind, value] : {std::pair{'b', 10.0f}, {'s', 20.0f}, {'e', 30.0f}})
            deliver(host.browser, page_edit(kind, 0, value));
        EXPECT_EQ(host.calls,
                  (Lines{"touch 2 1", "write 2 10", "write 2 20", "write 2 30", "touch 2 0"}));

        // Bypass goes to the enable port inverted; values are clamped to the port's
        // range; what the page may not send never reaches the host.
        const std::pair<std::wstring, Lines> cases[] = {
            {page_edit('s', 5, 1), {"write 7 0"}},
            {page_edit('s', 5, 0), {"write 7 1"}},
            {page_edit('s', 5, 0.5f), {"write 7 0"}},
            {page_edit('s', 4, 250), {"write 6 200"}},
            {page_edit('s', 0, -3), {"write 2 0"}},
            {page_edit('s', 6, 50), {}},
            {page_edit('s', 1, std::numeric_limits<float>::quiet_NaN()), {}},
            {page_edit('s', 1, std::numeric_limits<float>::infinity()), {}},
        };
        for (const auto& [message, expected] : cases) {
            host.calls.clear();
            deliver(host.browser, message);
            EXPECT_EQ(host.calls, expected) << std::string(message.begin(), message.end());
        }
        host.close();
        expect_nothing_left(host.browser);
    });
}

TEST_F(Lv2UiTest, StandAloneWithoutTouchOrUridMap) {
    with_time_limit([&] {
        UiHost host;
        host.withhold(LV2_UI__parent);
        host.withhold(LV2_UI__touch);
        host.withhold(LV2_URID__map);
        ASSERT_TRUE(host.open());
        const auto log = host.lv2.log.entries();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].text, kMissingMap);
        HWND window = static_cast<HWND>(host.widget);
        EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow());
        EXPECT_EQ(GetWindowLongPtrA(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);

        for (auto [kind, value] : {std::pair{'b', 10.0f}, {'s', 20.0f}, {'e', 30.0f}})
            deliver(host.browser, page_edit(kind, 0, value));
        EXPECT_EQ(host.calls, (Lines{"write 2 10", "write 2 20", "write 2 30"}));
        host.close();
        expect_nothing_left(host.browser);

        // No feature list at all: the message goes to standard error.
        UiHost bare;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(bare.open(false));
        fflush(stderr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), kMissingMap);
        EXPECT_EQ(GetAncestor(static_cast<HWND>(bare.widget), GA_PARENT), GetDesktopWindow());
        bare.close();
        expect_nothing_left(bare.browser);
    });
}

TEST_F(Lv2UiTest, PortEventsReachThePageConvertedAndClamped) {
    with_time_limit([&] {
        UiHost host;
        ASSERT_TRUE(host.open());
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        struct Case {
            uint32_t port;
            float value;
            std::string report; // empty: ignored
        };
        const Case cases[] = {
            {2, 10, report(0, 10)},
            {3, 100, report(1, 100)},
            {4, 150, report(2, 100)},
            {5, -1, report(3, 0)},
            {6, 250, report(4, 200)},
            {6, -5, report(4, 0)},
            {6, 80, report(4, 80)},
            {7, 0, report(5, 1)},
            {7, 1, report(5, 0)},
            {7, -2, report(5, 1)},
            {7, 0.5f, report(5, 0)},
            {0, 5, ""},
            {1, 5, ""},
            {8, 5, ""},
            {7, nan, ""},
            {2, inf, ""},
            {6, -inf, ""},
        };
        for (const Case& c : cases) {
            const size_t before = page_posts(host.browser).size();
            host.port_event(c.port, c.value);
            const Lines posts = page_posts(host.browser);
            if (c.report.empty()) {
                EXPECT_EQ(posts.size(), before) << "port " << c.port << " value " << c.value;
            } else {
                ASSERT_EQ(posts.size(), before + 1) << "port " << c.port;
                EXPECT_EQ(posts.back(), c.report);
            }
        }
        // Events that hold no plain float are ignored: no buffer, a short buffer, a
        // format other than 0.
        const float value = 42;
        const size_t before = page_posts(host.browser).size();
        host.desc->port_event(host.ui, 2, 4, 0, nullptr);
        host.desc->port_event(host.ui, 2, 2, 0, &value);
        host.desc->port_event(host.ui, 2, 4, 1, &value);
        EXPECT_EQ(page_posts(host.browser).size(), before);

        // What the page asks for afterwards: the last accepted values only.
        deliver(host.browser, L"g");
        const Lines posts = page_posts(host.browser);
        EXPECT_EQ(Lines(posts.end() - 6, posts.end()),
                  (Lines{report(0, 10), report(1, 100), report(2, 100), report(3, 0), report(4, 80),
                         report(5, 0)}));
        EXPECT_TRUE(host.calls.empty()) << "host values are never written back";
        host.close();
        expect_nothing_left(host.browser);
    });
}

TEST_F(Lv2UiTest, HostEchoingFromInsideItsWriteFunctionReachesThePage) {
    with_time_limit([&] {
        UiHost host;
        // Like a host that reports every control change to the UI at once, and moves
        // volume with it.
        host.on_write = [](UiHost& h, uint32_t port, float value) {
            h.port_event(port, value);
            h.port_event(6, 123);
        };
        ASSERT_TRUE(host.open());
        deliver(host.browser, page_edit('b', 0, 10));
        deliver(host.browser, page_edit('e', 5, 1));
        EXPECT_EQ(host.calls, (Lines{"touch 2 1", "write 2 10", "write 7 0", "touch 7 0"}));
        EXPECT_EQ(page_posts(host.browser),
                  (Lines{report(0, 10), report(4, 123), report(5, 1), report(4, 123)}));
        host.close();
        expect_nothing_left(host.browser);
    });
}

TEST_F(Lv2UiTest, PortEventsRacingPageGesturesAllArrive) {
    with_time_limit([&] {
        UiHost host;
        ASSERT_TRUE(host.open());
        for (int round = 0; round < 20; ++round) {
            const int before = standin_events_done(host.browser);
            ASSERT_EQ(standin_page_message(host.browser, page_edit('s', 3, 50).c_str(), 0), 0);
            if (round % 2) Sleep(1);
            host.port_event(3, static_cast<float>(round));
            EXPECT_EQ(page_posts(host.browser).back(), report(1, static_cast<float>(round)));
            ASSERT_TRUE(pump_until([&] { return standin_events_done(host.browser) > before; }));
        }
        EXPECT_EQ(host.calls, Lines(20, "write 5 50"));
        host.close();
        expect_nothing_left(host.browser);
    });
}

TEST_F(Lv2UiTest, CleanupWhileEditsAreInFlight) {
    with_time_limit([&] {
        for (int round = 0; round < 6; ++round) {
            standin_reset();
            UiHost host;
            ASSERT_TRUE(host.open());
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(standin_page_message(host.browser, page_edit('s', 4, 50).c_str(), 0), 0);
            if (round % 2) Sleep(2); // let the UI thread get into its relay first
            host.close();            // the edits may be dropped; cleanup completes
            EXPECT_LE(host.calls.size(), 3u);
            for (const auto& call : host.calls) EXPECT_EQ(call, "write 6 50");
            expect_nothing_left(host.browser);
        }
    });
}

TEST_F(Lv2UiTest, HostWindowDestroyedBeforeCleanup) {
    with_time_limit([&] {
        UiHost host;
        ASSERT_TRUE(host.open());
        HWND window = static_cast<HWND>(host.widget);
        DestroyWindow(host.parent); // takes the editor's window with it
        EXPECT_TRUE(pump_until(
            [&] { return browser_log(host.browser).back() == "Close" && !IsWindow(window); }));
        host.port_event(2, 10); // nowhere to go, and no wait
        EXPECT_TRUE(page_posts(host.browser).empty());
        auto idle = static_cast<const LV2UI_Idle_Interface*>(
            host.desc->extension_data(LV2_UI__idleInterface));
        EXPECT_EQ(idle->idle(host.ui), 0);
        host.close();
        expect_nothing_left(host.browser);
    });
}

// Without a browser (none installed, or one that fails to start) the UI still opens:
// the panel naming the runtime shows in the host's window, the host's port values
// are taken, and cleanup leaves nothing. Without a bundle path there is no UI.
TEST_F(Lv2UiTest, AUiWithoutABrowserShowsThePanelAndLeavesNothingBehind) {
    const std::string folder = exe_folder();
    FakeRuntimes registry(L"", std::wstring(folder.begin(), folder.end())); // ASCII build path
    if (registry.foreign_runtime()) GTEST_SKIP() << "a browser runtime is registered here";
    with_time_limit([&] {
        struct Case {
            const char* what;
            std::string bundle;
            const char* failing_step;
            HRESULT result;
        };
        const Case cases[] = {
            {"no WebView2Loader.dll in the bundle, no runtime", bundle_without_loader(), nullptr,
             S_OK},
            {"the environment refused at once", bundle(),
             "CreateCoreWebView2EnvironmentWithOptions", E_FAIL},
            {"no browser runtime", bundle(), "environment",
             HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        };
        for (const Case& c : cases) {
            standin_reset();
            if (c.failing_step) standin_fail(c.failing_step, c.result);
            UiHost host;
            host.desc = ui_descriptor(c.bundle);
            ASSERT_TRUE(host.open(c.bundle.c_str())) << c.what;
            HWND widget = static_cast<HWND>(host.widget);
            EXPECT_EQ(GetAncestor(widget, GA_PARENT), host.parent) << c.what;
            const PanelProbe panel = find_panel(widget);
            EXPECT_TRUE(panel) << c.what;
            host.port_event(2, 10); // no page to show it, and no wait
            EXPECT_TRUE(page_posts(1).empty()) << c.what;
            host.close();
            EXPECT_EQ(GetWindow(host.parent, GW_CHILD), nullptr) << c.what;
            EXPECT_FALSE(panel.class_registered()) << c.what;
            EXPECT_TRUE(host.lv2.log.entries().empty()) << c.what << ": nothing logged";
            const int browser = standin_last_browser();
            EXPECT_EQ(browser, c.failing_step ? 1 : 0) << c.what;
            expect_nothing_left(browser);
        }

        standin_reset();
        UiHost host;
        EXPECT_FALSE(host.open(nullptr)) << "no bundle path";
        EXPECT_EQ(host.widget, nullptr);
        EXPECT_EQ(GetWindow(host.parent, GW_CHILD), nullptr);
        EXPECT_EQ(standin_last_browser(), 0);
        expect_nothing_left(0);
    });
}

TEST_F(Lv2UiTest, TwoUisAtOnceEachWithItsOwnHost) {
    with_time_limit([&] {
        UiHost first, second;
        ASSERT_TRUE(first.open());
        ASSERT_TRUE(second.open());
        ASSERT_NE(first.browser, second.browser);
        first.port_event(2, 10);
        second.port_event(2, 20);
        deliver(second.browser, page_edit('s', 1, 70));
        EXPECT_EQ(page_posts(first.browser), Lines{report(0, 10)});
        EXPECT_EQ(page_posts(second.browser), Lines{report(0, 20)});
        EXPECT_TRUE(first.calls.empty());
        EXPECT_EQ(second.calls, Lines{"write 3 70"});

        first.close();
        second.port_event(7, 0);
        EXPECT_EQ(page_posts(second.browser).back(), report(5, 1));
        second.close();
        expect_nothing_left(first.browser);
        expect_nothing_left(second.browser);
    });
}

TEST_F(Lv2UiTest, TheLastTouchFeatureCountsAndWithoutFunctionsNothingIsCalled) {
    with_time_limit([&] {
        Lines first_calls, last_calls;
        auto touched = +[](LV2UI_Feature_Handle handle, uint32_t port, bool grabbed) {
            static_cast<Lines*>(handle)->push_back(format("touch %u %g", port, grabbed));
        };
        LV2UI_Touch first{&first_calls, touched}, last{&last_calls, touched},
            no_function{&last_calls, nullptr};
        struct Case {
            const char* what;
            std::vector<void*> touches; // offered in this order
            bool write_function;
            Lines writes, last_touches;
        };
        const Lines writes = {"write 4 5", "write 4 6"};
        const Case cases[] = {
            {"two touch features", {&first, &last}, true, writes, {"touch 4 1", "touch 4 0"}},
            {"the last one without data", {&first, nullptr}, true, writes, {}},
            {"the last one without its function", {&first, &no_function}, true, writes, {}},
            {"no write function", {&last}, false, {}, {}},
        };
        for (const Case& c : cases) {
            first_calls.clear();
            last_calls.clear();
            UiHost host;
            host.withhold(LV2_UI__touch);
            for (void* t : c.touches) host.offered.push_back({LV2_UI__touch, t});
            if (!c.write_function) host.write = nullptr;
            ASSERT_TRUE(host.open()) << c.what;
            deliver(host.browser, page_edit('b', 2, 5));
            deliver(host.browser, page_edit('e', 2, 6));
            EXPECT_EQ(host.calls, c.writes) << c.what;
            EXPECT_TRUE(first_calls.empty()) << c.what;
            EXPECT_EQ(last_calls, c.last_touches) << c.what;
            host.close();
            expect_nothing_left(host.browser);
        }
    });
}

TEST_F(Lv2UiTest, CleanupFromInsideTheWriteFunction) {
    with_time_limit([&] {
        UiHost host;
        bool cleaned_up = false;
        host.on_write = [&](UiHost& h, uint32_t, float) {
            if (cleaned_up) return;
            cleaned_up = true;
            h.close();
        };
        ASSERT_TRUE(host.open());
        const HWND window = static_cast<HWND>(host.widget);
        deliver(host.browser, page_edit('e', 0, 30));
        EXPECT_EQ(host.calls, Lines{"write 2 30"}) << "no touch after the cleanup";
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(GetWindow(host.parent, GW_CHILD), nullptr);
        expect_nothing_left(host.browser);
    });
}
