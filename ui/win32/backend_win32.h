// What the Windows backend's two files share: backend_win32.cpp (the UI thread, the
// windows, the waits) and webview.cpp (the browser objects, which report to the UI
// thread through its window and hand over the browser once it is ready).
#pragma once

#include <windows.h>

#include <atomic>

#include "ui/backend.h"
#include "ui/win32/webview2_abi.h"

// Private window messages.
enum : UINT {
    EDITOR_MSG_STARTED = WM_APP + 0, // to the UI window; wParam 1 browser ready, 0 failed
    EDITOR_MSG_RELAY = WM_APP + 4,   // to the relay window: a page edit waits for the host
};

// The part of the backend the browser objects see.
struct browser_host {
    editor* const ed;
    // The UI thread's window; null until made and once destroyed (with the host's
    // window, or by the UI thread's own teardown).
    std::atomic<HWND> ui_window{nullptr};
    // The browser, counted; null until it is ready. UI thread only.
    ICoreWebView2Controller* controller = nullptr;

    explicit browser_host(editor* owner) : ed(owner) {}
};
