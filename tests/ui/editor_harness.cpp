#include "tests/ui/editor_harness.h"

#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

const char* module_folder_of(void* user) {
    return static_cast<Host*>(user)->module_folder.c_str();
}
const char* page_folder_of(void* user) {
    return static_cast<Host*>(user)->page_folder.c_str();
}

void record(void* user, char kind, uint32_t index, float value) {
    auto& host = *static_cast<Host*>(user);
    Edit edit{kind, index, value, GetCurrentThreadId() == host.thread};
    host.edits.push_back(edit);
    if (host.react) host.react(host, edit);
}
void on_begin(void* user, uint32_t index, float value) {
    record(user, 'b', index, value);
}
void on_perform(void* user, uint32_t index, float value) {
    record(user, 's', index, value);
}
void on_end(void* user, uint32_t index, float value) {
    record(user, 'e', index, value);
}

} // namespace

editor_callbacks Host::callbacks() {
    return {this, "test", module_folder_of, page_folder_of, on_begin, on_perform, on_end};
}

std::string exe_folder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

bool pump_until(const std::function<bool()>& done, int ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start > (DWORD)ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

HWND make_host_window() {
    return CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN,
                           10, 10, 900, 500, nullptr, nullptr, nullptr, nullptr);
}

std::vector<std::string> browser_log(int browser) {
    std::string text(standin_log(browser, nullptr, 0) + 1, '\0');
    standin_log(browser, text.data(), (int)text.size());
    std::vector<std::string> lines;
    std::istringstream in(text.c_str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> page_posts(int browser) {
    static const std::string prefix = "PostWebMessageAsString ";
    std::vector<std::string> posts;
    for (auto& line : browser_log(browser))
        if (line.rfind(prefix, 0) == 0) posts.push_back(line.substr(prefix.size()));
    return posts;
}

std::string ui_class_of(int browser) {
    char name[64] = "";
    standin_ui_class(browser, name, sizeof name);
    return name;
}

std::wstring user_data_folder_of(int browser) {
    wchar_t folder[MAX_PATH] = L"";
    standin_user_data_folder(browser, folder, MAX_PATH);
    return folder;
}

void deliver(int browser, const std::wstring& text, bool as_json) {
    int before = standin_events_done(browser);
    ASSERT_EQ(standin_page_message(browser, text.c_str(), as_json), 0);
    ASSERT_TRUE(pump_until([&] { return standin_events_done(browser) > before; }));
}

void navigate(int browser, const std::wstring& uri, bool new_window) {
    int before = standin_events_done(browser);
    ASSERT_EQ(standin_navigation(browser, uri.c_str(), new_window), 0);
    ASSERT_TRUE(pump_until([&] { return standin_events_done(browser) > before; }));
}

std::string report(uint32_t index, float value) {
    char text[32];
    snprintf(text, sizeof text, "s %08x %08x", index, std::bit_cast<uint32_t>(value));
    return text;
}

bool class_registered(const std::string& name) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    return GetClassInfoExA(GetModuleHandleA(nullptr), name.c_str(), &wc) != 0;
}

void EditorTest::SetUp() {
    standin_reset();
    static const fs::path base = [] { // the system's, before the first test replaces it
        wchar_t path[MAX_PATH];
        GetTempPathW(MAX_PATH, path);
        return fs::path(path);
    }();
    static int count = 0;
    auto unique = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
    temp_folder_ = base / (L"ember-ui-temp-" + unique);
    fs::path page = base / (L"ember-ui-page-" + unique);
    fs::create_directories(temp_folder_);
    fs::create_directories(page);
    std::ofstream(page / "index.html") << "<!doctype html><title>stand-in page</title>\n";
    page_folder_ = page.string();
    // GetTempPathW reads TMP first: the editor's temporary entries land in our folder.
    SetEnvironmentVariableW(L"TMP", temp_folder_.c_str());
    SetEnvironmentVariableW(L"TEMP", temp_folder_.c_str());
}

void EditorTest::TearDown() {
    std::error_code ignored;
    fs::remove_all(temp_folder_, ignored);
    fs::remove_all(page_folder_, ignored);
}

std::vector<std::wstring> EditorTest::temp_entries() const {
    std::vector<std::wstring> names;
    for (auto& entry : fs::directory_iterator(temp_folder_))
        names.push_back(entry.path().filename().wstring());
    return names;
}

void EditorTest::expect_nothing_left(int browser) const {
    EXPECT_TRUE(temp_entries().empty()) << "temporary file or user-data folder left behind";
    if (browser > 0) {
        std::string ui_class = ui_class_of(browser);
        ASSERT_FALSE(ui_class.empty());
        EXPECT_FALSE(class_registered(ui_class)) << ui_class;
        std::string relay_class = ui_class; // the same address behind another letter
        relay_class[0] = 'd';
        EXPECT_FALSE(class_registered(relay_class)) << "relay class left registered";
    }
    EXPECT_EQ(standin_live_objects(), 0) << "browser objects still referenced";
}

Host EditorTest::make_host() const {
    Host host;
    host.module_folder = exe_folder();
    host.page_folder = page_folder_;
    return host;
}
