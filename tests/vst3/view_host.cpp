#include "view_host.h"

#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "ui/win32/backend_win32.h"

namespace fs = std::filesystem;

// --- The stand-in beside the module under test ---------------------------------------

namespace {
std::string module_folder_path() {
    const std::string module = EMBER_VST3_MODULE;
    return module.substr(0, module.find_last_of('/'));
}

template <class F>
void resolve(const LoadedModule& m, F& fn, const char* name) {
    fn = reinterpret_cast<F>(module_symbol(m, name));
    if (!fn) ADD_FAILURE() << "the stand-in lacks " << name;
}

StandIn controls_of(const LoadedModule& m) {
    StandIn s{};
    resolve(m, s.reset, "standin_reset");
    resolve(m, s.fail, "standin_fail");
    resolve(m, s.last_browser, "standin_last_browser");
    resolve(m, s.browser_of, "standin_browser_of");
    resolve(m, s.log, "standin_log");
    resolve(m, s.posts_in_order, "standin_posts_in_order");
    resolve(m, s.ui_class, "standin_ui_class");
    resolve(m, s.page_message, "standin_page_message");
    resolve(m, s.events_done, "standin_events_done");
    resolve(m, s.live_objects, "standin_live_objects");
    return s;
}

const StandIn* g_other_stand_in = nullptr;
} // namespace

const StandIn& stand_in() {
    static const StandIn beside_module = [] {
        LoadedModule m = module_load(module_folder_path() + "/WebView2Loader.dll");
        if (!m.handle) {
            ADD_FAILURE() << "no stand-in beside the module: " << m.error;
            return StandIn{};
        }
        return controls_of(m); // stays loaded for the whole test program
    }();
    return g_other_stand_in ? *g_other_stand_in : beside_module;
}

void use_stand_in(HMODULE library) {
    static StandIn other;
    other = library ? controls_of(LoadedModule{library, {}}) : StandIn{};
    g_other_stand_in = library ? &other : nullptr;
}

namespace {
std::vector<std::string> lines_of(const std::function<int(char*, int)>& read) {
    std::string text(read(nullptr, 0) + 1, '\0');
    read(text.data(), int(text.size()));
    std::vector<std::string> lines;
    std::istringstream in(text.c_str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
} // namespace

std::vector<std::string> browser_log(int browser) {
    return lines_of([&](char* out, int n) { return stand_in().log(browser, out, n); });
}

std::vector<std::string> page_posts(int browser) {
    static const std::string prefix = "PostWebMessageAsString ";
    std::vector<std::string> posts;
    for (auto& line : browser_log(browser))
        if (line.rfind(prefix, 0) == 0) posts.push_back(line.substr(prefix.size()));
    return posts;
}

std::vector<std::string> posts_in_order() {
    return lines_of(stand_in().posts_in_order);
}

std::string report(uint32_t index, float value) {
    char text[32];
    std::snprintf(text, sizeof text, "s %08x %08x", index, std::bit_cast<uint32_t>(value));
    return text;
}

std::vector<std::string> reports(const std::vector<float>& values) {
    std::vector<std::string> out;
    for (size_t i = 0; i < values.size(); ++i) out.push_back(report(uint32_t(i), values[i]));
    return out;
}

void expect_classes_gone(const std::string& ui_class) {
    ASSERT_FALSE(ui_class.empty()) << "no editor window was seen";
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), ui_class.c_str(), &wc)) << ui_class;
    // The relay window's class: the same address behind another letter.
    std::string relay_class = ui_class;
    relay_class[0] = 'd';
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), relay_class.c_str(), &wc))
        << relay_class;
}

void expect_classes_gone(int browser) {
    char name[64] = "";
    stand_in().ui_class(browser, name, sizeof name);
    EXPECT_NE(name[0], '\0') << "browser " << browser << " saw no editor window";
    expect_classes_gone(std::string(name));
}

// --- Threads, messages and windows ----------------------------------------------------

bool pump_until(const std::function<bool()>& done, int ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start > DWORD(ms)) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void deliver(int browser, const wchar_t* text) {
    const int before = stand_in().events_done(browser);
    ASSERT_EQ(stand_in().page_message(browser, text, 0), 0);
    ASSERT_TRUE(pump_until([&] { return stand_in().events_done(browser) > before; }));
}

void deliver_until_relayed(int browser, const wchar_t* text) {
    ASSERT_EQ(stand_in().page_message(browser, text, 0), 0);
    const DWORD start = GetTickCount();
    MSG msg;
    while (!PeekMessageA(&msg, nullptr, EDITOR_MSG_RELAY, EDITOR_MSG_RELAY, PM_NOREMOVE)) {
        ASSERT_LT(GetTickCount() - start, 20000u) << "the edit was never relayed";
        Sleep(1);
    }
}

HWND make_parent_window() {
    return CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN,
                           10, 10, 1100, 700, nullptr, nullptr, nullptr, nullptr);
}

