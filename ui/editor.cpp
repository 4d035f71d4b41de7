// The editor: a UI thread of its own (window, COM apartment, browser, message loop)
// and a hidden relay window on the creating thread. Requests travel between the two
// threads as private window messages; three semaphores order them:
//   done_semaphore    the UI thread answers (start-up, each request, its end);
//   relay_semaphore   a relayed host callback returned, or a value was handed over;
//   access_semaphore  a lock: one cross-thread exchange at a time. Whoever waits for
//                     it keeps serving what the other side may be waiting for.
#include <windows.h>
#include <shellapi.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "engine/params.h"
#include "ui/editor_record.h"
#include "ui/page_protocol.h"
#include "ui/webview.h"

namespace {

// What the creating thread gives the UI thread; lives in the creating thread's frame
// until the UI thread first releases done_semaphore.
struct ui_thread_start {
    editor* ed;
    bool embedded;
    HWND parent;
    uint32_t width, height;
    CreateEnvironmentWithOptionsFn create_environment;
    const wchar_t* page_path;
    const wchar_t* temp_path;
};

// The UI thread's own state, on its stack.
struct ui_thread_state {
    editor* ed;
    HWND parent;
    char class_name[32];
    wchar_t* user_data_folder; // double-NUL-terminated
    WV2EnvironmentOptions* options;
    WV2Handler* handler;
};

// Win32 setters return 0 both for failure and for a previous value of 0.
bool set_window_long(HWND window, int index, LONG_PTR value) {
    SetLastError(0);
    return SetWindowLongPtrA(window, index, value) != 0 || GetLastError() == 0;
}

editor* window_editor(HWND window) {
    return reinterpret_cast<editor*>(GetWindowLongPtrA(window, 0));
}

uint32_t float_bits(float value) {
    return std::bit_cast<uint32_t>(value);
}

void release_done(editor* ed) {
    ReleaseSemaphore(ed->done_semaphore, 1, nullptr);
}

// Waits without time-out on a thread that owns windows. The other thread's window
// calls may send messages here (re-parenting and destroying a window activate and
// deactivate its parent); those are answered meanwhile, posted messages stay queued.
DWORD wait_answering_sent_messages(HANDLE handle) {
    for (;;) {
        DWORD r = MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_SENDMESSAGE, 0);
        if (r != WAIT_OBJECT_0 + 1) return r;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// ---- UI thread ---------------------------------------------------------------------

LRESULT CALLBACK ui_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    editor* ed = window_editor(window);
    if (!ed) return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        break;
    case WM_SETFOCUS:
        if (ed->controller) ed->controller->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
        break;
    case WM_SIZE:
        if (ed->controller) {
            RECT bounds;
            GetClientRect(window, &bounds);
            ed->controller->put_Bounds(bounds);
            return 0;
        }
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// Serves a request from another thread; false for anything that is not one.
bool serve_request(editor* ed, const MSG& msg) {
    if (msg.hwnd != ed->ui_window) return false;
    if (msg.message == EDITOR_MSG_SET_PARAMETER)
        ui_set_parameter(ed, static_cast<uint32_t>(msg.wParam), static_cast<uint32_t>(msg.lParam));
    else if (msg.message == EDITOR_MSG_SEND_TEXT)
        ui_send_text(ed, reinterpret_cast<const char*>(msg.lParam));
    else
        return false;
    release_done(ed);
    return true;
}

void close_browser(ui_thread_state& s) {
    editor* ed = s.ed;
    if (ed->controller) {
        ed->controller->Close();
        ed->controller->Release();
        ed->controller = nullptr;
    }
}

void delete_user_data_folder(const wchar_t* folder) {
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = folder;
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationW(&op);
}

void release_browser_objects(ui_thread_state& s) {
    if (s.handler) s.handler->Release();
    if (s.options) s.options->Release();
    free(s.user_data_folder);
    s.handler = nullptr;
    s.options = nullptr;
    s.user_data_folder = nullptr;
}

// The start failed before the browser existed.
DWORD fail_before_browser(editor* ed) {
    ed->ui_window = nullptr;
    release_done(ed);
    return 0;
}

// The browser never became ready, or the loop failed.
DWORD fail_with_browser(ui_thread_state& s) {
    close_browser(s);
    delete_user_data_folder(s.user_data_folder);
    release_browser_objects(s);
    CoUninitialize();
    DestroyWindow(s.ed->ui_window);
    UnregisterClassA(s.class_name, nullptr);
    return fail_before_browser(s.ed);
}

// The normal end of the UI thread.
DWORD teardown(ui_thread_state& s) {
    close_browser(s);
    delete_user_data_folder(s.user_data_folder);
    release_browser_objects(s);
    DestroyWindow(s.ed->ui_window);
    UnregisterClassA(s.class_name, nullptr);
    CoUninitialize();
    release_done(s.ed);
    return 0;
}

// The browser is ready: move into the host's window and show it. False on failure.
bool show_browser(ui_thread_state& s) {
    editor* ed = s.ed;
    if (!ed->controller) return false;
    SetLastError(0);
    if (!SetParent(ed->ui_window, s.parent) && GetLastError() != 0) return false;
    if (!SetWindowPos(ed->ui_window, nullptr, 0, 0, 0, 0,
                      SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED))
        return false;
    if (FAILED(ed->controller->put_IsVisible(TRUE))) return false;
    if (!ReleaseSemaphore(ed->done_semaphore, 1, nullptr)) return false; // editor_create returns
    ShowWindow(ed->ui_window, SW_SHOW);
    return true;
}

DWORD run_message_loop(ui_thread_state& s) {
    editor* ed = s.ed;
    for (;;) {
        MSG msg;
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == -1) return fail_with_browser(s);
        if (got == 0) return teardown(s);
        if (msg.hwnd == ed->ui_window && msg.message == EDITOR_MSG_STARTED) {
            if (msg.wParam != 1 || !show_browser(s)) return fail_with_browser(s);
        } else if (msg.hwnd == ed->ui_window && msg.message == EDITOR_MSG_TEARDOWN) {
            return teardown(s);
        } else if (!serve_request(ed, msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg); // browser events arrive this way
        }
        if (ed->teardown_requested) return teardown(s);
    }
}

DWORD WINAPI ui_thread_main(void* arg) {
    const ui_thread_start& start = *static_cast<ui_thread_start*>(arg);
    ui_thread_state s{};
    s.ed = start.ed;
    s.parent = start.parent;
    editor* ed = s.ed;
    ed->controller = nullptr;

    snprintf(s.class_name, sizeof s.class_name, "c%llX", (unsigned long long)(uintptr_t)ed);
    auto cursor =
        static_cast<HCURSOR>(LoadImageA(nullptr, IDC_ARROW, IMAGE_CURSOR, 0, 0, LR_SHARED));
    if (!cursor) return fail_before_browser(ed);
    WNDCLASSA wc{};
    wc.lpfnWndProc = ui_window_proc;
    wc.cbWndExtra = 8;
    wc.hCursor = cursor;
    wc.lpszClassName = s.class_name;
    if (!RegisterClassA(&wc)) return fail_before_browser(ed);

    HWND window =
        start.embedded
            ? CreateWindowExA(WS_EX_NOACTIVATE, s.class_name, "", 0, 0, 0, start.width,
                              start.height, nullptr, nullptr, nullptr, nullptr)
            : CreateWindowExA(0, s.class_name, "", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0, 0,
                              start.width, start.height, nullptr, nullptr, nullptr, nullptr);
    if (window && start.embedded && !set_window_long(window, GWL_STYLE, 0)) {
        DestroyWindow(window);
        window = nullptr;
    }
    if (!window) {
        UnregisterClassA(s.class_name, nullptr);
        return fail_before_browser(ed);
    }
    ed->ui_window = window;
    auto fail_with_window = [&] {
        DestroyWindow(window);
        UnregisterClassA(s.class_name, nullptr);
        return fail_before_browser(ed);
    };
    if (!set_window_long(window, 0, reinterpret_cast<LONG_PTR>(ed))) return fail_with_window();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
        return fail_with_window();

    // The user-data folder is the temporary file's name without its extension.
    s.user_data_folder = _wcsdup(start.temp_path);
    if (!s.user_data_folder) {
        CoUninitialize();
        return fail_with_window();
    }
    size_t length = wcslen(s.user_data_folder);
    s.user_data_folder[length - 4] = L'\0';
    s.user_data_folder[length - 3] = L'\0';

    s.options = new (std::nothrow) WV2EnvironmentOptions();
    s.handler = new (std::nothrow) WV2Handler(ed, start.page_path);
    HRESULT hr = E_OUTOFMEMORY;
    if (s.options && s.handler) {
        hr = s.options->put_AdditionalBrowserArguments(L"--allow-file-access-from-files");
        if (SUCCEEDED(hr))
            hr = start.create_environment(nullptr, s.user_data_folder, s.options, s.handler);
    }
    if (FAILED(hr)) {
        // A runtime may have made the folder before it failed.
        delete_user_data_folder(s.user_data_folder);
        release_browser_objects(s);
        CoUninitialize();
        return fail_with_window();
    }
    return run_message_loop(s);
}

// Takes the access lock on the UI thread, serving the other side's requests while it
// waits. 0 when held; 1 when the wait failed; 2 when a teardown request arrived.
int ui_acquire_access(editor* ed) {
    for (;;) {
        DWORD r = WaitForSingleObject(ed->access_semaphore, 0);
        if (r == WAIT_OBJECT_0) return 0;
        if (r != WAIT_TIMEOUT) return 1;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            // The teardown request (or the end of a window destroyed from outside) is
            // kept for the loop, which tears down once this page message is handled.
            if ((msg.hwnd == ed->ui_window && msg.message == EDITOR_MSG_TEARDOWN) ||
                msg.message == WM_QUIT)
                ed->teardown_requested = true;
            if (ed->teardown_requested) return 2;
            if (!serve_request(ed, msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (ed->teardown_requested) return 2;
        }
        SwitchToThread();
    }
}

// Runs a host edit callback on the creating thread and waits until it has returned,
// passing on the values the host sets from inside the callback.
int relay_edit(editor* ed, UINT message, uint32_t index, float value) {
    int r = ui_acquire_access(ed);
    if (r != 0) return r;
    if (PostMessageA(ed->relay_window, message, index, float_bits(value))) {
        for (;;) {
            wait_answering_sent_messages(ed->relay_semaphore);
            if (!ed->in_host_callback) break;
            ui_set_parameter(ed, ed->pending_index, float_bits(ed->pending_value)); // hand-over
            release_done(ed);
        }
    }
    ReleaseSemaphore(ed->access_semaphore, 1, nullptr);
    return 0;
}

int relay_begin_edit(editor* ed, uint32_t index, float value) {
    return relay_edit(ed, EDITOR_MSG_BEGIN_EDIT, index, value);
}
int relay_perform_edit(editor* ed, uint32_t index, float value) {
    return relay_edit(ed, EDITOR_MSG_PERFORM_EDIT, index, value);
}
int relay_end_edit(editor* ed, uint32_t index, float value) {
    return relay_edit(ed, EDITOR_MSG_END_EDIT, index, value);
}

// ---- Creating thread ---------------------------------------------------------------

LRESULT CALLBACK relay_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    editor* ed = window_editor(window);
    if (!ed || message < EDITOR_MSG_BEGIN_EDIT || message > EDITOR_MSG_END_EDIT)
        return DefWindowProcA(window, message, wparam, lparam);
    const editor_callbacks& cb = ed->host_callbacks;
    auto callback = message == EDITOR_MSG_BEGIN_EDIT     ? cb.begin_edit
                    : message == EDITOR_MSG_PERFORM_EDIT ? cb.perform_edit
                                                         : cb.end_edit;
    ed->in_host_callback = 1;
    if (callback)
        callback(cb.user_data, static_cast<uint32_t>(wparam),
                 std::bit_cast<float>(static_cast<uint32_t>(lparam)));
    ed->in_host_callback = 0;
    ReleaseSemaphore(ed->relay_semaphore, 1, nullptr);
    return 0;
}

// Takes the access lock on the creating thread, running relayed edits while it waits.
bool creator_acquire_access(editor* ed) {
    for (;;) {
        DWORD r = WaitForSingleObject(ed->access_semaphore, 0);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_TIMEOUT) return false;
        MSG msg;
        while (ed->relay_window && PeekMessageA(&msg, ed->relay_window, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        SwitchToThread();
    }
}

// Posts a request to the UI thread and waits for its answer.
//  - On the UI thread the caller acts directly instead.
//  - On the creating thread the lock is taken while relayed edits keep running.
//  - On any other thread the lock is taken with a plain wait: with one exchange at a
//    time, each answer on done_semaphore reaches the thread that asked for it.
void request(editor* ed, UINT message, WPARAM wparam, LPARAM lparam) {
    bool creating = GetCurrentThreadId() == ed->creator_thread_id;
    if (creating ? !creator_acquire_access(ed)
                 : WaitForSingleObject(ed->access_semaphore, INFINITE) != WAIT_OBJECT_0)
        return;
    if (PostMessageA(ed->ui_window, message, wparam, lparam))
        wait_answering_sent_messages(ed->done_semaphore);
    ReleaseSemaphore(ed->access_semaphore, 1, nullptr);
}

// What editor_create made on the creating thread; each part may be missing.
void free_creator_resources(editor* ed) {
    if (ed->access_semaphore) CloseHandle(ed->access_semaphore);
    if (ed->relay_semaphore) CloseHandle(ed->relay_semaphore);
    if (ed->relay_window) DestroyWindow(ed->relay_window);
    UnregisterClassA(ed->relay_class_name, nullptr);
}

void free_editor(editor* ed) {
    if (ed->ui_thread) CloseHandle(ed->ui_thread);
    free(ed->page_dispatch.value_cache);
    if (ed->done_semaphore) CloseHandle(ed->done_semaphore);
    HMODULE loader = ed->loader_module;
    free(ed);
    FreeLibrary(loader);
}

} // namespace

// ---- UI thread operations shared with the browser objects and the page protocol -----

void ui_post_to_page(editor* ed, const wchar_t* text) {
    ICoreWebView2* browser = nullptr;
    if (!ed->controller || FAILED(ed->controller->get_CoreWebView2(&browser)) || !browser) return;
    browser->PostWebMessageAsString(text);
    browser->Release();
}

void ui_send_text(editor* ed, const char* text) {
    int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (count == 0) return; // not UTF-8
    auto* message = static_cast<wchar_t*>(malloc((count + 2) * sizeof(wchar_t)));
    if (!message) return;
    message[0] = L'm';
    message[1] = L' ';
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, message + 2, count);
    ui_post_to_page(ed, message);
    free(message);
}

