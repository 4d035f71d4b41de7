// The editor's life: start-up through the browser, the windows it makes and where
// they go, every failure exit, two editors at once, a parent window that goes first,
// and the navigation policy.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/ui/editor_harness.h"
#include "tests/ui/panel_probe.h"

namespace {

// What the editor asks of a current runtime, in order, up to the visible browser.
// The bounds are set before the page loads and follow the window's size afterwards
// (how often depends on the window system), so they are checked on their own.
std::vector<std::string> expected_start(const std::string& page_folder) {
    return {"CreateCoreWebView2EnvironmentWithOptions",
            "options arguments=--allow-file-access-from-files language=(null) "
            "version=131.0.2903.40 sso=0",
            "CreateCoreWebView2Controller",
            "environment completed -> 0x00000000",
            "get_Settings",
            "put_AreDefaultContextMenusEnabled 0",
            "put_AreDevToolsEnabled 0",
            "put_IsStatusBarEnabled 0",
            "put_IsZoomControlEnabled 0",
            "put_AreDefaultScriptDialogsEnabled 0",
            "put_AreBrowserAcceleratorKeysEnabled 0",
            "put_IsPasswordAutosaveEnabled 0",
            "put_IsGeneralAutofillEnabled 0",
            "put_IsPinchZoomEnabled 0",
            "put_IsSwipeNavigationEnabled 0",
            "put_AllowExternalDrop 0",
            "put_IsScriptEnabled 1",
            "put_AreHostObjectsAllowed 1",
            "put_Bounds",
            "add_WebMessageReceived",
            "add_NavigationStarting",
            "add_NewWindowRequested",
            "Navigate " + page_folder + "\\index.html",
            "controller completed -> 0x00000000",
            "put_IsVisible 1"};
}

// The log without the user-data folder line (its name is unique), focus moves and
// the bounds after the first.
std::vector<std::string> start_log(int browser) {
    std::vector<std::string> lines;
    bool bounds_seen = false;
    for (auto& line : browser_log(browser)) {
        if (line.rfind("user data folder ", 0) == 0 || line == "MoveFocus 0") continue;
        if (line.rfind("put_Bounds", 0) == 0) {
            if (bounds_seen) continue;
            bounds_seen = true;
            lines.push_back("put_Bounds");
            continue;
        }
        lines.push_back(line);
    }
    return lines;
}

std::string last_bounds(int browser) {
    auto log = browser_log(browser);
    auto it = std::find_if(log.rbegin(), log.rend(),
                           [](auto& l) { return l.rfind("put_Bounds ", 0) == 0; });
    return it == log.rend() ? "" : it->substr(11);
}

} // namespace

TEST_F(EditorTest, OpensEmbeddedInTheHostWindowAndClosesWithoutTrace) {
    with_time_limit([&] {
        Host host = make_host();
        HWND parent = make_host_window();
        host.ed = editor_create(true, parent, host.callbacks(), nullptr, 800, 400, 6);
        ASSERT_NE(host.ed, nullptr);
        HWND window = window_of(host.ed);
        int browser = standin_browser_of(window);
        ASSERT_GT(browser, 0) << "the browser's parent is the editor's window";

        EXPECT_EQ(GetAncestor(window, GA_PARENT), parent);
        EXPECT_EQ(GetWindowLongPtrA(window, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU),
                  0)
            << "embedded: no frame, no caption";
        EXPECT_TRUE(pump_until([&] { return IsWindowVisible(parent) && IsWindowVisible(window); }))
            << "shown once the browser is ready";
        RECT client;
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, 800);
        EXPECT_EQ(client.bottom, 400);
        EXPECT_EQ(start_log(browser), expected_start(host.page_folder));
        EXPECT_EQ(last_bounds(browser), "0 0 800 400");

        // The temporary file only reserved the folder's name; the folder is the browser's.
        std::wstring folder = user_data_folder_of(browser);
        EXPECT_TRUE(std::filesystem::is_directory(folder));
        EXPECT_FALSE(std::filesystem::exists(folder + L".tmp"));
        EXPECT_TRUE(class_registered(ui_class_of(browser)));

        // The host's six values, as the VST3 view sends them right after creation.
        const float values[6] = {50, 12.5f, 75, 100, 200, 1};
        for (int i = 0; i < 6; ++i) EXPECT_EQ(editor_set_parameter(host.ed, i, values[i]), 0);
        std::vector<std::string> expected;
        for (int i = 0; i < 6; ++i) expected.push_back(report(i, values[i]));
        EXPECT_EQ(page_posts(browser), expected);
        EXPECT_EQ(expected[0], "s 00000000 42480000");
        EXPECT_EQ(expected[5], "s 00000005 3f800000");

        editor_idle(host.ed);
        editor_destroy(host.ed);
        EXPECT_EQ(browser_log(browser).back(), "Close");
        expect_nothing_left(browser);
        DestroyWindow(parent);
    });
}

