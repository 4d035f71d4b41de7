// The editor record and the operations its parts (editor, browser objects, page
// protocol) share. The format layers read only `ui_window`.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/editor.h"

struct ICoreWebView2Controller;

// Private window messages.
enum : UINT {
    EDITOR_MSG_STARTED = WM_APP + 0,       // to ui_window; wParam 1 browser ready, 0 failed
    EDITOR_MSG_TEARDOWN = WM_APP + 1,      // to ui_window
    EDITOR_MSG_SET_PARAMETER = WM_APP + 2, // to ui_window; index, value bits
    EDITOR_MSG_SEND_TEXT = WM_APP + 3,     // to ui_window; lParam = UTF-8 text
    EDITOR_MSG_BEGIN_EDIT = WM_APP + 4,    // to relay_window; index, value bits
    EDITOR_MSG_PERFORM_EDIT = WM_APP + 5,
    EDITOR_MSG_END_EDIT = WM_APP + 6,
};

using relay_fn = int (*)(editor* ed, uint32_t index, float value);

// How the page-message dispatcher reaches the host.
struct page_dispatch_table {
    editor* owner;
    const char* format_tag;
    const char* (*get_module_folder)(void* user_data);
    const char* (*get_page_folder)(void* user_data);
    relay_fn begin_edit;
    relay_fn perform_edit;
    relay_fn end_edit;
    page_message_handler handler; // or null
    float* value_cache;           // the last value of each parameter, from host or page
    uint64_t parameter_count;
};

struct editor {
    HWND ui_window; // the UI thread's window; null when the UI thread failed to start
    HMODULE loader_module;
    DWORD creator_thread_id;
    HANDLE done_semaphore; // the UI thread's answer: start-up, each request, its end
    DWORD ui_thread_id;
    ICoreWebView2Controller* controller; // counted; null until the browser exists
    editor_callbacks host_callbacks;
    page_dispatch_table page_dispatch;
    char relay_class_name[24];
    HWND relay_window;       // the creating thread's window; host callbacks run in its procedure
    HANDLE relay_semaphore;  // a relayed host callback returned, or a value was handed over
    HANDLE access_semaphore; // lock: one cross-thread exchange at a time
    // Plain memory; the semaphores order the accesses.
    uint8_t in_host_callback;
    uint32_t pending_index;
    float pending_value;
    // A relay waiting for the lock took the teardown request; the UI thread tears
    // down once the current page message has been handled.
    bool teardown_requested;
    HANDLE ui_thread; // waited for only when the UI thread ended on its own
};

// UI thread operations (ui/editor.cpp).
void ui_post_to_page(editor* ed, const wchar_t* text);
void ui_send_text(editor* ed, const char* text);
void ui_set_parameter(editor* ed, uint32_t index, uint32_t bits);
