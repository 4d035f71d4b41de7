// The Windows backend: the browser lives on a user-interface thread of its own (a
// single-threaded COM apartment with its own message loop) in a window that is
// re-parented into the host's window; a hidden relay window on the creating thread
// receives the calls for the host's thread. Each thread waits on an event of its own
// while it keeps answering sent window messages, so that window calls between the two
// threads (re-parenting, resizing, destroying) never block.
//
// Everything is released by owners, in the reverse order of making: the UI thread's
// owners when its body returns (normal end, failed start, window destroyed from
// outside), the creating thread's when the backend is deleted (closed, or a failed
// open).
//
// The browser's environment comes from the loader library beside the module when it is
// there, else from the installed runtime, which the editor finds itself. When neither
// gives a browser (no runtime, or one that fails to start), the editor's window shows
// the no-runtime panel instead, and the editor still opens: the host's own controls
// keep working, and values wait in the editor's cache for a page that never comes.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "ui/win32/backend_win32.h"
#include "ui/win32/no_runtime_panel.h"
#include "ui/win32/webview.h"
#include "ui/win32/webview2_runtime.h"

namespace {

// ---- Owners ------------------------------------------------------------------------

struct handle_closer {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using owned_handle = std::unique_ptr<void, handle_closer>;

struct library_freer {
    void operator()(HMODULE m) const { FreeLibrary(m); }
};
using owned_library = std::unique_ptr<std::remove_pointer_t<HMODULE>, library_freer>;

struct heap_freer {
    void operator()(void* p) const { free(p); }
};
using owned_text = std::unique_ptr<wchar_t[], heap_freer>;

template <class T>
struct com_releaser {
    void operator()(T* p) const { p->Release(); }
};
template <class T>
using com_ref = std::unique_ptr<T, com_releaser<T>>;

// The UI window's class, named after the backend's address so that editors differ.
class window_class {
  public:
    window_class() = default;
    window_class(const window_class&) = delete;
    window_class& operator=(const window_class&) = delete;
    ~window_class() {
        if (registered_) UnregisterClassA(name_, nullptr);
    }
    bool register_class(const void* owner, WNDPROC procedure, HCURSOR cursor) {
        snprintf(name_, sizeof name_, "c%llX", (unsigned long long)(uintptr_t)owner);
        WNDCLASSA wc{};
        wc.lpfnWndProc = procedure;
        wc.cbWndExtra = sizeof(void*);
        wc.hCursor = cursor;
        wc.lpszClassName = name_;
        registered_ = RegisterClassA(&wc) != 0;
        return registered_;
    }
    const char* name() const { return name_; }

  private:
    char name_[32] = "";
    bool registered_ = false;
};

// A window that may also be destroyed from outside: its procedure clears the slot then.
class window_owner {
  public:
    explicit window_owner(std::atomic<HWND>& slot) : slot_(slot) {}
    window_owner(const window_owner&) = delete;
    window_owner& operator=(const window_owner&) = delete;
    ~window_owner() {
        if (HWND w = slot_.exchange(nullptr)) DestroyWindow(w);
    }

  private:
    std::atomic<HWND>& slot_;
};

class com_apartment {
  public:
    com_apartment() = default;
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
    ~com_apartment() {
        if (entered_) CoUninitialize();
    }
    bool enter() {
        entered_ =
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
        return entered_;
    }

  private:
    bool entered_ = false;
};

void delete_folder(const wchar_t* double_nul_terminated) {
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = double_nul_terminated;
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationW(&op);
}

// The browser's user-data folder: the temporary file's path without its extension. A
// runtime may make the folder and fail afterwards, so it is deleted whenever it was named.
class user_data_folder {
  public:
    user_data_folder() = default;
    user_data_folder(const user_data_folder&) = delete;
    user_data_folder& operator=(const user_data_folder&) = delete;
    ~user_data_folder() {
        if (path_) delete_folder(path_.get());
    }
    bool name_after(const wchar_t* temp_file) {
        path_.reset(_wcsdup(temp_file));
        if (!path_) return false;
        const size_t length = wcslen(path_.get());
        path_[length - 4] = L'\0'; // and a second NUL, as SHFileOperationW wants
        path_[length - 3] = L'\0';
        return true;
    }
    const wchar_t* path() const { return path_.get(); }

