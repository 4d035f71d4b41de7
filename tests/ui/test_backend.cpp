#include "tests/ui/test_backend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "ui/backend.h"
#include "ui/editor.h"

struct page_backend {
    editor* ed = nullptr;
    page_threading threading = page_threading::own_thread;
    std::thread::id page_thread;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> inbox;
    std::vector<std::string> posts;
    int handled = 0;
    bool loaded = false;
    bool page_woken = false, creating_woken = false, creating_called = false;
    bool closing_page = false, quit = false;
    bool opened = false, closed = false;
    std::thread own;
};

namespace {

page_threading g_threading = page_threading::own_thread;
bool g_opens = true;
page_backend* g_last = nullptr;
bool g_closed = false;
// Closed backends stay readable: a pump may still look at the one its editor freed.
std::vector<std::unique_ptr<page_backend>> g_backends;

// The page thread's duty while it waits: a page that goes away says so at once.
void close_page_if_asked(page_backend* b, std::unique_lock<std::mutex>& lock) {
    if (!b->closing_page) return;
    b->closing_page = false;
    lock.unlock();
    editor_page_state(b->ed, b, page_state::closed);
    lock.lock();
}

void deliver(page_backend* b, std::unique_lock<std::mutex>& lock) {
    while (!b->inbox.empty()) {
        const std::string text = std::move(b->inbox.front());
        b->inbox.pop_front();
        lock.unlock();
        editor_page_message(b->ed, text.c_str());
        lock.lock();
        ++b->handled;
        b->changed.notify_all();
    }
}

void page_loop(page_backend* b) {
    editor_page_state(b->ed, b, page_state::opening);
    editor_page_state(b->ed, b, page_state::ready);
    std::unique_lock lock(b->mutex);
    b->page_thread = std::this_thread::get_id();
    b->loaded = true;
    b->changed.notify_all();
    for (;;) {
        b->changed.wait(
            lock, [b] { return b->quit || b->page_woken || b->closing_page || !b->inbox.empty(); });
        if (b->quit) break;
        close_page_if_asked(b, lock);
        if (b->page_woken) {
            b->page_woken = false;
            lock.unlock();
            editor_serve(b->ed);
            lock.lock();
        }
        deliver(b, lock);
    }
    lock.unlock();
    editor_page_state(b->ed, b, page_state::closed);
}

} // namespace

void test_backend_next(page_threading threading, bool opens) {
    g_threading = threading;
    g_opens = opens;
}

page_backend* test_backend_last() {
    return g_last;
}

bool test_backend_closed() {
    return g_closed;
}

void test_page_sends(page_backend* b, const std::string& text) {
    std::lock_guard lock(b->mutex);
    b->inbox.push_back(text);
    b->changed.notify_all();
}

int test_page_handled(page_backend* b) {
    std::lock_guard lock(b->mutex);
    return b->handled;
}

bool test_edit_waits(page_backend* b) {
    std::lock_guard lock(b->mutex);
    return b->creating_called;
}

void test_page_closes(page_backend* b) {
    std::unique_lock lock(b->mutex);
    if (b->threading == page_threading::creating_thread) {
        lock.unlock();
        editor_page_state(b->ed, b, page_state::closed);
        return;
    }
    b->closing_page = true;
    b->changed.notify_all();
}

std::vector<std::string> test_page_posts(page_backend* b) {
    std::lock_guard lock(b->mutex);
    return b->posts;
}

bool test_pump_until(page_backend* b, const std::function<bool()>& done, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    editor* ed = b->ed;
    for (;;) {
        bool call;
        {
            std::lock_guard lock(b->mutex);
            call = b->creating_called && !g_closed;
            b->creating_called = false;
        }
        if (call) editor_serve(ed);
        if (!g_closed) editor_idle(ed); // the host's timer or run loop
        if (done()) return true;
        std::unique_lock lock(b->mutex);
        if (std::chrono::steady_clock::now() > deadline) return false;
        b->changed.wait_for(lock, std::chrono::milliseconds(2), [b] { return b->creating_called; });
    }
}

// ---- The backend -----------------------------------------------------------------------

page_backend* backend_open(editor* ed, const backend_args&) {
    auto b = std::make_unique<page_backend>();
    b->ed = ed;
    b->threading = g_threading;
    if (!g_opens) {
        // A start that fails after the page thread has named the backend to the editor.
        if (b->threading == page_threading::own_thread)
            std::thread([&] {
                editor_page_state(ed, b.get(), page_state::opening);
                editor_page_state(ed, b.get(), page_state::closed);
            }).join();
        g_backends.push_back(std::move(b));
        return nullptr;
    }
    b->opened = true;
    if (b->threading == page_threading::creating_thread) {
        b->page_thread = std::this_thread::get_id();
    } else {
        b->own = std::thread(page_loop, b.get());
        std::unique_lock lock(b->mutex);
        b->changed.wait(lock, [&] { return b->loaded; });
    }
    g_last = b.get();
    g_closed = false;
    g_backends.push_back(std::move(b));
    return g_last;
}

void backend_close(page_backend* b) {
    if (!b->opened || b->closed) ADD_FAILURE() << "closed a backend that is not open";
    b->closed = true;
    if (b->own.joinable()) {
        {
            std::lock_guard lock(b->mutex);
            b->quit = true;
            b->changed.notify_all();
        }
        b->own.join();
    }
    g_closed = true;
}

void backend_post(page_backend* b, const char* text) {
    std::lock_guard lock(b->mutex);
    if (std::this_thread::get_id() != b->page_thread)
        b->posts.push_back("posted off the page thread");
    b->posts.push_back(text);
}

void backend_resize(page_backend*, int, int) {}

void backend_set_scale(page_backend*, double, int&, int&) {}

void* backend_window(page_backend* b) {
    return b;
}

int backend_poll_fd(page_backend*) {
    return -1;
}

// A page handed over on the creating thread loads at the first poll and delivers
// its messages at every poll.
void backend_idle(page_backend* b) {
    std::unique_lock lock(b->mutex);
    if (b->threading != page_threading::creating_thread) return;
    if (!b->loaded) {
        b->loaded = true;
        lock.unlock();
        editor_page_state(b->ed, b, page_state::ready);
        lock.lock();
    }
    deliver(b, lock);
}

void backend_wake(page_backend* b, editor_thread thread) {
    std::lock_guard lock(b->mutex);
    if (thread == editor_thread::creating)
        b->creating_woken = true;
    else if (b->threading == page_threading::creating_thread)
        b->creating_called = true; // the page thread is the creating thread: its loop serves
    else
        b->page_woken = true;
    b->changed.notify_all();
}

void backend_call_creating_thread(page_backend* b) {
    std::lock_guard lock(b->mutex);
    b->creating_called = true;
    b->changed.notify_all();
}

void backend_wait(page_backend* b, editor_thread thread) {
    std::unique_lock lock(b->mutex);
    bool& woken = thread == editor_thread::page ? b->page_woken : b->creating_woken;
    b->changed.wait(lock,
                    [&] { return woken || (thread == editor_thread::page && b->closing_page); });
    if (thread == editor_thread::page) close_page_if_asked(b, lock);
    woken = false;
}
