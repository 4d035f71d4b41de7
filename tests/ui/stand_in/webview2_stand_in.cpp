// A stand-in for the browser runtime's loader library, for the editor's tests only
// (never installed). It exports CreateCoreWebView2EnvironmentWithOptions and plays
// the environment, controller, browser, settings and event-argument objects, calling
// the editor's handlers back later through the calling thread's message loop, as the
// runtime does.
//
// Its objects are laid out from the interface reference by slot number, written here
// independently of the editor's own declarations, so a slot the editor has in the
// wrong place shows up as a wrong or "unexpected" call. It also checks the COM rules
// the editor must keep: single-threaded use, and handlers that answer QueryInterface
// with one identity.
#define STAND_IN_BUILD
#include "tests/ui/stand_in/stand_in.h"

#include <eventtoken.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---- Interface identifiers and slots, from the reference tables ---------------------

struct Iid {
    const char* name;
    GUID guid;
};
// clang-format off
const Iid kUnknown            = {"IUnknown", {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}};
const Iid kOptions            = {"ICoreWebView2EnvironmentOptions", {0x2fde08a8, 0x1e9a, 0x4766, {0x8c, 0x05, 0x95, 0xa9, 0xce, 0xb9, 0xd1, 0xc5}}};
const Iid kEnvCompleted       = {"ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler", {0x4e8a3389, 0xc9d8, 0x4bd2, {0xb6, 0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d}}};
const Iid kControllerCompleted= {"ICoreWebView2CreateCoreWebView2ControllerCompletedHandler", {0x6c4819f3, 0xc9b7, 0x4260, {0x81, 0x27, 0xc9, 0xf5, 0xbd, 0xe7, 0xf6, 0x8c}}};
const Iid kEnvironment        = {"ICoreWebView2Environment", {0xb96d755e, 0x0319, 0x4e92, {0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1, 0xfc}}};
const Iid kController         = {"ICoreWebView2Controller", {0x4d00c0d1, 0x9434, 0x4eb6, {0x80, 0x78, 0x86, 0x97, 0xa5, 0x60, 0x33, 0x4f}}};
const Iid kController2        = {"ICoreWebView2Controller2", {0xc979903e, 0xd4ca, 0x4228, {0x92, 0xeb, 0x47, 0xee, 0x3f, 0xa9, 0x6e, 0xab}}};
const Iid kController3        = {"ICoreWebView2Controller3", {0xf9614724, 0x5d2b, 0x41dc, {0xae, 0xf7, 0x73, 0xd6, 0x2b, 0x51, 0x54, 0x3b}}};
const Iid kController4        = {"ICoreWebView2Controller4", {0x97d418d5, 0xa426, 0x4e49, {0xa1, 0x51, 0xe1, 0xa1, 0x0f, 0x32, 0x7d, 0x9e}}};
const Iid kWebView            = {"ICoreWebView2", {0x76eceacb, 0x0462, 0x4d94, {0xac, 0x83, 0x42, 0x3a, 0x67, 0x93, 0x77, 0x5e}}};
const Iid kSettings           = {"ICoreWebView2Settings", {0xe562e4f0, 0xd7fa, 0x43ac, {0x8d, 0x71, 0xc0, 0x51, 0x50, 0x49, 0x9f, 0x00}}};
const Iid kSettings2          = {"ICoreWebView2Settings2", {0xee9a0f68, 0xf46c, 0x4e32, {0xac, 0x23, 0xef, 0x8c, 0xac, 0x22, 0x4d, 0x2a}}};
const Iid kSettings3          = {"ICoreWebView2Settings3", {0xfdb5ab74, 0xaf33, 0x4854, {0x84, 0xf0, 0x0a, 0x63, 0x1d, 0xeb, 0x5e, 0xba}}};
const Iid kSettings4          = {"ICoreWebView2Settings4", {0xcb56846c, 0x4168, 0x4d53, {0xb0, 0x4f, 0x03, 0xb6, 0xd6, 0x79, 0x6f, 0xf2}}};
const Iid kSettings5          = {"ICoreWebView2Settings5", {0x183e7052, 0x1d03, 0x43a0, {0xab, 0x99, 0x98, 0xe0, 0x43, 0xb6, 0x6b, 0x39}}};
const Iid kSettings6          = {"ICoreWebView2Settings6", {0x11cb3acd, 0x9bc8, 0x43b8, {0x83, 0xbf, 0xf4, 0x07, 0x53, 0x71, 0x4f, 0x87}}};
const Iid kWebMessageHandler  = {"ICoreWebView2WebMessageReceivedEventHandler", {0x57213f19, 0x00e6, 0x49fa, {0x8e, 0x07, 0x89, 0x8e, 0xa0, 0x1e, 0xcb, 0xd2}}};
const Iid kWebMessageArgs     = {"ICoreWebView2WebMessageReceivedEventArgs", {0x0f99a40c, 0xe962, 0x4207, {0x9e, 0x92, 0xe3, 0xd5, 0x42, 0xef, 0xf8, 0x49}}};
const Iid kNavigationHandler  = {"ICoreWebView2NavigationStartingEventHandler", {0x9adbe429, 0xf36d, 0x432b, {0x9d, 0xdc, 0xf8, 0x88, 0x1f, 0xbd, 0x76, 0xe3}}};
const Iid kNavigationArgs     = {"ICoreWebView2NavigationStartingEventArgs", {0x5b495469, 0xe119, 0x438a, {0x9b, 0x18, 0x76, 0x04, 0xf2, 0x5f, 0x2e, 0x49}}};
const Iid kNewWindowHandler   = {"ICoreWebView2NewWindowRequestedEventHandler", {0xd4c185fe, 0xc81c, 0x4989, {0x97, 0xaf, 0x2d, 0x3f, 0xa7, 0xab, 0x56, 0x51}}};
const Iid kNewWindowArgs      = {"ICoreWebView2NewWindowRequestedEventArgs", {0x34acb11c, 0xfc37, 0x4418, {0x91, 0x32, 0xf9, 0xc2, 0x1d, 0x1e, 0xaf, 0xb9}}};
// clang-format on