void ui_set_parameter(editor* ed, uint32_t index, uint32_t bits) {
    if (index >= ed->page_dispatch.parameter_count) return;
    ed->page_dispatch.value_cache[index] = std::bit_cast<float>(bits);
    wchar_t report[40];
    swprintf(report, 40, L"s %08x %08x", index, bits);
    ui_post_to_page(ed, report);
}

// A UTF-8 folder followed by a UTF-16 file name, as one heap UTF-16 path; null when
// the folder is missing or not UTF-8, or out of memory.
static wchar_t* folder_path(const char* folder, const wchar_t* name) {
    const int count =
        folder ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, folder, -1, nullptr, 0) : 0;
    if (count == 0) return nullptr;
    const size_t name_length = wcslen(name);
    auto* path = static_cast<wchar_t*>(malloc((count + name_length) * sizeof(wchar_t)));
    if (!path) return nullptr;
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, folder, -1, path, count);
    wcscpy(path + count - 1, name);
    return path;
}

// ---- The door ----------------------------------------------------------------------

editor* editor_create(bool embedded, void* parent_handle, const editor_callbacks& callbacks,
                      page_message_handler handler, int width, int height,
                      uint64_t parameter_count) {
    HWND parent = static_cast<HWND>(parent_handle);
    if (parameter_count > UINT32_MAX || !callbacks.get_module_folder || !callbacks.get_page_folder)
        return nullptr;

    // The loader library and its entry point. Both folders are UTF-8, so any
    // folder name works.
    wchar_t* loader_path =
        folder_path(callbacks.get_module_folder(callbacks.user_data), L"\\WebView2Loader.dll");
    if (!loader_path) return nullptr;
    HMODULE loader = LoadLibraryW(loader_path);
    free(loader_path);
    if (!loader) return nullptr;
    auto create_environment =
        reinterpret_cast<CreateEnvironmentWithOptionsFn>(reinterpret_cast<void*>(
            GetProcAddress(loader, "CreateCoreWebView2EnvironmentWithOptions")));
    if (!create_environment) {
        FreeLibrary(loader);
        return nullptr;
    }

    // The page path: the page folder and "\index.html", in UTF-16.
    wchar_t* page_path =
        folder_path(callbacks.get_page_folder(callbacks.user_data), L"\\index.html");
    if (!page_path) {
        FreeLibrary(loader);
        return nullptr;
    }

    // The record; the value cache starts at the parameters' defaults, so that the
    // page can ask for values before the host has sent any.
    auto* ed = static_cast<editor*>(calloc(1, sizeof(editor)));
    float* cache =
        static_cast<float*>(calloc(parameter_count ? parameter_count : 1, sizeof(float)));
    if (!ed || !cache) {
        free(ed);
        free(cache);
        free(page_path);
        FreeLibrary(loader);
        return nullptr;
    }
    if (parameter_count == kParamCount)
        for (int i = 0; i < kParamCount; ++i) cache[i] = kParamDefaults[i];
    ed->loader_module = loader;
    ed->creator_thread_id = GetCurrentThreadId();
    ed->done_semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    ed->host_callbacks = callbacks;
    ed->page_dispatch = {ed,
                         callbacks.format_tag,
                         callbacks.get_module_folder,
                         callbacks.get_page_folder,
                         relay_begin_edit,
                         relay_perform_edit,
                         relay_end_edit,
                         handler,
                         cache,
                         parameter_count};
    snprintf(ed->relay_class_name, sizeof ed->relay_class_name, "d%llX",
             (unsigned long long)(uintptr_t)ed);

    // A new empty temporary file reserves the name of the browser's user-data folder.
    auto* temp_path = static_cast<wchar_t*>(malloc(262 * sizeof(wchar_t)));
    bool ok = ed->done_semaphore && temp_path && GetTempPathW(262, temp_path) &&
              GetTempFileNameW(temp_path, L"vino", 0, temp_path);
    bool temp_file_made = ok;

    // The relay window and the two other semaphores.
    if (ok) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = relay_window_proc;
        wc.cbWndExtra = 8;
        wc.lpszClassName = ed->relay_class_name;
        ok = RegisterClassA(&wc) != 0;
    }
    if (ok) {
        ed->relay_window = embedded ? CreateWindowExA(0, ed->relay_class_name, "", WS_CHILD, 0, 0,
                                                      0, 0, parent, nullptr, nullptr, nullptr)
                                    : CreateWindowExA(0, ed->relay_class_name, "", WS_POPUP, 0, 0,
                                                      0, 0, parent, nullptr, nullptr, nullptr);
        ok = ed->relay_window &&
             set_window_long(ed->relay_window, 0, reinterpret_cast<LONG_PTR>(ed));
    }
    if (ok) {
        ed->relay_semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
        ed->access_semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
        ok = ed->relay_semaphore && ed->access_semaphore;
    }

    // The UI thread; it answers once its start-up has ended either way.
    if (ok) {
        ui_thread_start start{ed,
                              embedded,
                              parent,
                              static_cast<uint32_t>(width),
                              static_cast<uint32_t>(height),
                              create_environment,
                              page_path,
                              temp_path};
        ed->ui_thread = CreateThread(nullptr, 0, ui_thread_main, &start, 0, &ed->ui_thread_id);
        ok = ed->ui_thread && wait_answering_sent_messages(ed->done_semaphore) == WAIT_OBJECT_0 &&
             ed->ui_window;
    }
    if (temp_file_made) DeleteFileW(temp_path);
    free(temp_path);
    free(page_path);
    if (ok) return ed;

    // Undo what was made, in reverse.
    free_creator_resources(ed);
    free_editor(ed);
    return nullptr;
}

