// The plug-in editor: a web page in a browser that lives on a user-interface thread
// of its own, embedded in the host's window. Page gestures become host edits and
// host changes reach the page, without either thread blocking the other.
//
// The format layers (VST3 view, LV2 UI) are its only clients. Their Windows code
// reads the editor's window, `ed->ui_window`, from "ui/editor_record.h".
#pragma once

#include <cstdint>

struct editor;

struct editor_callbacks {
    void* user_data;
    const char* format_tag;                            // "vst3" or "lv2"; not interpreted
    const char* (*get_module_folder)(void* user_data); // holds WebView2Loader.dll
    const char* (*get_page_folder)(void* user_data);   // holds index.html (UTF-8)
    void (*begin_edit)(void* user_data, uint32_t index, float value);
    void (*perform_edit)(void* user_data, uint32_t index, float value);
    void (*end_edit)(void* user_data, uint32_t index, float value);
};

// Hands one reply text to the page (sent behind "m "); context is the one the editor
// passed with the message.
using page_reply_fn = void (*)(void* context, const char* text);

// Receives the text of every "m" page message, on the editor's UI thread, with the way
// to reply to it.
using page_message_handler = void (*)(const char* text, page_reply_fn reply, void* context);

// Opens an editor of width x height pixels: embedded in the window `parent` (an
// HWND), or as a window of its own (parent may then be null). The calling thread
// becomes the creating thread: it receives the edit callbacks and must keep
// dispatching window messages while the editor exists. Returns once the browser has
// started, or null (leaving nothing behind) when it could not.
editor* editor_create(bool embedded, void* parent, const editor_callbacks& callbacks,
                      page_message_handler handler, int width, int height,
                      uint64_t parameter_count);

// Gives the page a parameter's plain value. Callable from any thread; returns once
// the message is posted to the page, 0 on success. An index at or beyond the
// parameter count, or a value that is no finite number, is refused with -1.
int editor_set_parameter(editor* ed, uint64_t index, float value);

// Sends the page the text prefixed with "m ". Callable from any thread.
void editor_send_text(editor* ed, const char* text);

// Nothing to do: the UI thread runs its own message loop.
void editor_idle(editor* ed);

// Closes the browser, ends the UI thread and frees the editor. On the creating thread.
void editor_destroy(editor* ed);
