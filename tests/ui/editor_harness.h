// Plays the host around a real editor: a creating thread with its own windows and
// message loop, edit callbacks that record what arrives, a private temporary folder,
// and the stand-in browser's controls and log.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/time_limit.h"
#include "tests/ui/stand_in/stand_in.h"
#include "ui/editor.h"

struct Edit {
    char kind; // 'b', 's' or 'e'
    uint32_t index;
    float value;
    bool on_creating_thread;
};

// One host's side of an editor. Lives on the thread that creates the editor.
struct Host {
    std::string module_folder;
    std::string page_folder;
    DWORD thread = GetCurrentThreadId();
    editor* ed = nullptr;
    std::vector<Edit> edits;
    std::function<void(Host&, const Edit&)> react; // runs inside the edit callback
    editor_callbacks callbacks();
};

// The editor's window, owned by its UI thread.
inline HWND window_of(editor* ed) {
    return static_cast<HWND>(editor_window(ed));
}

// The folder of the test executable, which holds the stand-in loader.
std::string exe_folder();

// Dispatches this thread's messages until `done` holds; false after `ms` (deadlock guard).
bool pump_until(const std::function<bool()>& done, int ms = 20000);

// A visible top-level window standing in for the host's editor frame.
HWND make_host_window();

// Stand-in access.
std::vector<std::string> browser_log(int browser);
std::vector<std::string> page_posts(int browser); // texts the editor posted to the page
std::string ui_class_of(int browser);
std::wstring user_data_folder_of(int browser);
// Plays a page message and pumps until the editor has handled it.
void deliver(int browser, const std::wstring& text, bool as_json = false);
void navigate(int browser, const std::wstring& uri, bool new_window);

std::string report(uint32_t index, float value); // "s %08x %08x"
bool class_registered(const std::string& name);

// Each test gets a clean stand-in, a page folder and a private temporary folder (the
// editor's temporary file and the browser's user-data folder go there).
class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::vector<std::wstring> temp_entries() const;
    // Nothing of the editor is left: no temporary file or user-data folder, neither
    // window class of the browser's editor, no stand-in object.
    void expect_nothing_left(int browser) const;

    Host make_host() const;
    std::wstring temp_folder_;
    std::string page_folder_;
};
