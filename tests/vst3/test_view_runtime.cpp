// The plug view through a bundle without the browser's loader library, as a Windows
// user installs it: the editor finds the runtime the registry names (a copy of the
// stand-in client library in a fake runtime folder, registered in the Wine prefix), or
// shows the panel that names the missing runtime. These tests hold the registry's lock.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "tests/ui/fake_runtime.h"
#include "tests/ui/panel_probe.h"
#include "view_host.h"

namespace fs = std::filesystem;

namespace {

std::wstring wide(const std::string& ascii_path) {
    return std::wstring(ascii_path.begin(), ascii_path.end()); // the build's paths are ASCII
}

std::string narrow(const std::wstring& ascii_path) {
    return std::string(ascii_path.begin(), ascii_path.end());
}

std::string class_of(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Presses the panel's button with the stand-in URL handler first in the search path
// for programs (the current folder), and returns the command lines it was started with.
std::string click_and_record_commands(const PanelProbe& panel, const std::wstring& log) {
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetEnvironmentVariableW(L"EMBER_COMMAND_LOG", log.c_str());
    SetCurrentDirectoryW(wide(native_path(EMBER_URL_HANDLER_FOLDER)).c_str());
    SendMessageW(panel.button, BM_CLICK, 0, 0); // the editor's thread waits for the process
    SetCurrentDirectoryW(previous);
    std::ostringstream text;
    text << std::ifstream(fs::path(log)).rdbuf();
    return text.str();
}

class ViewRuntimeTest : public ViewTest {
  protected:
    void SetUp() override {
        ViewTest::SetUp();
        runtimes_.emplace(wide(native_path(EMBER_CLIENT_STAND_IN)), wide(scratch_folder()));
        if (runtimes_->foreign_runtime()) GTEST_SKIP() << "a browser runtime is registered here";
    }
    void TearDown() override {
        use_stand_in(nullptr);
        runtimes_.reset();
        for (LoadedModule& m : modules_) module_unload(m);
        std::error_code ignored;
        fs::remove_all(odd_bundles(), ignored);
        ViewTest::TearDown();
    }

    // The factory of another copy of the module, loaded for this test.
    IPluginFactory3* factory_of(const std::string& module) {
        modules_.push_back(module_load(module));
        auto get_factory = reinterpret_cast<IPluginFactory3* (*)()>(
            module_symbol(modules_.back(), "GetPluginFactory"));
        EXPECT_NE(get_factory, nullptr) << modules_.back().error;
        return get_factory ? get_factory() : nullptr;
    }

    // Installs and registers the stable runtime; its client library's controls answer
    // stand_in() from now on.
    const ClientCopy& install_runtime() {
        runtimes_->register_runtime(kUserView, kStableChannel,
                                    runtimes_->install(L"stable", L"120.0.2210.91"));
        const ClientCopy& client = runtimes_->copy(L"stable");
        use_stand_in(client.module);
        return client;
    }

    // Where a test makes copies of the bundle.
    static fs::path odd_bundles() { return fs::path(scratch_folder()) / "odd-bundles"; }

    std::optional<FakeRuntimes> runtimes_;
    std::vector<LoadedModule> modules_;
};

} // namespace

TEST_F(ViewRuntimeTest, WithoutLoaderThePanelShowsUntilARuntimeIsInstalled) {
    with_time_limit([&] {
        Session s(factory_of(EMBER_VST3_MODULE_WITHOUT_LOADER));
        IPlugView* view = s.create_view();
        ASSERT_NE(view, nullptr);
        HWND parent = make_parent_window();

        // Nothing installed: the panel, inside the host's window.
        ASSERT_EQ(view->vtbl->attached(view, parent, kPlatformTypeHWND), kResultOk);
        HWND window = editor_window_in(parent);
        const std::string ui_class = class_of(window);
        const PanelProbe panel = find_panel(window);
        ASSERT_TRUE(panel);
        EXPECT_TRUE(IsWindowVisible(panel.window));
        EXPECT_NE(panel.message().find(kPanelSentence), std::wstring::npos);
        ViewRect size{0, 0, 1000, 600};
        EXPECT_EQ(view->vtbl->onSize(view, &size), kResultOk);
        RECT area;
        GetClientRect(panel.window, &area);
        EXPECT_EQ(area.right - area.left, 1000) << "the panel follows the host's size";
        EXPECT_EQ(area.bottom - area.top, 600);
        s.set(kDriveId, 0.3); // the host's own controls work on
        EXPECT_EQ(click_and_record_commands(panel, temp_folder_ + L"-commands.txt"),
                  std::string(kDownloadCommand) + "\n")
            << "the download page, through the system's URL handler";
        fs::remove(temp_folder_ + L"-commands.txt");

        EXPECT_EQ(view->vtbl->removed(view), kResultOk);
        EXPECT_FALSE(IsWindow(window));
        EXPECT_FALSE(panel.class_registered());
        expect_classes_gone(ui_class);
        expect_nothing_left();
        EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);

        // The user installs the runtime; the next opening shows the page through it,
        // which talks to the host as through the loader.
        const ClientCopy& client = install_runtime();
        ASSERT_EQ(view->vtbl->attached(view, parent, kPlatformTypeHWND), kResultOk);
        window = editor_window_in(parent);
        const int browser = stand_in().browser_of(window);
        ASSERT_GT(browser, 0) << "the browser's parent is the editor's window";
        EXPECT_FALSE(find_panel(window));
        const std::string calls = client.calls();
        EXPECT_EQ(calls.rfind("check=1 type=0 folder=" + narrow(temp_folder_) + "\\", 0), 0u)
            << "one start of the installed runtime, with a user-data folder of the editor's: "
            << calls;
        EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 1);
        const std::vector<std::string> posts = page_posts(browser);
        ASSERT_EQ(posts.size(), 6u);
        EXPECT_EQ(posts[0], report(0, 30)) << "the page starts with the host's values";
        deliver(browser, L"s 1 42c80000");
        EXPECT_EQ(s.handler.calls, (std::vector<HostCall>{{'p', kToneId, 1.0, true}}));
        deliver(browser, L"g");
        EXPECT_EQ(page_posts(browser).size(), 12u) << "all six values again";

        EXPECT_EQ(view->vtbl->removed(view), kResultOk);
        expect_nothing_left({browser});
        EXPECT_EQ(release(view), 0u);
        DestroyWindow(parent);
    });
}