  private:
    owned_text path_;
};

// A new empty file in the temporary folder, which reserves a unique name for the
// browser's user-data folder while the browser starts.
class temp_file {
  public:
    temp_file() = default;
    temp_file(const temp_file&) = delete;
    temp_file& operator=(const temp_file&) = delete;
    ~temp_file() {
        if (made_) DeleteFileW(path_);
    }
    bool make() {
        made_ = GetTempPathW(MAX_PATH + 2, path_) && GetTempFileNameW(path_, L"vino", 0, path_);
        return made_;
    }
    const wchar_t* path() const { return path_; }

  private:
    wchar_t path_[MAX_PATH + 2] = L"";
    bool made_ = false;
};

// Closes the browser (if it became ready) before anything else of the UI thread goes,
// or earlier when it fails to show and the panel takes its place.
class browser_closer {
  public:
    explicit browser_closer(browser_host& host) : host_(host) {}
    browser_closer(const browser_closer&) = delete;
    browser_closer& operator=(const browser_closer&) = delete;
    ~browser_closer() { close(); }
    void close() {
        if (ICoreWebView2Controller* c = host_.controller) {
            host_.controller = nullptr;
            c->Close();
            c->Release();
        }
    }

  private:
    browser_host& host_;
};

// The panel shown instead of the browser (ui/win32/no_runtime_panel.h); the slot is
// read by the window procedure, so it is cleared before the panel goes.
class panel_owner {
  public:
    explicit panel_owner(no_runtime_panel*& slot) : slot_(slot) {}
    panel_owner(const panel_owner&) = delete;
    panel_owner& operator=(const panel_owner&) = delete;
    ~panel_owner() { no_runtime_panel_destroy(std::exchange(slot_, nullptr)); }

  private:
    no_runtime_panel*& slot_;
};

// ---- Small helpers -------------------------------------------------------------------

// Win32 setters return 0 both for failure and for a previous value of 0.
bool set_window_long(HWND window, int index, LONG_PTR value) {
    SetLastError(0);
    return SetWindowLongPtrA(window, index, value) != 0 || GetLastError() == 0;
}

// Waits without time-out on a thread that owns windows. The other thread's window
// calls may send messages here (re-parenting and destroying a window activate and
// deactivate its parent); those are answered meanwhile, posted messages stay queued.
DWORD wait_answering_sent_messages(DWORD count, const HANDLE* handles) {
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjectsEx(count, handles, INFINITE, QS_SENDMESSAGE, 0);
        if (r != WAIT_OBJECT_0 + count) return r;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// A UTF-8 folder followed by a UTF-16 file name, as one heap UTF-16 path; null when
// the folder is missing or not UTF-8, or out of memory.
owned_text folder_path(const char* folder, const wchar_t* name) {
    const int count =
        folder ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, folder, -1, nullptr, 0) : 0;
    if (count == 0) return nullptr;
    const size_t name_length = wcslen(name);
    owned_text path(static_cast<wchar_t*>(malloc((count + name_length) * sizeof(wchar_t))));
    if (!path) return nullptr;
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, folder, -1, path.get(), count);
    wcscpy(path.get() + count - 1, name);
    return path;
}

// ---- Where the browser comes from ------------------------------------------------------

// The entry point that creates the browser's environment, and the library it lives in
// (none when the editor starts the installed runtime itself).
struct browser_loader {
    owned_library library;
    CreateEnvironmentWithOptionsFn create_environment = nullptr;
};

// The one place the browser's environment is looked for: the loader library beside the
// module when it is there with its entry point, else the installed runtime. Empty only
// when the module folder cannot be read.
browser_loader find_browser_loader(const char* module_folder) {
    browser_loader found;
    owned_text path = folder_path(module_folder, L"\\WebView2Loader.dll");
    if (!path) return found;
    found.library.reset(LoadLibraryW(path.get()));
    if (found.library)
        found.create_environment =
            reinterpret_cast<CreateEnvironmentWithOptionsFn>(reinterpret_cast<void*>(
                GetProcAddress(found.library.get(), "CreateCoreWebView2EnvironmentWithOptions")));
    if (!found.create_environment) {
        found.library.reset();
        found.create_environment = webview2_runtime_create_environment;
    }
    return found;
}

} // namespace

// ---- The backend's record ----------------------------------------------------------------

