// The stand-in browser built as the runtime's client library, EmbeddedBrowserWebView.dll,
// for the runtime discovery tests only (never installed). Its entry point records how
// it was called and then completes through the same stand-in objects as the loader's
// entry point. Tests copy it into fake runtime folders and reach the controls below
// (and those of stand_in.h) through GetProcAddress on the copy they loaded.
#define STAND_IN_BUILD
#include "tests/ui/stand_in/stand_in.h"

#include <cstdio>
#include <mutex>
#include <string>

// The loader's entry point of the same stand-in (webview2_stand_in.cpp).
extern "C" HRESULT WINAPI CreateCoreWebView2EnvironmentWithOptions(PCWSTR browser_folder,
                                                                   PCWSTR user_data_folder,
                                                                   void* options, void* handler);

namespace {

std::mutex g_client_mutex;
std::string g_calls; // one line per call of the entry point
int g_call_count = 0;
int g_fail_first = 0;
HRESULT g_fail_result = S_OK;

std::string utf8(PCWSTR text) {
    if (!text) return "(null)";
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, s.data(), n, nullptr, nullptr);
    return s;
}

} // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    CreateWebViewEnvironmentWithOptionsInternal(bool check_running_instance, int runtime_type,
                                                PCWSTR user_data_folder, IUnknown* options,
                                                void* handler) {
    {
        std::lock_guard lock(g_client_mutex);
        const int call = ++g_call_count;
        g_calls += "check=" + std::to_string(check_running_instance) +
                   " type=" + std::to_string(runtime_type) + " folder=" + utf8(user_data_folder) +
                   " options=" + std::to_string(options != nullptr) + "\n";
        // The environment completion of this call reports the failure, or success
        // once the failing calls are used up.
        if (g_fail_first > 0)
            standin_fail("environment", call <= g_fail_first ? g_fail_result : S_OK);
    }
    return CreateCoreWebView2EnvironmentWithOptions(nullptr, user_data_folder, options, handler);
}

// Unloadable once none of the stand-in's objects is alive.
extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() {
    return standin_live_objects() == 0 ? S_OK : S_FALSE;
}

// The environment completions of the next `count` calls report `result`.
STAND_IN_API void standin_client_fail_first(HRESULT result, int count) {
    std::lock_guard lock(g_client_mutex);
    g_fail_result = result;
    g_fail_first = g_call_count + count;
}

// Every call of the entry point, one line each: "check=1 type=0 folder=... options=1".
STAND_IN_API int standin_client_calls(char* out, int capacity) {
    std::lock_guard lock(g_client_mutex);
    if (out && capacity > 0) snprintf(out, capacity, "%s", g_calls.c_str());
    return (int)g_calls.size();
}