TEST_F(ViewRuntimeTest, ARuntimeThatFailsToStartShowsThePanel) {
    with_time_limit([&] {
        const ClientCopy& client = install_runtime();
        Session s(factory_of(EMBER_VST3_MODULE_WITHOUT_LOADER));
        IPlugView* view = s.create_view();
        ASSERT_NE(view, nullptr);
        HWND parent = make_parent_window();
        // Every creation of the environment fails (the retry too), or the controller's.
        for (const char* step : {"environment", "CreateCoreWebView2Controller", "controller"}) {
            stand_in().reset();
            client.fail(step, E_FAIL);
            ASSERT_EQ(view->vtbl->attached(view, parent, kPlatformTypeHWND), kResultOk) << step;
            EXPECT_TRUE(find_panel(editor_window_in(parent))) << step;
            EXPECT_EQ(view->vtbl->removed(view), kResultOk) << step;
            expect_nothing_left({stand_in().last_browser()});
            EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr) << step;
        }
        EXPECT_EQ(release(view), 0u);
        DestroyWindow(parent);
    });
}

// The loader beside the module comes first, whatever the registry says; a library of
// its name without its entry point is no loader, and the registry's runtime serves.
TEST_F(ViewRuntimeTest, ALoaderBesideTheModuleComesFirstAndOneWithoutItsEntryPointIsPassedOver) {
    const ClientCopy& client = install_runtime();
    const fs::path module = native_path(EMBER_VST3_MODULE_WITHOUT_LOADER);
    const fs::path bundle = module.parent_path().parent_path().parent_path();
    const fs::path odd = odd_bundles() / bundle.filename();
    fs::create_directories(odd_bundles());
    fs::copy(bundle, odd, fs::copy_options::recursive);
    fs::copy_file(native_path(EMBER_LOADER_WITHOUT_ENTRY),
                  odd / "Contents" / "x86_64-win" / "WebView2Loader.dll",
                  fs::copy_options::overwrite_existing);

    with_time_limit([&] {
        use_stand_in(nullptr);
        Session with_loader;
        OpenView v = open_view(with_loader);
        EXPECT_EQ(page_posts(v.browser).size(), 6u) << "through the loader's stand-in";
        EXPECT_EQ(client.calls(), "") << "the registered runtime was not asked";
        close_view(v);
        expect_nothing_left({v.browser});

        use_stand_in(client.module);
        Session with_odd_library(
            factory_of((odd / "Contents" / "x86_64-win" / "fernwood-emberpress.vst3").string()));
        OpenView w = open_view(with_odd_library);
        EXPECT_EQ(page_posts(w.browser).size(), 6u) << "through the registered runtime";
        const std::string calls = client.calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 1);
        close_view(w);
        expect_nothing_left({w.browser});
    });
}
