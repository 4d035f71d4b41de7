// The editor's stand-in when the browser runtime is missing or will not start: a
// plain native panel inside the editor's window that says what is needed and offers
// a button to the runtime's download page. No browser: system windows and the dialog font.
#pragma once

#include <windows.h>

// The runtime's public download page, which the button hands to `open_address`.
inline constexpr wchar_t kWebView2DownloadPage[] =
    L"https://developer.microsoft.com/microsoft-edge/webview2/";

struct no_runtime_panel;

// Receives the address to open when the user presses the button; runs on the
// panel's thread, inside its message handling.
using open_address_fn = void (*)(void* context, const wchar_t* address);

// Creates the panel as a visible child window filling `parent`'s client area, on the
// calling thread (which must dispatch its messages). Null when it cannot be made; then
// nothing of it is left.
no_runtime_panel* no_runtime_panel_create(HWND parent, open_address_fn open_address, void* context);

// The panel's window; null once its parent has destroyed it.
HWND no_runtime_panel_window(const no_runtime_panel* panel);

// Fits the panel to its parent's client area again; call it from the parent's WM_SIZE.
void no_runtime_panel_fit(no_runtime_panel* panel);

// Destroys the panel's window (unless its parent already did) and its window class,
// and frees it. On the thread that created it.
void no_runtime_panel_destroy(no_runtime_panel* panel);