// How far the browser got. One that cannot start leaves `failed`: the no-runtime panel
// then shows in the editor's window, and the UI thread runs on until the editor closes.
enum class browser_state { starting, ready, failed };

struct page_backend : browser_host {
    explicit page_backend(editor* owner) : browser_host(owner) {}
    page_backend(const page_backend&) = delete;
    page_backend& operator=(const page_backend&) = delete;
    // Ends the UI thread first; the members then go in reverse order.
    ~page_backend();

    owned_library loader;
    owned_handle page_wake;      // auto-reset: the UI thread has work (and ends its waits)
    owned_handle creating_wake;  // auto-reset: ends the creating thread's waits
    owned_handle started;        // the browser is ready
    HWND relay_window = nullptr; // on the creating thread; see make_relay_window
    owned_handle ui_thread;

    HWND parent = nullptr;
    std::atomic<bool> teardown_requested{false};
    std::atomic<browser_state> browser{browser_state::starting};
    no_runtime_panel* panel = nullptr; // UI thread only; see panel_owner
};

namespace {

// ---- The UI thread -------------------------------------------------------------------

// What the creating thread gives the UI thread. It lives in the creating thread's frame
// until the browser is ready or the UI thread has ended.
struct ui_thread_start {
    page_backend* b;
    bool embedded;
    int width, height;
    CreateEnvironmentWithOptionsFn create_environment;
    const wchar_t* page_path;
    const wchar_t* temp_path;
};

// What the UI thread makes, released in reverse order when its body returns: the
// browser is closed, its user-data folder deleted, the browser objects released, the
// panel (if any) and the window destroyed, their classes unregistered, and the
// apartment left.
struct ui_thread_resources {
    explicit ui_thread_resources(page_backend* b)
        : window(b->ui_window), panel(b->panel), browser(*b) {}
    com_apartment apartment;
    window_class ui_class;
    window_owner window;
    panel_owner panel;
    com_ref<WV2EnvironmentOptions> options;
    com_ref<WV2Handler> handler;
    user_data_folder folder;
    browser_closer browser;
};

page_backend* window_backend(HWND window) {
    return reinterpret_cast<page_backend*>(GetWindowLongPtrA(window, 0));
}

LRESULT CALLBACK ui_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    page_backend* b = window_backend(window);
    if (!b) return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
    case WM_DESTROY:
        // Also when the host's window goes first: a page edit waiting for the host stops.
        editor_page_state(b->ed, b, page_state::closed);
        PostQuitMessage(0);
        break;
    case WM_NCDESTROY:
        b->ui_window = nullptr;
        break;
    case WM_SETFOCUS:
        if (b->controller) b->controller->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
        break;
    case WM_SIZE:
        if (b->controller) {
            RECT bounds;
            GetClientRect(window, &bounds);
            b->controller->put_Bounds(bounds);
            return 0;
        }
        if (b->panel) {
            no_runtime_panel_fit(b->panel);
            return 0;
        }
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// The editor's window, the apartment and the browser objects. False when any step fails.
bool make_window(ui_thread_resources& r, const ui_thread_start& start) {
    page_backend* b = start.b;
    auto cursor =
        static_cast<HCURSOR>(LoadImageA(nullptr, IDC_ARROW, IMAGE_CURSOR, 0, 0, LR_SHARED));
    if (!cursor || !r.ui_class.register_class(b, ui_window_proc, cursor)) return false;

    HWND window =
        start.embedded
            ? CreateWindowExA(WS_EX_NOACTIVATE, r.ui_class.name(), "", 0, 0, 0, start.width,
                              start.height, nullptr, nullptr, nullptr, nullptr)
            : CreateWindowExA(0, r.ui_class.name(), "", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0, 0,
                              start.width, start.height, nullptr, nullptr, nullptr, nullptr);
    if (!window) return false;
    b->ui_window = window;
    if (start.embedded && !set_window_long(window, GWL_STYLE, 0)) return false;
    if (!set_window_long(window, 0, reinterpret_cast<LONG_PTR>(b))) return false;
    if (!r.apartment.enter() || !r.folder.name_after(start.temp_path)) return false;

    r.options.reset(new (std::nothrow) WV2EnvironmentOptions());
    r.handler.reset(new (std::nothrow) WV2Handler(b, start.page_path));
    return r.options && r.handler &&
           SUCCEEDED(r.options->put_AdditionalBrowserArguments(L"--allow-file-access-from-files"));
}

// Moves the editor's window into the host's window (stand-alone: keeps it a window of
// its own). False when the window system refuses.
bool place_in_host(page_backend* b, HWND window) {
    SetLastError(0);
    if (!SetParent(window, b->parent) && GetLastError() != 0) return false;
    return SetWindowPos(window, nullptr, 0, 0, 0, 0,
                        SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

void open_download_page(void*, const wchar_t* address) {
    open_externally(address);
}

// No browser: the editor's window goes into the host's window as it would with the
// browser, the panel fills it, and editor_create returns. The page never comes, so
// texts for it are dropped from now on. False when even the panel cannot be shown.
bool show_panel(ui_thread_resources& r, page_backend* b) {
    r.browser.close(); // a browser that failed after it was made
    editor_page_state(b->ed, b, page_state::closed);
    b->browser = browser_state::failed;
    HWND window = b->ui_window.load();
    // Placed first: the window loses its frame, and the panel is made at the final size.
    if (!window || !place_in_host(b, window)) return false;
    b->panel = no_runtime_panel_create(window, open_download_page, nullptr);
    if (!b->panel || !SetEvent(b->started.get())) return false;
    ShowWindow(window, SW_SHOW);
    return true;
}

// The browser is ready: move into the host's window, show it, and let editor_create
// return. A browser that will not show gives way to the panel. False when neither can
// be shown.
bool show_browser(ui_thread_resources& r, page_backend* b) {
    HWND window = b->ui_window.load();
    if (!b->controller || !window) return show_panel(r, b);
    if (!place_in_host(b, window)) return false;
    if (FAILED(b->controller->put_IsVisible(TRUE))) return show_panel(r, b);
    editor_page_state(b->ed, b, page_state::ready);
    b->browser = browser_state::ready;
    if (!SetEvent(b->started.get())) return false;
    ShowWindow(window, SW_SHOW);
    return true;
}

// Runs until the teardown request, the window's end (WM_QUIT) or a start that could
// show neither browser nor panel.
void run_message_loop(ui_thread_resources& r, page_backend* b) {
    for (;;) {
        HANDLE wake = b->page_wake.get();
        const DWORD result =
            MsgWaitForMultipleObjectsEx(1, &wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0)
            editor_serve(b->ed);
        else if (result != WAIT_OBJECT_0 + 1)
            return;
        MSG msg;
        while (!b->teardown_requested && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return;
            if (msg.message == EDITOR_MSG_STARTED && msg.hwnd == b->ui_window.load()) {
                if (b->browser != browser_state::starting) continue; // decided already
                if (msg.wParam == 1 ? show_browser(r, b) : show_panel(r, b)) continue;
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg); // browser events (and the panel's) arrive this way
        }
        if (b->teardown_requested) return;
    }
}

DWORD WINAPI ui_thread_main(void* arg) {
    const ui_thread_start& start = *static_cast<const ui_thread_start*>(arg);
    page_backend* b = start.b;
    editor_page_state(b->ed, b, page_state::opening);
    {
        ui_thread_resources r(b);
        // The browser itself arrives later through the handler (EDITOR_MSG_STARTED); an
        // environment refused at once (no runtime at all) leaves the panel.
        if (make_window(r, start) &&
            (SUCCEEDED(start.create_environment(nullptr, r.folder.path(), r.options.get(),
                                                r.handler.get())) ||
             show_panel(r, b)))
            run_message_loop(r, b);
        editor_page_state(b->ed, b, page_state::closed);
    }
    return 0;
}

// ---- The creating thread -------------------------------------------------------------

// The system class's own procedure, for every message but ours; the same for every
// relay window, whichever creating thread makes it.
std::atomic<WNDPROC> g_static_procedure;

// The relay window: a message-only window of the system's STATIC class whose procedure
// runs the page edits waiting for the host. It needs no class of the editor's own, so
// the editor may be freed from inside this procedure (a host that closes the editor
// from inside an edit callback) without a class left to unregister.
LRESULT CALLBACK relay_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == EDITOR_MSG_RELAY) {
        auto* b = reinterpret_cast<page_backend*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (b) editor_serve(b->ed); // the backend and this window may be gone afterwards
        return 0;
    }
    return CallWindowProcA(g_static_procedure.load(), window, message, wparam, lparam);
}

HWND make_relay_window(page_backend* b) {
    HWND window =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window) return nullptr;
    if (set_window_long(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(b))) {
        SetLastError(0);
        auto previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(relay_window_proc)));
        if (previous) {
            g_static_procedure.store(previous);
            return window;
        }
    }
    DestroyWindow(window);
    return nullptr;
}

} // namespace

