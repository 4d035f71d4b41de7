// The no-runtime panel as a user (or an accessibility tool) finds it inside the
// editor's window: the window, its sentence and its button.
#pragma once

#include <windows.h>

#include <string>

inline constexpr wchar_t kPanelSentence[] = L"needs the Microsoft Edge WebView2 Runtime";
inline constexpr char kDownloadCommand[] =
    "rundll32 url.dll,FileProtocolHandler "
    "\"https://developer.microsoft.com/microsoft-edge/webview2/\"";

struct PanelProbe {
    HWND window = nullptr, text = nullptr, button = nullptr;
    std::wstring class_name;
    HINSTANCE module = nullptr; // the module that registered the panel's class

    explicit operator bool() const { return window && text && button; }
    std::wstring message() const {
        wchar_t text_buffer[512] = L"";
        GetWindowTextW(text, text_buffer, 512);
        return text_buffer;
    }
    bool class_registered() const {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        return GetClassInfoExW(module, class_name.c_str(), &wc) != 0;
    }
};

// The panel in `editor_window`: its child that holds a text and a button; empty when
// there is none (a browser shows instead).
inline PanelProbe find_panel(HWND editor_window) {
    auto child_of_class = [](HWND parent, const wchar_t* name) -> HWND {
        for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            wchar_t found[64];
            GetClassNameW(c, found, 64);
            if (lstrcmpiW(found, name) == 0) return c;
        }
        return nullptr;
    };
    PanelProbe p;
    for (HWND c = GetWindow(editor_window, GW_CHILD); c && !p; c = GetWindow(c, GW_HWNDNEXT)) {
        p.window = c;
        p.text = child_of_class(c, L"Static");
        p.button = child_of_class(c, L"Button");
    }
    if (!p) return {};
    wchar_t name[64];
    GetClassNameW(p.window, name, 64);
    p.class_name = name;
    p.module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(p.window, GWLP_HINSTANCE));
    return p;
}
