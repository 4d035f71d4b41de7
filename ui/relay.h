// The editor's thread rules: page edits reach the host on the creating thread, one at
// a time and in the page's order; texts reach the page on the page thread; neither
// side blocks the other. Portable: standard C++ threads only. The platform's part
// (waking a thread, waiting while it keeps its duties) comes in through relay_hooks.
//
// Threads (see ui/backend.h): the creating thread made the relay; the page thread is
// the creating thread too until a backend thread of its own announces itself.
//
// Page edits (edit, on the page thread)
//   - page thread = creating thread: the host's callback runs at once.
//   - a page thread of its own: the edit waits in one slot, the creating thread is
//     called (call_creating_thread) and runs it from its loop (serve). Meanwhile the
//     page thread waits, still posting the texts other threads give it, so a host
//     that sets values from inside its edit callback is answered at once (the
//     hand-over). The wait ends when the edit has run, when the editor closes or when
//     the page is gone; an edit still waiting then runs when the creating thread
//     serves, or when it closes the editor.
//   - no edit reaches the host once the editor is closing or the page is gone.
// Texts for the page (post, any thread)
//   - dropped while the page is not ready, once it is gone, and once the editor closes;
//   - the page thread posts at once;
//   - other threads queue the text and wake the page thread. When the page thread has
//     a loop of its own they wait until it has posted the text (the creating thread in
//     wait(creating), so it keeps its duties); otherwise the page thread is the
//     creating thread, which might be the one waiting, so the text is copied and they
//     return at once.
// Closing (close, creating thread): an edit waiting for this thread runs first (unless
// called from inside an edit callback); then no edit reaches the host again, queued
// texts are dropped, every waiting thread is released, and close returns once no other
// thread is inside the relay.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "ui/backend.h"

enum class edit_step : char { begin = 'b', perform = 's', end = 'e' };

struct page_edit {
    edit_step step;
    uint32_t index;
    float value;
};

// What the relay asks of the editor and its platform; `context` is passed back.
struct relay_hooks {
    void* context;
    void (*post)(void* context, const char* text);          // on the page thread
    void (*run_edit)(void* context, const page_edit& edit); // on the creating thread
    void (*wake)(void* context, editor_thread thread);      // backend_wake
    void (*call_creating_thread)(void* context);            // backend_call_creating_thread
    void (*wait)(void* context, editor_thread thread);      // backend_wait
};

class edit_relay {
  public:
    explicit edit_relay(const relay_hooks& hooks); // on the creating thread
    edit_relay(const edit_relay&) = delete;
    edit_relay& operator=(const edit_relay&) = delete;
    ~edit_relay();

    // Page side. page_state::opening names the calling thread the page thread.
    void set_page_state(page_state state);
    void edit(const page_edit& edit);

    // Host side, any thread.
    void post(const char* text);

    // The woken thread's work: the page thread posts queued texts, the creating thread
    // runs a waiting edit.
    void serve();

    // Creating thread.
    void close();

    bool on_creating_thread() const { return std::this_thread::get_id() == creating_thread_; }
    // On the creating thread, inside a host edit callback that the relay runs.
    bool inside_edit() const { return on_creating_thread() && inside_edit_; }

  private:
    // A text on its way to the page thread: on the stack of the thread that waits for
    // it, or (nobody waiting) on the heap with a copy of the text.
    struct queued_text {
        const char* text;
        char* copy; // owned by the queue when nobody waits
        bool from_creating_thread;
        bool done;
        queued_text* next;
    };

    bool page_has_own_thread() const { return page_thread_ != creating_thread_; }
    bool texts_dropped() const { return closing_ || page_closed_ || !page_ready_; }
    void enqueue(queued_text* queued);
    void serve_texts(std::unique_lock<std::mutex>& lock);
    void run_waiting_edit(std::unique_lock<std::mutex>& lock);
    bool drop_texts();

    const relay_hooks hooks_;
    const std::thread::id creating_thread_;
    std::mutex mutex_;
    std::condition_variable other_threads_; // texts done for other threads; users_ back to 0

    // Guarded by mutex_.
    std::thread::id page_thread_;
    bool page_ready_ = false, page_closed_ = false, closing_ = false;
    queued_text* first_text_ = nullptr; // oldest first
    queued_text* last_text_ = nullptr;
    bool edit_waiting_ = false, edit_done_ = false;
    page_edit waiting_edit_{};
    int users_ = 0; // other threads inside post

    bool inside_edit_ = false; // creating thread only
};