page_backend::~page_backend() {
    if (ui_thread) {
        teardown_requested = true;
        SetEvent(page_wake.get());
        HANDLE thread = ui_thread.get();
        wait_answering_sent_messages(1, &thread);
    }
    if (relay_window) DestroyWindow(relay_window);
}

// ---- The backend interface -------------------------------------------------------------

page_backend* backend_open(editor* ed, const backend_args& args) {
    std::unique_ptr<page_backend> b(new (std::nothrow) page_backend(ed));
    if (!b) return nullptr;
    browser_loader loader = find_browser_loader(args.module_folder);
    if (!loader.create_environment) return nullptr;
    b->loader = std::move(loader.library);
    const owned_text page_path = folder_path(args.page_folder, L"\\index.html");
    if (!page_path) return nullptr;

    temp_file temp; // deleted when the browser has started or failed
    if (!temp.make()) return nullptr;
    b->relay_window = make_relay_window(b.get());
    b->page_wake.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    b->creating_wake.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    b->started.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!b->relay_window || !b->page_wake || !b->creating_wake || !b->started) return nullptr;
    b->parent = static_cast<HWND>(args.parent);

    ui_thread_start start = {
        b.get(),         args.embedded, args.width, args.height, loader.create_environment,
        page_path.get(), temp.path()};
    b->ui_thread.reset(CreateThread(nullptr, 0, ui_thread_main, &start, 0, nullptr));
    if (!b->ui_thread) return nullptr;
    // Started: the browser is ready or the panel shows in its place.
    const HANDLE started_or_ended[] = {b->started.get(), b->ui_thread.get()};
    if (wait_answering_sent_messages(2, started_or_ended) != WAIT_OBJECT_0) {
        b.reset(); // ends the UI thread while what `start` points to still exists
        return nullptr;
    }
    return b.release();
}