// The settings' put_ slots (ICoreWebView2Settings6 flattened), for the log.
const std::map<int, const char*> kSettingSlots = {{4, "put_IsScriptEnabled"},
                                                  {6, "put_IsWebMessageEnabled"},
                                                  {8, "put_AreDefaultScriptDialogsEnabled"},
                                                  {10, "put_IsStatusBarEnabled"},
                                                  {12, "put_AreDevToolsEnabled"},
                                                  {14, "put_AreDefaultContextMenusEnabled"},
                                                  {16, "put_AreHostObjectsAllowed"},
                                                  {18, "put_IsZoomControlEnabled"},
                                                  {20, "put_IsBuiltInErrorPageEnabled"},
                                                  {24, "put_AreBrowserAcceleratorKeysEnabled"},
                                                  {26, "put_IsPasswordAutosaveEnabled"},
                                                  {28, "put_IsGeneralAutofillEnabled"},
                                                  {30, "put_IsPinchZoomEnabled"},
                                                  {32, "put_IsSwipeNavigationEnabled"}};

// ---- Calling into the editor's objects by slot -------------------------------------

template <class R, class... A>
R call_slot(void* object, int slot, A... args) {
    auto table = *static_cast<void* const**>(object);
    return reinterpret_cast<R(STDMETHODCALLTYPE*)(void*, A...)>(table[slot])(object, args...);
}
ULONG add_ref(void* object) {
    return call_slot<ULONG>(object, 1);
}
ULONG release(void* object) {
    return call_slot<ULONG>(object, 2);
}
void* query(void* object, const GUID& iid) {
    void* out = nullptr;
    return SUCCEEDED(call_slot<HRESULT>(object, 0, &iid, &out)) ? out : nullptr;
}

