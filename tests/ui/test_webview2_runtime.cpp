// Finding and starting the installed browser runtime without its loader library.
// Each test installs copies of the stand-in client library (EmbeddedBrowserWebView.dll)
// in fake runtime version folders of its own and registers them in the Wine prefix's
// registry as the runtime's installer does; then it asks for an environment with the
// editor's own options object and sees which copy was called, how, and what reached
// the handler.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "tests/ui/fake_runtime.h"
#include "ui/win32/webview.h"
#include "ui/win32/webview2_runtime.h"

namespace fs = std::filesystem;

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

std::string utf8(const std::wstring& text) {
    std::string out(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr),
                    '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), (int)out.size(), nullptr,
                        nullptr);
    return out.c_str();
}

std::wstring exe_folder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path().wstring();
}

bool pump_until(const std::function<bool()>& done, DWORD ms = 10000) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (done()) return true;
        if (GetTickCount() - start > ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// The caller's completion handler: records what arrives and keeps the environment.
struct Completion final : ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler {
    std::atomic<LONG> refs{1};
    int calls = 0;
    HRESULT error = S_OK;
    ICoreWebView2Environment* environment = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, wv2::kIID_EnvironmentCompleted))
            return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; } // lives on the test's stack
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT e, ICoreWebView2Environment* env) override {
        ++calls;
        error = e;
        if (env) env->AddRef();
        if (environment) environment->Release();
        environment = env;
        return S_OK;
    }
    ~Completion() {
        if (environment) environment->Release();
    }
};

class RuntimeDiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        runtimes_.emplace(exe_folder() + L"\\client-stand-in\\EmbeddedBrowserWebView.dll",
                          exe_folder());
        if (runtimes_->foreign_runtime()) GTEST_SKIP() << "a browser runtime is registered here";
        user_data_folder_ = runtimes_->area() + L"\\user data";
        options_ = new WV2EnvironmentOptions();
        options_->put_AdditionalBrowserArguments(L"--allow-file-access-from-files");
    }

    void TearDown() override {
        // Let queued stand-in work finish before the copies lose the test's reference.
        pump_until([] { return false; }, 50);
        if (options_) options_->Release();
        runtimes_.reset();
        CoUninitialize();
    }

    std::wstring install(const std::wstring& name, const std::wstring& version,
                         bool with_client = true) {
        return runtimes_->install(name, version, with_client);
    }
    void register_runtime(const RegistryView& v, const wchar_t* channel,
                          const std::wstring& folder) {
        runtimes_->register_runtime(v, channel, folder);
    }
    void unregister(const RegistryView& v, const wchar_t* channel) {
        runtimes_->unregister(v, channel);
    }

    HRESULT create(Completion& completion, PCWSTR browser_folder = nullptr) {
        HRESULT result = webview2_runtime_create_environment(
            browser_folder, user_data_folder_.c_str(), options_, &completion);
        if (SUCCEEDED(result)) {
            EXPECT_TRUE(pump_until([&] { return completion.calls > 0; }));
        }
        pump_until([] { return false; }, 20); // a second completion would show up here
        return result;
    }

    // The line each call of a copy's entry point logs.
    std::string call_line(int runtime_type) const {
        return "check=1 type=" + std::to_string(runtime_type) +
               " folder=" + utf8(user_data_folder_) + " options=1\n";
    }
    // Which copies' entry points were called, "name:count" in name order.
    std::string called() const {
        std::string text;
        for (auto& [name, copy] : runtimes_->copies()) {
            const std::string calls = copy.calls();
            const auto count = std::count(calls.begin(), calls.end(), '\n');
            if (count) text += utf8(name) + ":" + std::to_string(count) + " ";
        }
        return text;
    }

    std::optional<FakeRuntimes> runtimes_;
    std::wstring user_data_folder_;
    WV2EnvironmentOptions* options_ = nullptr;
};

} // namespace

TEST_F(RuntimeDiscoveryTest, CurrentUserBeforeMachineAndStableBeforeBeta) {
    register_runtime(kUserView, kBetaChannel, install(L"user-beta", L"123.0.2420.10"));
    register_runtime(kMachineView, kStableChannel, install(L"machine-stable", L"121.0.2277.83"));
    register_runtime(kUserView, kStableChannel, install(L"user-stable", L"120.0.2210.91"));

    Completion first;
    ASSERT_EQ(create(first), S_OK);
    EXPECT_EQ(called(), "user-stable:1 ");
    EXPECT_EQ(runtimes_->copy(L"user-stable").calls(), call_line(0)) << "installed runtime, type 0";
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(first.error, S_OK);
    EXPECT_NE(first.environment, nullptr);

    unregister(kUserView, kStableChannel);
    Completion second;
    ASSERT_EQ(create(second), S_OK);
    EXPECT_EQ(called(), "machine-stable:1 user-stable:1 ") << "stable, even machine-wide, wins";
    EXPECT_NE(second.environment, nullptr);

    unregister(kMachineView, kStableChannel);
    Completion third;
    ASSERT_EQ(create(third), S_OK);
    EXPECT_EQ(called(), "machine-stable:1 user-beta:1 user-stable:1 ");

    // A fixed-version folder given by the caller is used as it is, whatever the
    // registry says.
    const std::wstring fixed = install(L"fixed", L"any name");
    Completion fourth;
    ASSERT_EQ(create(fourth, fixed.c_str()), S_OK);
    EXPECT_EQ(runtimes_->copy(L"fixed").calls(), call_line(1)) << "fixed-version runtime, type 1";
    EXPECT_NE(fourth.environment, nullptr);
}

