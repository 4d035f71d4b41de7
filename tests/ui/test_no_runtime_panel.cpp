// The panel shown when there is no browser runtime: real windows on the test's
// thread, found and clicked as a user (or an accessibility tool) would.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/win32/no_runtime_panel.h"

namespace {

struct Opened {
    std::vector<std::wstring> addresses;
    static void record(void* context, const wchar_t* address) {
        static_cast<Opened*>(context)->addresses.push_back(address);
    }
};

HWND make_parent() {
    return CreateWindowExW(0, L"STATIC", L"editor", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 800,
                           400, nullptr, nullptr, nullptr, nullptr);
}

std::wstring text_of(HWND window) {
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

// The panel's child of the given class (STATIC or BUTTON).
HWND child_of_class(HWND panel, const wchar_t* class_name) {
    for (HWND child = GetWindow(panel, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[64];
        GetClassNameW(child, name, 64);
        if (lstrcmpiW(name, class_name) == 0) return child;
    }
    return nullptr;
}

bool class_exists(const std::wstring& name) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    return GetClassInfoExW(GetModuleHandleW(nullptr), name.c_str(), &wc) != 0;
}

RECT client_rect(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    return r;
}

// The child lies wholly inside the panel's client area.
bool inside(HWND child, HWND panel) {
    RECT r, area = client_rect(panel);
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&r), 2);
    return r.left >= 0 && r.top >= 0 && r.right <= area.right && r.bottom <= area.bottom &&
           r.right > r.left && r.bottom > r.top;
}

} // namespace

TEST(NoRuntimePanel, SaysWhatIsMissingAndItsButtonOpensTheDownloadPage) {
    HWND parent = make_parent();
    Opened opened;
    no_runtime_panel* panel = no_runtime_panel_create(parent, Opened::record, &opened);
    ASSERT_NE(panel, nullptr);
    HWND window = no_runtime_panel_window(panel);
    EXPECT_EQ(GetParent(window), parent);
    EXPECT_TRUE(IsWindowVisible(window));
    RECT area = client_rect(window), parent_area = client_rect(parent);
    EXPECT_TRUE(EqualRect(&area, &parent_area)) << "fills the parent";

    HWND text = child_of_class(window, L"Static");
    HWND button = child_of_class(window, L"Button");
    ASSERT_TRUE(text && button);
    EXPECT_NE(text_of(text).find(L"needs the Microsoft Edge WebView2 Runtime"), std::wstring::npos);
    EXPECT_TRUE(inside(text, window) && inside(button, window));

    SendMessageW(button, BM_CLICK, 0, 0);
    ASSERT_EQ(opened.addresses.size(), 1u);
    EXPECT_EQ(opened.addresses[0], L"https://developer.microsoft.com/microsoft-edge/webview2/");

    // The parent shrinks, then grows: the panel follows and keeps both in view.
    for (SIZE size : {SIZE{360, 220}, SIZE{1000, 700}}) {
        SetWindowPos(parent, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        no_runtime_panel_fit(panel);
        area = client_rect(window), parent_area = client_rect(parent);
        EXPECT_TRUE(EqualRect(&area, &parent_area));
        EXPECT_TRUE(inside(text, window) && inside(button, window)) << size.cx << "x" << size.cy;
    }

    wchar_t class_name[64];
    GetClassNameW(window, class_name, 64);
    no_runtime_panel_destroy(panel);
    EXPECT_FALSE(IsWindow(window) || IsWindow(text) || IsWindow(button));
    EXPECT_FALSE(class_exists(class_name)) << "the window class goes with the panel";
    EXPECT_TRUE(IsWindow(parent)) << "the parent is the host's";
    DestroyWindow(parent);
}

TEST(NoRuntimePanel, ParentClosedFirstOrTwoPanelsAtOnceLeaveNothingBehind) {
    HWND parent = make_parent();
    Opened opened;
    no_runtime_panel* first = no_runtime_panel_create(parent, Opened::record, &opened);
    no_runtime_panel* second = no_runtime_panel_create(parent, Opened::record, &opened);
    ASSERT_TRUE(first && second);
    wchar_t first_class[64], second_class[64];
    GetClassNameW(no_runtime_panel_window(first), first_class, 64);
    GetClassNameW(no_runtime_panel_window(second), second_class, 64);
    EXPECT_NE(std::wstring(first_class), std::wstring(second_class));

    no_runtime_panel_destroy(first);
    EXPECT_FALSE(class_exists(first_class));
    EXPECT_TRUE(IsWindow(no_runtime_panel_window(second))) << "one panel's end leaves the other";

    DestroyWindow(parent); // the host closes its window before the editor lets go
    EXPECT_EQ(no_runtime_panel_window(second), nullptr);
    no_runtime_panel_destroy(second);
    EXPECT_FALSE(class_exists(second_class));
    EXPECT_TRUE(opened.addresses.empty());
}

TEST(NoRuntimePanel, RefusesWithoutAParentWindowOrACallback) {
    Opened opened;
    HWND parent = make_parent();
    HWND gone = make_parent();
    DestroyWindow(gone);
    EXPECT_EQ(no_runtime_panel_create(nullptr, Opened::record, &opened), nullptr);
    EXPECT_EQ(no_runtime_panel_create(gone, Opened::record, &opened), nullptr);
    EXPECT_EQ(no_runtime_panel_create(parent, nullptr, &opened), nullptr);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr) << "no window was made";
    DestroyWindow(parent);
}