// A counted reference held by queued work.
struct ComRef {
    void* p;
    explicit ComRef(void* q) : p(q) {
        if (p) add_ref(p);
    }
    ComRef(const ComRef& other) : ComRef(other.p) {}
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (p) release(p);
    }
};

std::string utf8(const wchar_t* text) {
    if (!text) return "(null)";
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, s.data(), n, nullptr, nullptr);
    return s;
}

LPWSTR co_task_copy(const std::wstring& text) {
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy) memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return copy;
}

// ---- Browsers and the shared state --------------------------------------------------

struct Object;

// Everything of one browser (one environment), kept until standin_reset.
struct Browser {
    int id;
    DWORD thread;
    HWND pump = nullptr;
    HWND parent = nullptr;
    std::string ui_class;
    std::wstring user_data_folder;
    std::vector<std::string> log;
    std::deque<std::function<void()>> work;
    void* identity = nullptr;            // the editor handler's IUnknown (not counted)
    void* web_message_handler = nullptr; // counted registrations
    void* navigation_handler = nullptr;
    void* new_window_handler = nullptr;
    bool closed = false;
    int events_done = 0;
};

std::recursive_mutex g_mutex;
std::vector<std::unique_ptr<Browser>> g_browsers;
std::map<std::string, HRESULT> g_failures;
std::set<std::string> g_hidden;
std::atomic<int> g_live{0};
std::vector<std::string> g_posts_in_order; // "BROWSER TEXT" for every page message, all browsers
HINSTANCE g_module;
const UINT kPumpMessage = WM_APP + 1; // the editor's own numbers live on the same thread
const char kPumpClass[] = "EmberStandInPump";

void note(Browser* b, const char* format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard lock(g_mutex);
    b->log.push_back(line);
}

HRESULT failure(const char* step) {
    std::lock_guard lock(g_mutex);
    auto it = g_failures.find(step);
    return it == g_failures.end() ? S_OK : it->second;
}

bool hidden(const char* name) {
    std::lock_guard lock(g_mutex);
    return g_hidden.count(name) != 0;
}

Browser* find_browser(int id) {
    std::lock_guard lock(g_mutex);
    return id >= 1 && id <= (int)g_browsers.size() ? g_browsers[id - 1].get() : nullptr;
}

// Runs later on the browser's thread, from its message loop.
bool post_work(Browser* b, std::function<void()> fn) {
    {
        std::lock_guard lock(g_mutex);
        if (!b->pump) return false;
        b->work.push_back(std::move(fn));
    }
    return PostMessageA(b->pump, kPumpMessage, 0, 0);
}

LRESULT CALLBACK pump_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* b = reinterpret_cast<Browser*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (b && message == kPumpMessage) {
        std::function<void()> fn;
        {
            std::lock_guard lock(g_mutex);
            if (b->work.empty()) return 0;
            fn = std::move(b->work.front());
            b->work.pop_front();
        }
        fn(); // outside the lock: the editor calls back into the stand-in
        return 0;
    }
    if (b && message == WM_DESTROY) {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(g_mutex);
            dropped.swap(b->work);
            b->pump = nullptr;
        }
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// ---- The stand-in's COM objects ----------------------------------------------------

struct Object {
    void* const* vtbl;
    std::atomic<long> refs;
    Browser* browser;
    const char* name;
    std::vector<const Iid*> iids;
    void (*on_free)(Object*);
    Object* env = nullptr; // counted links between objects
    Object* webview = nullptr;
    Object* settings = nullptr;
    std::wstring text; // an event's URI or message
    bool json_only = false;
};

// Every call must come from the browser's thread: the objects are single-threaded.
void check_thread(Object* self) {
    if (GetCurrentThreadId() != self->browser->thread)
        note(self->browser, "COM rule broken: %s called from another thread", self->name);
}

