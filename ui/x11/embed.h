// The editor on X11, inside the host's process. The browser runs in the helper program
// emberpress-editor (one per open editor, started with posix_spawn); this module gives
// it a window inside the host's window, maps the helper's window there (XEmbed leaves
// that to the embedder), relays texts both ways and reaps the helper. It uses only XCB
// (its own connection to the display), a socket pair and libc: no toolkit code ever
// enters the host's process.
//
// Threads: every function is called on the host's UI thread, the one that opened the
// editor. Only two of them wait for the helper, each for a bounded time:
// x11_editor_open (its first answer, kX11OpenTimeoutMs) and x11_editor_close (its end,
// kX11CloseGraceMs, then it is killed). Everything else returns at once.
//
// Driving it: register x11_editor_fd with the host's run loop (readable: something
// from the helper) and also call x11_editor_poll from a timer every kX11PollIntervalMs
// or from the host's idle call, since some hosts never report a registered descriptor.
// The descriptor stays the same number from open to close.
//
// Failures print one line on standard error starting "emberpress editor: ". A failed
// open leaves nothing behind. A helper that ends or stops answering later leaves the
// window empty; x11_editor_running then says false, and closing and opening again
// starts a new helper.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/editor.h" // the editor's sizes: editor_fit_size

struct x11_editor;

inline constexpr int kX11OpenTimeoutMs = 5000;   // the helper's first answer
inline constexpr int kX11AnswerTimeoutMs = 5000; // a ping's answer, later
inline constexpr int kX11CloseGraceMs = 1000;    // the helper's own end, before a kill
inline constexpr int kX11PollIntervalMs = 20;

// Receives each text of the page (valid UTF-8, no NUL, `text[size]` is NUL), from
// x11_editor_poll. It may post texts, resize and rescale, but must not close the editor.
using x11_page_text_handler = void (*)(void* user_data, const char* text, size_t size);

struct x11_editor_config {
    const char* helper_path; // the emberpress-editor program
    const char* page_path;   // the editor page, an absolute path
    uint32_t parent;         // the host's X11 window
    int width, height;       // pixels; fitted with editor_fit_size
    double scale;            // the host's content scale; 1 = none
    x11_page_text_handler on_page_text;
    void* user_data;
    // The editor takes the fitted size of `parent` whenever the host resizes it, as LV2
    // hosts do without telling the UI (the editor stays at the top left).
    bool follow_parent;
};

// Starts the helper and waits until its window is inside `parent` (mapped, in the
// page's darkest shade); the page loads after that, and texts posted meanwhile wait for
// it. Null on failure (helper missing or unable to start, no answer within
// kX11OpenTimeoutMs, no display, no such parent window, no page file), after one line
// on standard error and with nothing left behind: no process, window or descriptor. A
// page that then fails to load ends the helper like a crash would.
x11_editor* x11_editor_open(const x11_editor_config& config);

// Queues a text for the page; it leaves at once or at a later poll. Returns 0, or -1
// for a text that cannot cross (invalid UTF-8, a NUL, longer than 1 MiB), which is
// dropped. Texts to a helper that has failed are dropped silently.
int x11_editor_post_text(x11_editor* ed, std::string_view text);

// Resizes the editor to the fitted size, stored back into width and height.
void x11_editor_resize(x11_editor* ed, int& width, int& height);

// A new content scale: the editor keeps its size relative to the old scale, fitted,
// and stores it into width and height (for the host to be told).
void x11_editor_set_scale(x11_editor* ed, double scale, int& width, int& height);

// The descriptor to watch for reading. Once the helper has failed it never becomes
// readable again.
int x11_editor_fd(const x11_editor* ed);

// Reads what the helper sent (delivering page texts), sends what is queued, and
// checks that the helper still answers. Never blocks.
void x11_editor_poll(x11_editor* ed);

// The editor's own window inside the host's (an LV2 X11 UI's widget).
uint32_t x11_editor_window(const x11_editor* ed);

// Whether the helper is still showing the page.
bool x11_editor_running(const x11_editor* ed);

// Ends the helper (no process left), destroys the editor's window and frees `ed`.
// Unregister the descriptor from the run loop first.
void x11_editor_close(x11_editor* ed);
