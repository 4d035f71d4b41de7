// The native panel shown instead of the browser: one sentence and one button, in
// the dialog font and colours, centred in whatever room the parent gives it.
#include "ui/win32/no_runtime_panel.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

constexpr wchar_t kMessage[] = L"The editor needs the Microsoft Edge WebView2 Runtime, which "
                               L"could not be found or started on this computer.";
constexpr wchar_t kButtonText[] = L"Get the WebView2 Runtime";
constexpr int kButtonId = 1;

// Layout in pixels: the text above the button, the pair centred in the panel.
constexpr int kMargin = 16;
constexpr int kMaxTextWidth = 520;
constexpr int kTextHeight = 48;
constexpr int kGap = 12;
constexpr int kButtonWidth = 220;
constexpr int kButtonHeight = 30;

// The module that holds this code (the plug-in), which owns the panel's window class.
HINSTANCE this_module() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&this_module), &module);
    return module;
}

} // namespace

struct no_runtime_panel {
    HWND window;
    HWND text;
    HWND button;
    HFONT font; // owned; null: the controls keep the system font
    open_address_fn open_address;
    void* context;
    HINSTANCE module;
    wchar_t class_name[40]; // one class per panel, named after its address
};

namespace {

no_runtime_panel* panel_of(HWND window) {
    return reinterpret_cast<no_runtime_panel*>(GetWindowLongPtrW(window, 0));
}

void lay_out(const no_runtime_panel* panel) {
    RECT area;
    if (!panel->text || !panel->button || !GetClientRect(panel->window, &area)) return;
    const int width = area.right, height = area.bottom;
    const int text_width = std::max(0, std::min(width - 2 * kMargin, kMaxTextWidth));
    const int top = std::max(kMargin, (height - (kTextHeight + kGap + kButtonHeight)) / 2);
    MoveWindow(panel->text, (width - text_width) / 2, top, text_width, kTextHeight, TRUE);
    MoveWindow(panel->button, (width - kButtonWidth) / 2, top + kTextHeight + kGap, kButtonWidth,
               kButtonHeight, TRUE);
}

LRESULT CALLBACK panel_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    no_runtime_panel* panel = panel_of(window);
    if (!panel) return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
    case WM_SIZE:
        lay_out(panel);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wparam) == kButtonId && HIWORD(wparam) == BN_CLICKED) {
            panel->open_address(panel->context, kWebView2DownloadPage);
            return 0;
        }
        break;
    case WM_NCDESTROY: // also when the parent goes first
        SetWindowLongPtrW(window, 0, 0);
        panel->window = panel->text = panel->button = nullptr;
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// The font dialogs use for messages; null when the system does not say.
HFONT message_font() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

} // namespace

no_runtime_panel* no_runtime_panel_create(HWND parent, open_address_fn open_address,
                                          void* context) {
    RECT area;
    if (!open_address || !IsWindow(parent) || !GetClientRect(parent, &area)) return nullptr;
    auto* panel = static_cast<no_runtime_panel*>(calloc(1, sizeof(no_runtime_panel)));
    if (!panel) return nullptr;
    panel->open_address = open_address;
    panel->context = context;
    panel->module = this_module();
    swprintf(panel->class_name, std::size(panel->class_name), L"EmberpressNoRuntime%llX",
             (unsigned long long)(uintptr_t)panel);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = panel_proc;
    wc.cbWndExtra = sizeof(no_runtime_panel*);
    wc.hInstance = panel->module;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = panel->class_name;
    if (!RegisterClassExW(&wc)) {
        free(panel);
        return nullptr;
    }
    panel->window = CreateWindowExW(WS_EX_CONTROLPARENT, panel->class_name, L"",
                                    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, area.right,
                                    area.bottom, parent, nullptr, panel->module, panel);
    if (panel->window) {
        panel->text = CreateWindowExW(0, L"STATIC", kMessage, WS_CHILD | WS_VISIBLE | SS_CENTER, 0,
                                      0, 0, 0, panel->window, nullptr, panel->module, nullptr);
        panel->button = CreateWindowExW(
            0, L"BUTTON", kButtonText, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0,
            0, 0, panel->window, reinterpret_cast<HMENU>(kButtonId), panel->module, nullptr);
    }
    if (!panel->text || !panel->button) {
        no_runtime_panel_destroy(panel);
        return nullptr;
    }
    panel->font = message_font();
    if (panel->font) {
        SendMessageW(panel->text, WM_SETFONT, reinterpret_cast<WPARAM>(panel->font), FALSE);
        SendMessageW(panel->button, WM_SETFONT, reinterpret_cast<WPARAM>(panel->font), FALSE);
    }
    lay_out(panel);
    return panel;
}

HWND no_runtime_panel_window(const no_runtime_panel* panel) {
    return panel->window;
}

void no_runtime_panel_fit(no_runtime_panel* panel) {
    RECT area;
    if (!panel->window || !GetClientRect(GetParent(panel->window), &area)) return;
    SetWindowPos(panel->window, nullptr, 0, 0, area.right, area.bottom,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void no_runtime_panel_destroy(no_runtime_panel* panel) {
    if (!panel) return;
    if (panel->window) DestroyWindow(panel->window);
    UnregisterClassW(panel->class_name, panel->module);
    if (panel->font) DeleteObject(panel->font); // the controls that used it are gone
    free(panel);
}