HRESULT STDMETHODCALLTYPE obj_query(Object* self, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    bool match = IsEqualGUID(iid, kUnknown.guid);
    for (const Iid* known : self->iids)
        if (IsEqualGUID(iid, known->guid) && !hidden(known->name)) match = true;
    if (!match) return E_NOINTERFACE;
    ++self->refs;
    *out = self;
    return S_OK;
}
ULONG STDMETHODCALLTYPE obj_add_ref(Object* self) {
    return ++self->refs;
}
ULONG STDMETHODCALLTYPE obj_release(Object* self) {
    long n = --self->refs;
    if (n == 0) {
        if (self->on_free) self->on_free(self);
        for (Object* link : {self->webview, self->settings, self->env})
            if (link) obj_release(link);
        delete self;
        --g_live;
    }
    return n;
}

template <int Slot>
HRESULT STDMETHODCALLTYPE unexpected_call(Object* self) {
    note(self->browser, "unexpected call: %s slot %d", self->name, Slot);
    return E_NOTIMPL;
}

using Slots = std::vector<std::pair<int, void*>>;

template <size_t N, size_t... I>
std::array<void*, N> stub_table(std::index_sequence<I...>) {
    return {reinterpret_cast<void*>(&unexpected_call<(int)I>)...};
}

template <size_t N>
std::array<void*, N> make_vtable(const Slots& slots) {
    auto table = stub_table<N>(std::make_index_sequence<N>());
    table[0] = reinterpret_cast<void*>(&obj_query);
    table[1] = reinterpret_cast<void*>(&obj_add_ref);
    table[2] = reinterpret_cast<void*>(&obj_release);
    for (auto& [slot, fn] : slots) table[slot] = fn;
    return table;
}

Object* make_object(Browser* b, void* const* vtbl, const char* name, std::vector<const Iid*> iids) {
    ++g_live;
    auto* object = new Object{vtbl,    {1},     b,  name, std::move(iids), nullptr, nullptr,
                              nullptr, nullptr, {}, false};
    return object;
}

template <class F>
void* fn(F* f) {
    return reinterpret_cast<void*>(f);
}

// ---- Registrations of the editor's event handlers ----------------------------------

void drop_registrations(Browser* b) {
    void* handlers[3];
    {
        std::lock_guard lock(g_mutex);
        handlers[0] = std::exchange(b->web_message_handler, nullptr);
        handlers[1] = std::exchange(b->navigation_handler, nullptr);
        handlers[2] = std::exchange(b->new_window_handler, nullptr);
    }
    for (void* h : handlers)
        if (h) release(h);
}

// The runtime may ask a handler for its own interface and for IUnknown; both must answer,
// with one identity.
void check_handler(Browser* b, void* handler, const Iid& iid) {
    void* own = query(handler, iid.guid);
    void* unknown = query(handler, kUnknown.guid);
    if (!own) note(b, "COM rule broken: handler does not answer %s", iid.name);
    if (!unknown || unknown != b->identity)
        note(b, "COM rule broken: handler identity differs for %s", iid.name);
    if (own) release(own);
    if (unknown) release(unknown);
}

HRESULT add_handler(Object* self, void* handler, EventRegistrationToken* token,
                    void* Browser::*slot, const Iid& iid, const char* step) {
    check_thread(self);
    Browser* b = self->browser;
    note(b, "%s", step);
    if (HRESULT hr = failure(step); hr != S_OK) return hr;
    if (!handler || !token) return E_POINTER;
    check_handler(b, handler, iid);
    add_ref(handler);
    void* old;
    {
        std::lock_guard lock(g_mutex);
        old = std::exchange(b->*slot, handler);
    }
    if (old) release(old);
    token->value = reinterpret_cast<INT64>(handler);
    return S_OK;
}

// ---- Settings -----------------------------------------------------------------------

template <int Slot>
HRESULT STDMETHODCALLTYPE settings_put(Object* self, BOOL value) {
    check_thread(self);
    const char* name = kSettingSlots.at(Slot);
    note(self->browser, "%s %d", name, value);
    return failure(name);
}