int editor_set_parameter(editor* ed, uint64_t index, float value) {
    if (!ed || index >= ed->page_dispatch.parameter_count || !std::isfinite(value)) return -1;
    uint32_t bits = float_bits(value);
    if (GetCurrentThreadId() == ed->ui_thread_id) {
        ui_set_parameter(ed, static_cast<uint32_t>(index), bits);
    } else if (GetCurrentThreadId() == ed->creator_thread_id && ed->in_host_callback) {
        // The host sets a value from inside a relayed edit callback: the UI thread holds
        // the lock and waits for this thread, so the value is handed over directly.
        ed->pending_index = static_cast<uint32_t>(index);
        ed->pending_value = value;
        ReleaseSemaphore(ed->relay_semaphore, 1, nullptr);
        wait_answering_sent_messages(ed->done_semaphore);
    } else {
        request(ed, EDITOR_MSG_SET_PARAMETER, static_cast<WPARAM>(index), bits);
    }
    return 0;
}

void editor_send_text(editor* ed, const char* text) {
    if (!ed || !text) return;
    if (GetCurrentThreadId() == ed->ui_thread_id) {
        ui_send_text(ed, text);
    } else if (GetCurrentThreadId() == ed->creator_thread_id && ed->in_host_callback) {
        // Inside a relayed edit callback the UI thread waits for this thread; there is
        // no way to hand text over, and waiting for the lock would never end.
        return;
    } else {
        request(ed, EDITOR_MSG_SEND_TEXT, 0, reinterpret_cast<LPARAM>(text));
    }
}

void editor_idle(editor*) {}

void editor_destroy(editor* ed) {
    if (!ed || !creator_acquire_access(ed)) return;
    if (PostMessageA(ed->ui_window, EDITOR_MSG_TEARDOWN, 0, 0)) {
        wait_answering_sent_messages(ed->done_semaphore);
    } else if (!IsWindow(ed->ui_window)) {
        // The window was destroyed from outside (its parent went first, or the user
        // closed a window of its own): the UI thread has torn down or is doing so.
        wait_answering_sent_messages(ed->ui_thread);
    } else {
        ReleaseSemaphore(ed->access_semaphore, 1, nullptr);
        return;
    }
    free_creator_resources(ed);
    free_editor(ed);
}