HWND editor_window_in(HWND parent) {
    HWND found = nullptr;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM out) -> BOOL {
            if (GetWindowThreadProcessId(child, nullptr) == GetCurrentThreadId()) return TRUE;
            *reinterpret_cast<HWND*>(out) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// --- The component handler -------------------------------------------------------------

namespace {
EditHandler* as_handler(IComponentHandler* h) {
    return reinterpret_cast<EditHandler*>(h);
}
void record(IComponentHandler* h, char kind, ParamID id, double value) {
    EditHandler* handler = as_handler(h);
    HostCall call{kind, id, value, GetCurrentThreadId() == handler->host_thread};
    handler->calls.push_back(call);
    if (handler->react) handler->react(call);
}
tresult handler_query(IComponentHandler* h, const char* iid, void** obj) {
    if (uid_equal(iid, kFUnknownIid) || uid_equal(iid, kIComponentHandlerIid)) {
        *obj = h;
        ++as_handler(h)->refs;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}
uint32_t handler_add_ref(IComponentHandler* h) {
    return uint32_t(++as_handler(h)->refs);
}
uint32_t handler_release(IComponentHandler* h) {
    return uint32_t(--as_handler(h)->refs);
}
tresult begin_edit(IComponentHandler* h, ParamID id) {
    record(h, 'b', id, 0);
    return kResultOk;
}
tresult perform_edit(IComponentHandler* h, ParamID id, ParamValue value) {
    record(h, 'p', id, value);
    return kResultOk;
}
tresult end_edit(IComponentHandler* h, ParamID id) {
    record(h, 'e', id, 0);
    return kResultOk;
}
tresult restart_component(IComponentHandler*, int32_t) {
    return kResultOk;
}
const IComponentHandlerVtbl kHandlerVtbl = {{handler_query, handler_add_ref, handler_release},
                                            begin_edit,
                                            perform_edit,
                                            end_edit,
                                            restart_component};
} // namespace

EditHandler::EditHandler() : iface{&kHandlerVtbl} {}

void PrintTo(const HostCall& call, std::ostream* out) {
    *out << call.kind << " " << call.id << " " << call.value
         << (call.on_host_thread ? "" : " (another thread)");
}

// --- Sessions and views ------------------------------------------------------------------

Session::Session(IPluginFactory3* factory) {
    void* obj = nullptr;
    if (!factory || factory->vtbl->createInstance(
                        factory, make_uid(0x0301513B, 0x7A934919, 0xB64CA7F5, 0x703CCE54).bytes,
                        kIEditControllerIid.bytes, &obj) != kResultOk) {
        ADD_FAILURE() << "no controller";
        return;
    }
    controller = static_cast<IEditController*>(obj);
    EXPECT_EQ(controller->vtbl->initialize(controller, reinterpret_cast<FUnknown*>(controller)),
              kResultOk);
    EXPECT_EQ(controller->vtbl->setComponentHandler(controller, &handler.iface), kResultOk);
}

Session::~Session() {
    if (!controller) return;
    controller->vtbl->terminate(controller);
    EXPECT_EQ(release(controller), 0u);
    EXPECT_EQ(handler.refs, 1) << "the controller released the handler";
}

IPlugView* Session::create_view() {
    IPlugView* view = controller ? controller->vtbl->createView(controller, "editor") : nullptr;
    EXPECT_NE(view, nullptr);
    return view;
}

void Session::set(ParamID id, double normalized) {
    EXPECT_EQ(controller->vtbl->setParamNormalized(controller, id, normalized), kResultOk);
}

OpenView open_view(Session& session) {
    OpenView v;
    v.view = session.create_view();
    v.parent = make_parent_window();
    if (!v.view) return v;
    EXPECT_EQ(v.view->vtbl->attached(v.view, v.parent, kPlatformTypeHWND), kResultOk);
    v.ui_window = editor_window_in(v.parent);
    EXPECT_NE(v.ui_window, nullptr) << "the editor's window is inside the host's";
    v.browser = stand_in().browser_of(v.ui_window);
    EXPECT_GT(v.browser, 0);
    return v;
}

void close_view(OpenView& v) {
    EXPECT_EQ(v.view->vtbl->removed(v.view), kResultOk);
    EXPECT_EQ(release(v.view), 0u);
    DestroyWindow(v.parent);
}

// --- The fixture ---------------------------------------------------------------------------

void ViewTest::SetUp() {
    stand_in().reset();
    static int count = 0;
    const std::string base = scratch_folder() + "\\view-" + std::to_string(++count);
    temp_folder_ = fs::path(base + "-temp").wstring();
    appdata_folder_ = fs::path(base + "-appdata").wstring();
    fs::create_directories(temp_folder_);
    fs::create_directories(appdata_folder_);
    // Read by the editor (GetTempPathW) and the news store, in this process.
    SetEnvironmentVariableW(L"TMP", temp_folder_.c_str());
    SetEnvironmentVariableW(L"TEMP", temp_folder_.c_str());
    SetEnvironmentVariableW(L"APPDATA", appdata_folder_.c_str());
}

void ViewTest::TearDown() {
    std::error_code ignored;
    fs::remove_all(temp_folder_, ignored);
    fs::remove_all(appdata_folder_, ignored);
}

std::vector<std::wstring> ViewTest::temp_entries() const {
    std::vector<std::wstring> names;
    for (auto& entry : fs::directory_iterator(temp_folder_))
        names.push_back(entry.path().filename().wstring());
    return names;
}

void ViewTest::expect_nothing_left(std::initializer_list<int> browsers) const {
    EXPECT_TRUE(temp_entries().empty()) << "temporary file or user-data folder left behind";
    EXPECT_EQ(stand_in().live_objects(), 0) << "browser objects still referenced";
    for (int browser : browsers) expect_classes_gone(browser);
}