void backend_close(page_backend* b) {
    delete b;
}

void backend_post(page_backend* b, const char* text) {
    ICoreWebView2* browser = nullptr;
    if (!b->controller || FAILED(b->controller->get_CoreWebView2(&browser)) || !browser) return;
    // Value reports and short replies fit the stack.
    wchar_t small[64];
    owned_text large;
    wchar_t* wide = small;
    const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (count > int(std::size(small))) {
        large.reset(static_cast<wchar_t*>(malloc(count * sizeof(wchar_t))));
        wide = large.get();
    }
    if (count > 0 && wide &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, count) == count)
        browser->PostWebMessageAsString(wide);
    browser->Release();
}

// The window's own thread answers the size change, also while it waits for a page
// edit relayed to this thread, so the window has its new size when this returns.
void backend_resize(page_backend* b, int width, int height) {
    constexpr UINT kResizeOnly = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;
    static_assert(kResizeOnly == 0x216);
    if (HWND window = b->ui_window.load())
        SetWindowPos(window, nullptr, 0, 0, width, height, kResizeOnly);
}

// The window keeps its size: Windows hosts size it in the pixels they mean.
void backend_set_scale(page_backend* b, double, int& width, int& height) {
    RECT client;
    if (HWND window = b->ui_window.load(); window && GetClientRect(window, &client)) {
        width = client.right - client.left;
        height = client.bottom - client.top;
    }
}

void* backend_window(page_backend* b) {
    return b->ui_window.load();
}

int backend_poll_fd(page_backend*) {
    return -1; // the UI thread runs its own loop
}

void backend_idle(page_backend*) {}

void backend_wake(page_backend* b, editor_thread thread) {
    SetEvent(thread == editor_thread::page ? b->page_wake.get() : b->creating_wake.get());
}

void backend_call_creating_thread(page_backend* b) {
    PostMessageA(b->relay_window, EDITOR_MSG_RELAY, 0, 0);
}

void backend_wait(page_backend* b, editor_thread thread) {
    HANDLE wake = thread == editor_thread::page ? b->page_wake.get() : b->creating_wake.get();
    if (MsgWaitForMultipleObjectsEx(1, &wake, INFINITE, QS_SENDMESSAGE, 0) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