TEST_F(EditorTest, OpensAsAWindowOfItsOwnWithoutParent) {
    with_time_limit([&] {
        Host host = make_host();
        host.ed = editor_create(false, nullptr, host.callbacks(), nullptr, 800, 400, 6);
        ASSERT_NE(host.ed, nullptr);
        HWND window = window_of(host.ed);
        int browser = standin_browser_of(window);
        EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow());
        EXPECT_EQ(GetWindowLongPtrA(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
        RECT client;
        GetClientRect(window, &client);
        char bounds[64];
        snprintf(bounds, sizeof bounds, "0 0 %ld %ld", client.right, client.bottom);
        EXPECT_EQ(start_log(browser), expected_start(host.page_folder));
        EXPECT_EQ(last_bounds(browser), bounds) << "the browser fills the client area";
        editor_destroy(host.ed);
        expect_nothing_left(browser);
    });
}

TEST_F(EditorTest, StartsOnAnOlderRuntimeAndWhenOptionalSettingsAreRefused) {
    with_time_limit([&] {
        for (const char* name :
             {"ICoreWebView2Settings3", "ICoreWebView2Settings4", "ICoreWebView2Settings5",
              "ICoreWebView2Settings6", "ICoreWebView2Controller4"})
            standin_hide(name);
        standin_fail("put_AreDevToolsEnabled", E_FAIL);
        standin_fail("put_IsStatusBarEnabled", E_ACCESSDENIED);
        Host host = make_host();
        HWND parent = make_host_window();
        host.ed = editor_create(true, parent, host.callbacks(), nullptr, 800, 400, 6);
        ASSERT_NE(host.ed, nullptr);
        int browser = standin_browser_of(window_of(host.ed));
        auto log = browser_log(browser);
        for (const char* absent : {"put_AreBrowserAcceleratorKeysEnabled 0",
                                   "put_IsPasswordAutosaveEnabled 0", "put_IsPinchZoomEnabled 0",
                                   "put_IsSwipeNavigationEnabled 0", "put_AllowExternalDrop 0"})
            EXPECT_EQ(std::count(log.begin(), log.end(), absent), 0) << absent;
        EXPECT_EQ(std::count(log.begin(), log.end(), "put_IsVisible 1"), 1);
        editor_destroy(host.ed);
        expect_nothing_left(browser);
        DestroyWindow(parent);
    });
}

// ---- Failure exits -------------------------------------------------------------------

struct FailingStep {
    const char* step;
    HRESULT result;
};

class EditorFailureTest : public EditorTest, public ::testing::WithParamInterface<FailingStep> {};

// A browser that cannot start, at any step: the editor still opens, with the panel
// that names the missing runtime in its window inside the host's; the host's values
// are taken without a page, and closing leaves nothing behind.
TEST_P(EditorFailureTest, ShowsThePanelInsteadAndLeavesNothingBehind) {
    with_time_limit([&] {
        standin_fail(GetParam().step, GetParam().result);
        Host host = make_host();
        HWND parent = make_host_window();
        host.ed = editor_create(true, parent, host.callbacks(), nullptr, 800, 400, 6);
        ASSERT_NE(host.ed, nullptr);
        int browser = standin_last_browser();
        ASSERT_EQ(browser, 1) << "the browser was asked for exactly once";
        HWND window = window_of(host.ed);
        EXPECT_EQ(GetAncestor(window, GA_PARENT), parent);
        const PanelProbe panel = find_panel(window);
        ASSERT_TRUE(panel);
        EXPECT_NE(panel.message().find(kPanelSentence), std::wstring::npos);
        EXPECT_TRUE(pump_until([&] { return IsWindowVisible(panel.window); }));
        EXPECT_EQ(editor_set_parameter(host.ed, 0, 50), 0);
        EXPECT_TRUE(page_posts(browser).empty()) << "no page to post to";
        auto log = browser_log(browser);
        const bool made_visible = GetParam().step == std::string("put_IsVisible");
        EXPECT_EQ(std::count(log.begin(), log.end(), "put_IsVisible 1"), made_visible);
        EXPECT_EQ(std::count(log.begin(), log.end(), "Close"), made_visible)
            << "a browser that was made is closed before the panel shows";

        editor_destroy(host.ed);
        expect_nothing_left(browser);
        EXPECT_FALSE(panel.class_registered());
        EXPECT_TRUE(host.edits.empty());
        // The host window is untouched: nothing of the editor stays inside it.
        EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
        DestroyWindow(parent);
    });
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, EditorFailureTest,
    ::testing::Values(
        FailingStep{"CreateCoreWebView2EnvironmentWithOptions", E_FAIL},
        FailingStep{"environment", E_FAIL}, FailingStep{"CreateCoreWebView2Controller", E_FAIL},
        FailingStep{"controller", E_ACCESSDENIED}, FailingStep{"get_CoreWebView2", E_FAIL},
        FailingStep{"get_Settings", E_FAIL}, FailingStep{"put_IsScriptEnabled", E_FAIL},
        FailingStep{"put_IsScriptEnabled", S_FALSE},
        FailingStep{"put_AreHostObjectsAllowed", E_FAIL}, FailingStep{"put_Bounds", E_FAIL},
        FailingStep{"add_WebMessageReceived", E_FAIL},
        FailingStep{"add_NavigationStarting", E_FAIL},
        FailingStep{"add_NewWindowRequested", E_FAIL}, FailingStep{"Navigate", E_FAIL},
        FailingStep{"put_IsVisible", E_FAIL}),
    [](const auto& info) {
        return std::string(info.param.step) + (info.param.result == S_FALSE ? "_SFALSE" : "");
    });

// (Without a usable loader beside the module the editor looks for the installed runtime:
// tests/vst3/test_view_runtime.cpp, which holds the registry's lock, covers that.)
TEST_F(EditorTest, RefusesUnreadablePageFolderOrMissingParent) {
    with_time_limit([&] {
        struct Case {
            const char* what;
            std::string module_folder, page_folder;
            bool embedded;
        };
        HWND parent = make_host_window();
        const std::vector<Case> cases = {
            {"page folder not UTF-8", exe_folder(), "C:\\pages\\\xff\xfe", true},
            {"embedded without a parent window", exe_folder(), page_folder_, true},
        };
        for (const Case& c : cases) {
            Host host = make_host();
            host.module_folder = c.module_folder;
            host.page_folder = c.page_folder;
            bool no_parent = c.what == cases.back().what;
            EXPECT_EQ(editor_create(c.embedded, no_parent ? nullptr : parent, host.callbacks(),
                                    nullptr, 800, 400, 6),
                      nullptr)
                << c.what;
            EXPECT_EQ(standin_last_browser(), 0) << c.what << ": no browser asked for";
            expect_nothing_left(0);
        }
        DestroyWindow(parent);
    });
}

// ---- Two editors, outside destruction --------------------------------------------------

TEST_F(EditorTest, TwoEditorsAtOnceKeepTheirOwnClassesFoldersAndMessages) {
    with_time_limit([&] {
        Host first = make_host(), second = make_host();
        HWND parent1 = make_host_window(), parent2 = make_host_window();
        first.ed = editor_create(true, parent1, first.callbacks(), nullptr, 800, 400, 6);
        second.ed = editor_create(true, parent2, second.callbacks(), nullptr, 800, 400, 6);
        ASSERT_NE(first.ed, nullptr);
        ASSERT_NE(second.ed, nullptr);
        int b1 = standin_browser_of(window_of(first.ed)),
            b2 = standin_browser_of(window_of(second.ed));
        ASSERT_NE(b1, b2);
        EXPECT_NE(ui_class_of(b1), ui_class_of(b2));
        EXPECT_NE(user_data_folder_of(b1), user_data_folder_of(b2));

        editor_set_parameter(first.ed, 0, 10);
        editor_set_parameter(second.ed, 0, 20);
        deliver(b2, L"s 1 42c80000");
        EXPECT_EQ(page_posts(b1), std::vector<std::string>{report(0, 10)});
        EXPECT_EQ(page_posts(b2), std::vector<std::string>{report(0, 20)});
        EXPECT_TRUE(first.edits.empty());
        ASSERT_EQ(second.edits.size(), 1u);
        EXPECT_EQ(second.edits[0].value, 100.0f);

        editor_destroy(first.ed);
        EXPECT_TRUE(std::filesystem::exists(user_data_folder_of(b2)))
            << "the other editor keeps its folder";
        editor_set_parameter(second.ed, 2, 30);
        EXPECT_EQ(page_posts(b2).back(), report(2, 30));
        editor_destroy(second.ed);
        expect_nothing_left(b1);
        expect_nothing_left(b2);
        DestroyWindow(parent1);
        DestroyWindow(parent2);
    });
}

TEST_F(EditorTest, HostWindowDestroyedFirst) {
    with_time_limit([&] {
        Host host = make_host();
        HWND parent = make_host_window();
        host.ed = editor_create(true, parent, host.callbacks(), nullptr, 800, 400, 6);
        ASSERT_NE(host.ed, nullptr);
        HWND window = window_of(host.ed);
        int browser = standin_browser_of(window);

        DestroyWindow(parent); // takes the editor's window (and the relay window) with it
        EXPECT_TRUE(pump_until([&] {
            return browser_log(browser).back() == "Close" && !IsWindow(window);
        })) << "the UI thread tears down on its own";
        EXPECT_EQ(editor_set_parameter(host.ed, 0, 1),
                  0); // no window to post to: no effect, no wait
        EXPECT_EQ(page_posts(browser).size(), 0u);
        editor_destroy(host.ed); // returns at once and still frees the creating thread's part
        expect_nothing_left(browser);
    });
}

TEST_F(EditorTest, StandAloneWindowClosedByTheUser) {
    with_time_limit([&] {
        Host host = make_host();
        host.ed = editor_create(false, nullptr, host.callbacks(), nullptr, 800, 400, 6);
        ASSERT_NE(host.ed, nullptr);
        int browser = standin_browser_of(window_of(host.ed));
        PostMessageA(window_of(host.ed), WM_CLOSE, 0, 0);
        EXPECT_TRUE(pump_until([&] { return browser_log(browser).back() == "Close"; }));
        editor_destroy(host.ed);
        expect_nothing_left(browser);
    });
}

// ---- Focus and navigation ------------------------------------------------------------------

TEST_F(EditorTest, FocusAndNavigationPolicy) {
    with_time_limit([&] {
        Host host = make_host();
        HWND parent = make_host_window();
        host.ed = editor_create(true, parent, host.callbacks(), nullptr, 800, 400, 6);
        ASSERT_NE(host.ed, nullptr);
        int browser = standin_browser_of(window_of(host.ed));
        auto last = [&] { return browser_log(browser).back(); };

        SendMessageA(window_of(host.ed), WM_SETFOCUS, 0, 0);
        EXPECT_EQ(last(), "MoveFocus 0");

        // file: addresses load inside the editor, whichever case the rest has.
        navigate(browser, L"file:///C:/pages/other.html", false);
        EXPECT_EQ(last(), "NavigationStarting -> 0x00000000");
        navigate(browser, L"file:///C:/pages/help.html", true);
        EXPECT_EQ(last(), "NewWindowRequested -> 0x00000000") << "left to the runtime";

        // Everything else is stopped; an address that could break out of the command
        // line's quotes is not handed to the system either (see the command-line test).
        for (const wchar_t* uri :
             {L"https://example.invalid/\" & calc", L"https://example.invalid/\x01"}) {
            navigate(browser, uri, false);
            auto log = browser_log(browser);
            EXPECT_EQ(log[log.size() - 2], "put_Cancel 1");
            navigate(browser, uri, true);
            log = browser_log(browser);
            EXPECT_EQ(log[log.size() - 2], "put_Handled 1");
        }
        editor_destroy(host.ed);
        expect_nothing_left(browser);
        DestroyWindow(parent);
    });
}

// Both folders reach the editor as UTF-8: names beyond ASCII still find the loader
// and the page. The loader here is a copy of the stand-in in such a folder; the test
// loads that same copy to read its log.
TEST_F(EditorTest, FindsLoaderAndPageInFoldersNamedBeyondAscii) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::path(temp_folder_).parent_path() /
        (L"ember-ui-\u00e9t\u00e9-\u0416-" + std::to_wstring(GetCurrentProcessId()));
    fs::create_directories(folder);
    fs::copy_file(fs::path(exe_folder()) / "WebView2Loader.dll", folder / "WebView2Loader.dll",
                  fs::copy_options::overwrite_existing);
    std::ofstream(folder / "index.html") << "<!doctype html><title>page</title>\n";
    auto utf8 = [](const std::wstring& text) {
        std::string out(
            size_t(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)),
            '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), int(out.size()), nullptr,
                            nullptr);
        out.pop_back();
        return out;
    };

    HMODULE copy = LoadLibraryW((folder / "WebView2Loader.dll").c_str());
    ASSERT_NE(copy, nullptr);
    auto browser_of = reinterpret_cast<int (*)(HWND)>(
        reinterpret_cast<void*>(GetProcAddress(copy, "standin_browser_of")));
    auto log_of = reinterpret_cast<int (*)(int, char*, int)>(
        reinterpret_cast<void*>(GetProcAddress(copy, "standin_log")));
    ASSERT_TRUE(browser_of && log_of);

    with_time_limit([&] {
        Host host = make_host();
        host.module_folder = host.page_folder = utf8(folder.wstring());
        host.ed = editor_create(false, nullptr, host.callbacks(), nullptr, 800, 400, 6);
        ASSERT_NE(host.ed, nullptr);
        std::string log(1 << 16, '\0');
        log.resize(size_t(log_of(browser_of(window_of(host.ed)), log.data(), int(log.size()))));
        EXPECT_NE(log.find("Navigate " + host.page_folder + "\\index.html"), std::string::npos)
            << log;
        editor_destroy(host.ed);
    });
    FreeLibrary(copy);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
