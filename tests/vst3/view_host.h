// A host's side of the plug view under Wine: the bundle (a copy with the stand-in
// browser loader beside its module) loaded with LoadLibraryW, a controller with a
// component handler that records on which thread each call arrives, parent windows of
// the host's own, and scenarios that run on a thread of their own with a time limit.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host.h"
#include "tests/time_limit.h"
#include "tests/ui/stand_in/stand_in.h"

// The stand-in's test controls, from the very library the editor loads (the copy
// beside the module under test), so that both see the same browsers.
struct StandIn {
    decltype(&standin_reset) reset;
    decltype(&standin_fail) fail;
    decltype(&standin_last_browser) last_browser;
    decltype(&standin_browser_of) browser_of;
    decltype(&standin_log) log;
    decltype(&standin_posts_in_order) posts_in_order;
    decltype(&standin_ui_class) ui_class;
    decltype(&standin_page_message) page_message;
    decltype(&standin_events_done) events_done;
    decltype(&standin_live_objects) live_objects;
};
const StandIn& stand_in();
// From now on stand_in() answers from this copy of the stand-in (one the editor found as
// the installed runtime's client library); null: the loader beside the module again.
void use_stand_in(HMODULE library);

std::vector<std::string> browser_log(int browser);
std::vector<std::string> page_posts(int browser); // what the editor posted to the page
std::vector<std::string> posts_in_order();        // "BROWSER TEXT", all browsers
std::string report(uint32_t index, float value);  // "s %08x %08x"
std::vector<std::string> reports(const std::vector<float>& values); // one per index
// Neither of the editor's window classes (named after its address) is registered:
// given the class of the editor's window, or the browser that saw it.
void expect_classes_gone(const std::string& ui_class);
void expect_classes_gone(int browser);

// Dispatches this thread's messages until `done` holds; false after `ms`.
bool pump_until(const std::function<bool()>& done, int ms = 20000);
// Plays a page message and pumps until the editor has handled it.
void deliver(int browser, const wchar_t* text);
// Queues a page message, then waits without dispatching until the editor's UI thread
// has relayed the edit to this thread (the edit is then in flight).
void deliver_until_relayed(int browser, const wchar_t* text);

HWND make_parent_window();

// --- The host's component handler ----------------------------------------------------

struct HostCall {
    char kind; // 'b' beginEdit, 'p' performEdit, 'e' endEdit
    ParamID id;
    double value; // performEdit only
    bool on_host_thread;
    bool operator==(const HostCall&) const = default;
};
void PrintTo(const HostCall& call, std::ostream* out);

struct EditHandler {
    IComponentHandler iface;
    int32_t refs = 1;
    DWORD host_thread = GetCurrentThreadId();
    std::vector<HostCall> calls;
    std::function<void(const HostCall&)> react; // runs inside the call
    EditHandler();
};

// --- One plug-in instance's controller, as a host holds it ----------------------------

struct Session {
    IEditController* controller = nullptr;
    EditHandler handler;
    explicit Session(IPluginFactory3* factory = test_factory());
    ~Session();
    IPlugView* create_view();
    void set(ParamID id, double normalized);
};

// An attached view and what the editor made inside the parent window.
struct OpenView {
    IPlugView* view = nullptr;
    HWND parent = nullptr;
    HWND ui_window = nullptr; // the editor's window, owned by its UI thread
    int browser = 0;
};
// Creates a view and attaches it to a new parent window; fails the test otherwise.
OpenView open_view(Session& session);
// Removes and releases the view, then destroys its parent window.
void close_view(OpenView& v);
// The child of `parent` that belongs to another thread: the editor's window.
HWND editor_window_in(HWND parent);

// --- Each test: a clean stand-in and private temporary and application-data folders ---

class ViewTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::vector<std::wstring> temp_entries() const;
    // Nothing of any editor is left: no temporary file or user-data folder, no stand-in
    // object, and neither window class of the editors of the browsers named.
    void expect_nothing_left(std::initializer_list<int> browsers = {}) const;
    std::wstring temp_folder_, appdata_folder_;
};

inline constexpr ParamID kDriveId = 1955105482u, kToneId = 1278044914u, kVolumeId = 115099194u,
                         kBypassId = 150732888u;
