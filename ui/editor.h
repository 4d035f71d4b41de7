// The plug-in editor: a web page in a browser embedded in the host's window. Page
// gestures become host edits on the host's thread and host changes reach the page,
// without either side blocking the other.
//
// The format layers (VST3 view, LV2 UI) are its only clients; the editor is opaque to
// them. The page protocol and the thread rules are portable (ui/page_protocol.h,
// ui/relay.h); the browser and its windows come from the platform (ui/backend.h).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

struct editor;

// ---- Sizes ---------------------------------------------------------------------------
// The sizes the editor takes at scale 1, in pixels: 2:1 between these, 800 x 400 by
// default. A host's content scale multiplies them. The page draws itself to fill any
// size, so the scale needs nothing else.
inline constexpr int kEditorMinWidth = 640;
inline constexpr int kEditorMaxWidth = 1200;
inline constexpr int kEditorDefaultWidth = 800;
inline constexpr int kEditorDefaultHeight = kEditorDefaultWidth / 2;
inline constexpr double kEditorMinScale = 0.5;
inline constexpr double kEditorMaxScale = 4;

// A content scale the editor takes: one outside kEditorMinScale..kEditorMaxScale (or
// no number) counts as 1.
inline double editor_valid_scale(double scale) {
    return scale >= kEditorMinScale && scale <= kEditorMaxScale ? scale : 1;
}

// The largest editor size at this scale that fits in width x height (the smallest when
// none does): what a host may resize the editor to.
inline void editor_fit_size(int& width, int& height, double scale = 1) {
    scale = editor_valid_scale(scale);
    const long long least = std::lround(kEditorMinWidth * scale) & ~1LL;
    const long long most = std::lround(kEditorMaxWidth * scale) & ~1LL;
    const long long w = std::clamp(std::min<long long>(width, 2LL * height), least, most);
    width = int(w) & ~1;
    height = width / 2;
}

// A size taken at scale `from` to scale `to`: it keeps its size relative to the scale,
// fitted at `to` (both scales valid).
inline void editor_rescale_size(int& width, int& height, double from, double to) {
    const double ratio = to / from;
    width = int(std::lround(width * ratio));
    height = int(std::lround(height * ratio));
    editor_fit_size(width, height, to);
}

// How the editor's size follows the host after it opened (X11; the Windows editor
// keeps the size it is given and ignores both).
struct editor_sizing {
    double scale = 1;           // the host's content scale: the size limits grow with it
    bool follow_parent = false; // takes the fitted size of the parent window whenever the
                                // host resizes it, as LV2 hosts do without telling the UI
};

struct editor_callbacks {
    void* user_data;
    const char* format_tag;                            // "vst3" or "lv2"; not interpreted
    const char* (*get_module_folder)(void* user_data); // may hold the browser's loader
    const char* (*get_page_folder)(void* user_data);   // holds index.html (UTF-8)
    void (*begin_edit)(void* user_data, uint32_t index, float value);
    void (*perform_edit)(void* user_data, uint32_t index, float value);
    void (*end_edit)(void* user_data, uint32_t index, float value);
};

// Sends "m " + text to the page; the editor passes one to the handler with its context.
using page_reply_fn = void (*)(void* context, const char* text);
// Receives the text of every "m" page message (after "m "), on the page thread, valid
// only during the call. It answers through `reply`, from any thread, while the editor
// exists.
using page_message_handler = void (*)(const char* text, page_reply_fn reply, void* reply_context);

// Opens an editor of width x height pixels: embedded in the window `parent` (HWND, X11
// Window id), or as a window of its own (parent may then be null). The calling thread
// becomes the creating thread: it receives the edit callbacks and must keep running
// its loop (Windows: dispatching window messages) while the editor exists. Returns once
// the browser has started. Where no browser can start, a platform may show a notice in
// its place (Windows: a panel naming the missing runtime) and still return the editor,
// which then has no page. Null (leaving nothing behind) when nothing could be shown;
// also null when embedded without a parent, without folder callbacks, or with more than
// 2^32 - 1 parameters. On X11 the editor opens only embedded, and its size is fitted
// (editor_fit_size at sizing.scale).
editor* editor_create(bool embedded, void* parent, const editor_callbacks& callbacks,
                      page_message_handler handler, int width, int height, uint64_t parameter_count,
                      const editor_sizing& sizing = {});

// Gives the page a parameter's plain value. Callable from any thread; returns once the
// page has it (when the editor has a page thread of its own, the call waits for it; a
// value set inside an edit callback is handed over at once). 0 on success; an index at
// or beyond the parameter count, or a value that is no finite number, is refused with
// -1 and changes nothing. Without a page (not loaded yet, or gone) only the cached
// value changes, which the page gets when it asks with "g".
int editor_set_parameter(editor* ed, uint64_t index, float value);

// Sends the page the UTF-8 text prefixed with "m ". Callable from any thread; the text
// need only live during the call. Dropped when it is not UTF-8, when there is no page,
// and when sent from inside an edit callback (the page thread waits for that callback).
void editor_send_text(editor* ed, const char* text);

// The host's periodic call (VST3 timer or run loop, LV2 idle interface): lets a
// backend without a thread of its own do its work. Any thread on Windows (where it
// has nothing to do); on the creating thread elsewhere.
void editor_idle(editor* ed);

// The editor's native window (HWND, X11 Window id); null once it is gone (for example
// destroyed with the host's window).
void* editor_window(editor* ed);

// Resizes the editor's window (on X11 to the fitted size); the browser follows. On
// the creating thread; never waits for the page thread, so it may be called from
// inside an edit callback.
void editor_resize(editor* ed, int width, int height);

// A new content scale from the host (VST3 content scale). The editor keeps its size
// relative to the old scale, fitted, and stores it into width and height for the host
// to be told; the Windows editor keeps its size and stores that. On the creating
// thread; never waits for the page thread.
void editor_set_scale(editor* ed, double scale, int& width, int& height);

// A descriptor for the host's run loop to watch (calling editor_idle when readable),
// or -1 when there is none (always on Windows).
int editor_poll_fd(editor* ed);

// Closes the browser and frees the editor. On the creating thread (elsewhere it is
// refused and changes nothing). Page edits already relayed to this thread run first.
// Called from inside an edit callback, it returns at once without calling the host
// again, and the editor is freed when that callback has returned.
void editor_destroy(editor* ed);