TEST_F(RuntimeDiscoveryTest, SkipsRuntimesThatCannotServe) {
    // In search order, each unusable: below the version floor, a version that is no
    // version, a folder without the client library, no beta machine key and no dev
    // user key at all, a key in the 64-bit registry view, which the runtime never
    // writes.
    register_runtime(kUserView, kStableChannel, install(L"below-floor", L"86.0.615.999"));
    register_runtime(kMachineView, kStableChannel, install(L"malformed", L"120.0.x.91"));
    register_runtime(kUserView, kBetaChannel, install(L"no-client", L"120.0.2210.91", false));
    register_runtime(kMachine64View, kDevChannel, install(L"64-bit-view", L"120.0.2210.91"));
    // Then two usable ones: exactly the floor, and one that only a comparison number
    // by number (not as text) puts above it.
    register_runtime(kUserView, kCanaryChannel, install(L"at-floor", L"86.0.616.0"));
    register_runtime(kMachineView, kCanaryChannel,
                     install(L"above-floor", L"100.0.1000.0") + L"\\");

    Completion first;
    ASSERT_EQ(create(first), S_OK);
    EXPECT_EQ(called(), "at-floor:1 ");
    EXPECT_EQ(first.error, S_OK);

    unregister(kUserView, kCanaryChannel);
    Completion second;
    ASSERT_EQ(create(second), S_OK);
    EXPECT_EQ(called(), "above-floor:1 at-floor:1 ")
        << "a trailing separator is no part of the name";
    EXPECT_EQ(second.error, S_OK);
}

TEST_F(RuntimeDiscoveryTest, RetriesAFailedStartOnce) {
    register_runtime(kUserView, kStableChannel, install(L"stable", L"120.0.2210.91"));
    const ClientCopy& client = runtimes_->copy(L"stable");

    client.fail_first(E_ACCESSDENIED, 1);
    Completion recovered;
    ASSERT_EQ(create(recovered), S_OK);
    EXPECT_EQ(client.calls(), call_line(0) + call_line(0));
    EXPECT_EQ(recovered.calls, 1) << "the caller hears only of the second start";
    EXPECT_EQ(recovered.error, S_OK);
    EXPECT_NE(recovered.environment, nullptr);

    client.fail_first(E_ACCESSDENIED, 2);
    Completion failed;
    ASSERT_EQ(create(failed), S_OK);
    EXPECT_EQ(client.calls(), call_line(0) + call_line(0) + call_line(0) + call_line(0))
        << "one retry, not more";
    EXPECT_EQ(failed.calls, 1);
    EXPECT_EQ(failed.error, E_ACCESSDENIED);
    EXPECT_EQ(failed.environment, nullptr);
}

TEST_F(RuntimeDiscoveryTest, NoRuntimeFailsAtOnceWithoutCallingTheHandler) {
    // Nothing registered; then only runtimes that cannot serve; then a fixed-version
    // folder without the client library.
    Completion completion;
    EXPECT_EQ(create(completion), kNotFound);
    register_runtime(kUserView, kStableChannel, install(L"below-floor", L"85.0.564.70"));
    register_runtime(kMachineView, kBetaChannel, install(L"no-client", L"120.0.2210.91", false));
    EXPECT_EQ(create(completion), kNotFound);
    const std::wstring empty_fixed = install(L"fixed", L"120.0.2210.91", false);
    EXPECT_EQ(create(completion, empty_fixed.c_str()), kNotFound);
    EXPECT_EQ(webview2_runtime_create_environment(nullptr, nullptr, nullptr, nullptr), E_POINTER);

    EXPECT_EQ(completion.calls, 0);
    EXPECT_EQ(completion.refs, 1) << "no reference on the handler is kept";
    EXPECT_EQ(called(), "");
    EXPECT_FALSE(fs::exists(user_data_folder_)) << "no runtime was started";
}

TEST_F(RuntimeDiscoveryTest, LetsGoOfEverythingAndUnloadsTheClientWhenItMayGo) {
    register_runtime(kUserView, kStableChannel, install(L"stable", L"120.0.2210.91"));
    ClientCopy& client = runtimes_->copy(L"stable");
    {
        Completion completion;
        ASSERT_EQ(create(completion), S_OK);
        ASSERT_NE(completion.environment, nullptr);
        EXPECT_EQ(completion.refs, 1) << "the handler's references are all returned";
        EXPECT_EQ(options_->AddRef(), 2u) << "the options' references are all returned";
        options_->Release();
    } // the caller releases its environment: the last reference
    EXPECT_TRUE(pump_until([&] { return client.live_objects() == 0; }))
        << "no reference on the environment is kept";

    // The library asked to stay while its objects were alive, so it stays loaded when
    // the test lets go of its own reference.
    FreeLibrary(std::exchange(client.module, nullptr));
    EXPECT_NE(GetModuleHandleW(client.path.c_str()), nullptr);

    // A library that fails at once with nothing alive is unloaded again.
    register_runtime(kUserView, kStableChannel, install(L"failing", L"121.0.2277.83"));
    ClientCopy& failing = runtimes_->copy(L"failing");
    failing.fail("CreateCoreWebView2EnvironmentWithOptions", E_ACCESSDENIED);
    Completion refused;
    EXPECT_EQ(create(refused), E_ACCESSDENIED);
    EXPECT_EQ(refused.calls, 0);
    EXPECT_EQ(failing.calls(), call_line(0));
    FreeLibrary(std::exchange(failing.module, nullptr));
    EXPECT_EQ(GetModuleHandleW(failing.path.c_str()), nullptr);
}
