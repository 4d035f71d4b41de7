// Starts the browser environment from the installed browser runtime itself, for
// machines that have the runtime but not its small loader library beside the module.
// Same shape, arguments and results as the loader's
// CreateCoreWebView2EnvironmentWithOptions, so the editor can use whichever it has.
#pragma once

#include <type_traits>

#include "ui/win32/webview2_abi.h"

// Finds the runtime (installed channels from the registry, or the fixed-version
// folder `browser_folder` when one is given), loads its client library and asks it
// for an environment. The result arrives later through `handler` on this thread's
// message loop (the thread must be a single-threaded COM apartment that pumps
// messages); a failed start is retried once before the failure reaches `handler`.
// Synchronous failures return their HRESULT and never call `handler`; no runtime at
// all is HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), a null handler E_POINTER.
HRESULT WINAPI webview2_runtime_create_environment(
    PCWSTR browser_folder, PCWSTR user_data_folder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

static_assert(
    std::is_same_v<decltype(&webview2_runtime_create_environment), CreateEnvironmentWithOptionsFn>,
    "usable wherever the loader's entry point is");
