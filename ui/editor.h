// The plug-in editor: a web page in a browser that lives on a user-interface thread
// of its own, embedded in the host's window. Page gestures become host edits and
// host changes reach the page, without either thread blocking the other.
//
// The format layers (VST3 view, LV2 UI) are its only clients.
#pragma once

#include <cstdint>

struct editor;

struct editor_callbacks {
    void* user_data;
    const char* format_tag;  // "vst3" or "lv2"; not interpreted
    const char* (*get_module_folder)(void* user_data);  // holds WebView2Loader.dll
    const char* (*get_page_folder)(void* user_data);  // holds index.html (UTF-8)
    void (*begin_edit)(void* user_data, uint32_t index, float value);
    void (*perform_edit)(void* user_data, uint32_t index, float value);
    void (*end_edit)(void* user_data, uint32_t index, float value);
};

// Receives the text of every "m" page message, on the editor's UI thread.
using page_message_handler = void (*)(editor* ed, const char* text);

// Sends the page the text prefixed with "m ". Callable from any thread.
void editor_send_text(editor* ed, const char* text);
