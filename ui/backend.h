// What a platform provides to the editor: a browser that shows the page inside the
// host's window, and the means to wake and wait on the editor's threads. Exactly one
// implementation is linked into a module (ui/win32/ on Windows, ui/x11/ on Linux).
// The editor (ui/editor.cpp) is the only caller of the backend_ functions; the
// platform code reaches the editor only through the editor_ functions at the end of
// this file.
//
// Threads
//   creating thread  the host's thread that called editor_create. It opens, resizes,
//                    polls and closes the backend, and runs the host's edit callbacks.
//   page thread      the thread on which the backend hands page messages to the
//                    editor. Either
//                    - a thread of the backend's own with its own loop (Windows: the UI
//                      thread, which owns the browser). It says so with
//                      editor_page_state(page_state::opening) before anything else.
//                      Page edits are then relayed: the editor asks for the creating
//                      thread with backend_call_creating_thread and waits in
//                      backend_wait(editor_thread::page) until the edit has run; or
//                    - the creating thread itself, when the backend has no thread of its
//                      own and is driven by the host's run loop (backend_idle, or a
//                      callback on backend_poll_fd). Edits then reach the host directly.
//   other threads    may set parameters and send texts; the editor queues those for
//                    the page thread and wakes it.
// The editor never holds a lock while it calls a backend_ function.
#pragma once

#include <cstdint>

struct editor;       // the portable editor (ui/editor.cpp); opaque here
struct page_backend; // one platform's browser, windows and thread

enum class editor_thread { page, creating };

struct backend_args {
    void* parent;              // the host's window (HWND, X11 Window id); null only stand-alone
    bool embedded;             // inside `parent`, else a window of its own
    int width, height;         // pixels
    const char* module_folder; // UTF-8, no trailing separator: may hold the browser's loader
    const char* page_folder;   // UTF-8, no trailing separator: holds index.html
    double scale;              // the host's content scale (editor_sizing)
    bool follow_parent;        // the size follows the parent's (editor_sizing)
};

// ---- Implemented by each platform, called by the editor -----------------------------

// Creating thread. Opens the browser at the given size and starts loading the page.
// Returns once the browser has started (or the start failed: a platform may then show
// a notice in its place and tell the editor page_state::closed), or null, leaving
// nothing behind, when there is nothing to show.
page_backend* backend_open(editor* ed, const backend_args& args);

// Creating thread. Ends the page thread (if any), closes the browser and frees
// everything the backend made. Afterwards the backend calls the editor no more.
void backend_close(page_backend* b);

// Page thread. Posts one UTF-8 text to the page; dropped when there is no page.
void backend_post(page_backend* b, const char* text);

// Creating thread. Resizes the editor's window; the browser follows. Never waits for
// the page thread.
void backend_resize(page_backend* b, int width, int height);

// Creating thread. A new content scale: the size limits follow it and the window keeps
// its size relative to the old scale; stores the window's size. Never waits for the
// page thread.
void backend_set_scale(page_backend* b, double scale, int& width, int& height);

// Any thread. The editor's native window (HWND, X11 Window id), null once it is gone.
void* backend_window(page_backend* b);

// Any thread. A descriptor the host's run loop should watch, calling editor_idle when
// it is readable; -1 when the backend has none.
int backend_poll_fd(page_backend* b);

// Creating thread. Does the backend's periodic work (reads page messages and hands
// them over when the page thread is the creating thread). Cheap when there is none.
void backend_idle(page_backend* b);

// Any thread. Makes `thread` call editor_serve soon: ends its backend_wait, and for a
// page thread of the backend's own also wakes its loop. Without a page thread of its
// own, editor_thread::page means the creating thread from the host's loop: the backend
// calls editor_serve at its next idle or run-loop callback (texts from other threads
// wait there for the page).
void backend_wake(page_backend* b, editor_thread thread);

// Page thread. Makes the creating thread call editor_serve from the host's loop (a
// posted message, a run-loop callback): a page edit is waiting for it.
void backend_call_creating_thread(page_backend* b);

// On `thread` itself. Blocks until backend_wake(thread), while the thread keeps doing
// what other threads may be waiting for (Windows: answering sent window messages).
// May return early; the editor checks what it waits for and waits again.
void backend_wait(page_backend* b, editor_thread thread);

// ---- Implemented by the editor, called by the backend -------------------------------

enum class page_state {
    opening, // on the backend's own page thread, before it hands over anything
    ready,   // the page can take texts; until then they are dropped (values stay cached)
    closed,  // the page is gone for good: texts are dropped, a relayed edit stops waiting
};
// Any thread (opening: the page thread). `b` is the backend itself: the editor reaches
// it through this pointer from then on, also before backend_open has returned.
void editor_page_state(editor* ed, page_backend* b, page_state state);

// Page thread. One page message: NUL-terminated UTF-8, valid only during the call.
void editor_page_message(editor* ed, const char* text);

// When woken (backend_wake, backend_call_creating_thread), on that thread: the page
// thread posts the texts waiting for it; the creating thread runs a relayed edit.
void editor_serve(editor* ed);