const auto kSettingsVtbl = make_vtable<33>({{4, fn(&settings_put<4>)},
                                            {6, fn(&settings_put<6>)},
                                            {8, fn(&settings_put<8>)},
                                            {10, fn(&settings_put<10>)},
                                            {12, fn(&settings_put<12>)},
                                            {14, fn(&settings_put<14>)},
                                            {16, fn(&settings_put<16>)},
                                            {18, fn(&settings_put<18>)},
                                            {20, fn(&settings_put<20>)},
                                            {24, fn(&settings_put<24>)},
                                            {26, fn(&settings_put<26>)},
                                            {28, fn(&settings_put<28>)},
                                            {30, fn(&settings_put<30>)},
                                            {32, fn(&settings_put<32>)}});

// ---- The browser (ICoreWebView2) ----------------------------------------------------

HRESULT STDMETHODCALLTYPE webview_get_settings(Object* self, void** out) {
    check_thread(self);
    note(self->browser, "get_Settings");
    if (HRESULT hr = failure("get_Settings"); hr != S_OK) return hr;
    obj_add_ref(self->settings);
    *out = self->settings;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE webview_navigate(Object* self, LPCWSTR uri) {
    check_thread(self);
    note(self->browser, "Navigate %s", utf8(uri).c_str());
    return failure("Navigate");
}

HRESULT STDMETHODCALLTYPE webview_post_string(Object* self, LPCWSTR text) {
    check_thread(self);
    note(self->browser, "PostWebMessageAsString %s", utf8(text).c_str());
    std::lock_guard lock(g_mutex);
    g_posts_in_order.push_back(std::to_string(self->browser->id) + " " + utf8(text));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE webview_add_navigation(Object* self, void* handler,
                                                 EventRegistrationToken* token) {
    return add_handler(self, handler, token, &Browser::navigation_handler, kNavigationHandler,
                       "add_NavigationStarting");
}
HRESULT STDMETHODCALLTYPE webview_add_web_message(Object* self, void* handler,
                                                  EventRegistrationToken* token) {
    return add_handler(self, handler, token, &Browser::web_message_handler, kWebMessageHandler,
                       "add_WebMessageReceived");
}
HRESULT STDMETHODCALLTYPE webview_add_new_window(Object* self, void* handler,
                                                 EventRegistrationToken* token) {
    return add_handler(self, handler, token, &Browser::new_window_handler, kNewWindowHandler,
                       "add_NewWindowRequested");
}

const auto kWebViewVtbl = make_vtable<61>({{3, fn(&webview_get_settings)},
                                           {5, fn(&webview_navigate)},
                                           {7, fn(&webview_add_navigation)},
                                           {33, fn(&webview_post_string)},
                                           {34, fn(&webview_add_web_message)},
                                           {44, fn(&webview_add_new_window)}});

// ---- The controller ------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE controller_put_visible(Object* self, BOOL visible) {
    check_thread(self);
    note(self->browser, "put_IsVisible %d", visible);
    return failure("put_IsVisible");
}

HRESULT STDMETHODCALLTYPE controller_put_bounds(Object* self, RECT r) {
    check_thread(self);
    note(self->browser, "put_Bounds %ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
    return failure("put_Bounds");
}

HRESULT STDMETHODCALLTYPE controller_move_focus(Object* self, INT32 reason) {
    check_thread(self);
    note(self->browser, "MoveFocus %d", reason);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE controller_close(Object* self) {
    check_thread(self);
    note(self->browser, "Close");
    self->browser->closed = true;
    drop_registrations(self->browser);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE controller_get_webview(Object* self, void** out) {
    check_thread(self);
    if (HRESULT hr = failure("get_CoreWebView2"); hr != S_OK) {
        note(self->browser, "get_CoreWebView2 failed");
        return hr;
    }
    obj_add_ref(self->webview);
    *out = self->webview;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE controller_put_external_drop(Object* self, BOOL value) {
    check_thread(self);
    note(self->browser, "put_AllowExternalDrop %d", value);
    return S_OK;
}

const auto kControllerVtbl = make_vtable<38>({{4, fn(&controller_put_visible)},
                                              {6, fn(&controller_put_bounds)},
                                              {12, fn(&controller_move_focus)},
                                              {24, fn(&controller_close)},
                                              {25, fn(&controller_get_webview)},
                                              {37, fn(&controller_put_external_drop)}});

void controller_freed(Object* self) {
    if (!self->browser->closed) drop_registrations(self->browser);
}

// ---- The environment -----------------------------------------------------------------

void environment_freed(Object* self) {
    Browser* b = self->browser;
    if (b->pump && GetCurrentThreadId() == b->thread) DestroyWindow(b->pump);
}

HRESULT STDMETHODCALLTYPE environment_create_controller(Object* self, HWND parent, void* handler) {
    check_thread(self);
    Browser* b = self->browser;
    note(b, "CreateCoreWebView2Controller");
    if (HRESULT hr = failure("CreateCoreWebView2Controller"); hr != S_OK) return hr;
    if (!handler) return E_POINTER;
    {
        std::lock_guard lock(g_mutex);
        b->parent = parent;
    }
    post_work(b, [b, env = ComRef(self), handler = ComRef(handler)] {
        HRESULT hr = failure("controller");
        Object* controller = nullptr;
        if (hr == S_OK) {
            controller = make_object(b, kControllerVtbl.data(), "ICoreWebView2Controller",
                                     {&kController, &kController2, &kController3, &kController4});
            controller->on_free = controller_freed;
            controller->env = static_cast<Object*>(env.p);
            obj_add_ref(controller->env);
            controller->webview = make_object(b, kWebViewVtbl.data(), "ICoreWebView2", {&kWebView});
            controller->webview->settings = make_object(
                b, kSettingsVtbl.data(), "ICoreWebView2Settings",
                {&kSettings, &kSettings2, &kSettings3, &kSettings4, &kSettings5, &kSettings6});
        }
        HRESULT result = call_slot<HRESULT>(handler.p, 3, hr, static_cast<void*>(controller));
        note(b, "controller completed -> 0x%08lx", result);
        if (controller) obj_release(controller);
    });
    return S_OK;
}

const auto kEnvironmentVtbl = make_vtable<8>({{3, fn(&environment_create_controller)}});

// ---- Event arguments -------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE args_get_text(Object* self, LPWSTR* out) {
    check_thread(self);
    if (!out) return E_POINTER;
    *out = co_task_copy(self->text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE message_try_get_string(Object* self, LPWSTR* out) {
    check_thread(self);
    if (!out) return E_POINTER;
    *out = nullptr;
    if (self->json_only) return E_INVALIDARG;
    return args_get_text(self, out);
}

HRESULT STDMETHODCALLTYPE navigation_put_cancel(Object* self, BOOL value) {
    check_thread(self);
    note(self->browser, "put_Cancel %d", value);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE new_window_put_handled(Object* self, BOOL value) {
    check_thread(self);
    note(self->browser, "put_Handled %d", value);
    return S_OK;
}

// clang-format off
const auto kMessageArgsVtbl = make_vtable<6>({{3, fn(&args_get_text)}, {5, fn(&message_try_get_string)}});
const auto kNavigationArgsVtbl = make_vtable<10>({{3, fn(&args_get_text)}, {8, fn(&navigation_put_cancel)}});
const auto kNewWindowArgsVtbl = make_vtable<11>({{3, fn(&args_get_text)}, {6, fn(&new_window_put_handled)}});
// clang-format on

// Raises one event on the browser's thread with a fresh arguments object.
int raise_event(Browser* b, void* Browser::*slot, Object* args) {
    bool queued = post_work(b, [b, slot, args = ComRef(args)] {
        void* handler;
        {
            std::lock_guard lock(g_mutex);
            handler = b->*slot;
            if (handler) add_ref(handler);
        }
        const char* name = static_cast<Object*>(args.p)->name;
        if (handler) {
            void* sender = nullptr;
            HRESULT result = call_slot<HRESULT>(handler, 3, sender, args.p);
            note(b, "%s -> 0x%08lx", name, result);
            release(handler);
        } else {
            note(b, "%s dropped: no handler", name);
        }
        std::lock_guard lock(g_mutex);
        ++b->events_done;
    });
    obj_release(args);
    return queued ? 0 : -1;
}

} // namespace

// ---- The loader's entry point --------------------------------------------------------

extern "C" __declspec(dllexport) HRESULT WINAPI
    CreateCoreWebView2EnvironmentWithOptions(PCWSTR, PCWSTR user_data_folder, void* options,
                                             void* handler) {
    Browser* b;
    {
        std::lock_guard lock(g_mutex);
        g_browsers.push_back(std::make_unique<Browser>());
        b = g_browsers.back().get();
        b->id = (int)g_browsers.size();
        b->thread = GetCurrentThreadId();
    }
    note(b, "CreateCoreWebView2EnvironmentWithOptions");

    // The thread must be a single-threaded apartment already.
    HRESULT apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(apartment)) CoUninitialize();
    if (apartment != S_FALSE) return apartment == S_OK ? CO_E_NOTINITIALIZED : apartment;
    if (!handler || !user_data_folder) return E_INVALIDARG;

    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM lparam) -> BOOL {
            char name[64];
            GetClassNameA(window, name, sizeof name);
            reinterpret_cast<Browser*>(lparam)->ui_class = name;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(b));

    // The runtime makes its user-data folder first, and may fail afterwards.
    b->user_data_folder = user_data_folder;
    CreateDirectoryW(user_data_folder, nullptr);
    CreateDirectoryW((b->user_data_folder + L"\\EBWebView").c_str(), nullptr);
    HANDLE state = CreateFileW((b->user_data_folder + L"\\EBWebView\\Local State").c_str(),
                               GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (state != INVALID_HANDLE_VALUE) CloseHandle(state);
    note(b, "user data folder %s", utf8(user_data_folder).c_str());

    if (options) {
        void* own = query(options, kOptions.guid);
        void* unknown = query(options, kUnknown.guid);
        if (!own || !unknown) note(b, "COM rule broken: options do not answer their interfaces");
        if (own) release(own);
        if (unknown) release(unknown);
        LPWSTR arguments = nullptr, language = nullptr, version = nullptr;
        BOOL sso = TRUE;
        call_slot<HRESULT>(options, 3, &arguments);
        call_slot<HRESULT>(options, 5, &language);
        call_slot<HRESULT>(options, 7, &version);
        call_slot<HRESULT>(options, 9, &sso);
        note(b, "options arguments=%s language=%s version=%s sso=%d", utf8(arguments).c_str(),
             utf8(language).c_str(), utf8(version).c_str(), sso);
        CoTaskMemFree(arguments);
        CoTaskMemFree(language);
        CoTaskMemFree(version);
    }
    b->identity = query(handler, kUnknown.guid);
    if (b->identity) release(b->identity);

    if (HRESULT hr = failure("CreateCoreWebView2EnvironmentWithOptions"); hr != S_OK) return hr;

    WNDCLASSA wc{};
    wc.lpfnWndProc = pump_proc;
    wc.hInstance = g_module;
    wc.lpszClassName = kPumpClass;
    RegisterClassA(&wc); // once per process; later calls find it registered
    HWND pump =
        CreateWindowExA(0, kPumpClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr);
    if (!pump) return HRESULT_FROM_WIN32(GetLastError());
    SetWindowLongPtrA(pump, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(b));
    {
        std::lock_guard lock(g_mutex);
        b->pump = pump;
    }

    Object* env =
        make_object(b, kEnvironmentVtbl.data(), "ICoreWebView2Environment", {&kEnvironment});
    env->on_free = environment_freed;
    post_work(b, [b, env = ComRef(env), handler = ComRef(handler)] {
        HRESULT hr = failure("environment");
        HRESULT result = call_slot<HRESULT>(handler.p, 3, hr, hr == S_OK ? env.p : nullptr);
        note(b, "environment completed -> 0x%08lx", result);
    });
    obj_release(env);
    return S_OK;
}

// ---- Test controls ----------------------------------------------------------------------

STAND_IN_API void standin_reset(void) {
    static std::vector<std::unique_ptr<Browser>> retired; // objects may still point at them
    std::lock_guard lock(g_mutex);
    g_failures.clear();
    g_hidden.clear();
    for (auto& b : g_browsers) retired.push_back(std::move(b));
    g_browsers.clear();
    g_posts_in_order.clear();
}

STAND_IN_API void standin_fail(const char* step, HRESULT result) {
    std::lock_guard lock(g_mutex);
    g_failures[step] = result;
}

STAND_IN_API void standin_hide(const char* interface_name) {
    std::lock_guard lock(g_mutex);
    g_hidden.insert(interface_name);
}

STAND_IN_API int standin_last_browser(void) {
    std::lock_guard lock(g_mutex);
    return (int)g_browsers.size();
}

STAND_IN_API int standin_browser_of(HWND parent) {
    std::lock_guard lock(g_mutex);
    for (auto& b : g_browsers)
        if (b->parent == parent) return b->id;
    return 0;
}

namespace {
int copy_out(const std::string& text, char* out, int capacity) {
    if (out && capacity > 0) snprintf(out, capacity, "%s", text.c_str());
    return (int)text.size();
}
} // namespace

STAND_IN_API int standin_log(int browser, char* out, int capacity) {
    std::lock_guard lock(g_mutex);
    Browser* b = find_browser(browser);
    std::string text;
    if (b)
        for (auto& line : b->log) text += line + "\n";
    return copy_out(text, out, capacity);
}

STAND_IN_API int standin_posts_in_order(char* out, int capacity) {
    std::lock_guard lock(g_mutex);
    std::string text;
    for (auto& line : g_posts_in_order) text += line + "\n";
    return copy_out(text, out, capacity);
}

STAND_IN_API int standin_ui_class(int browser, char* out, int capacity) {
    std::lock_guard lock(g_mutex);
    Browser* b = find_browser(browser);
    return copy_out(b ? b->ui_class : "", out, capacity);
}

STAND_IN_API int standin_user_data_folder(int browser, wchar_t* out, int capacity) {
    std::lock_guard lock(g_mutex);
    Browser* b = find_browser(browser);
    std::wstring folder = b ? b->user_data_folder : L"";
    if (out && capacity > 0) lstrcpynW(out, folder.c_str(), capacity);
    return (int)folder.size();
}

STAND_IN_API int standin_page_message(int browser, const wchar_t* text, int as_json) {
    Browser* b = find_browser(browser);
    if (!b) return -1;
    Object* args =
        make_object(b, kMessageArgsVtbl.data(), "WebMessageReceived", {&kWebMessageArgs});
    args->text = text;
    args->json_only = as_json != 0;
    return raise_event(b, &Browser::web_message_handler, args);
}

STAND_IN_API int standin_navigation(int browser, const wchar_t* uri, int new_window) {
    Browser* b = find_browser(browser);
    if (!b) return -1;
    Object* args =
        new_window
            ? make_object(b, kNewWindowArgsVtbl.data(), "NewWindowRequested", {&kNewWindowArgs})
            : make_object(b, kNavigationArgsVtbl.data(), "NavigationStarting", {&kNavigationArgs});
    args->text = uri;
    return raise_event(b, new_window ? &Browser::new_window_handler : &Browser::navigation_handler,
                       args);
}

STAND_IN_API int standin_events_done(int browser) {
    std::lock_guard lock(g_mutex);
    Browser* b = find_browser(browser);
    return b ? b->events_done : -1;
}

STAND_IN_API int standin_live_objects(void) {
    return g_live;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) g_module = module;
    return TRUE;
}
