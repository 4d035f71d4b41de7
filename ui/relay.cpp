// The editor's thread rules (see relay.h). Every state change happens under the
// mutex; the hooks (host callbacks, page posts, platform wake-ups and waits) are
// called without it.
#include "ui/relay.h"

#include <cstdlib>
#include <cstring>
#include <new>

edit_relay::edit_relay(const relay_hooks& hooks)
    : hooks_(hooks), creating_thread_(std::this_thread::get_id()), page_thread_(creating_thread_) {}

edit_relay::~edit_relay() {
    std::lock_guard lock(mutex_);
    drop_texts();
}

void edit_relay::set_page_state(page_state state) {
    std::unique_lock lock(mutex_);
    switch (state) {
    case page_state::opening:
        page_thread_ = std::this_thread::get_id();
        return;
    case page_state::ready:
        page_ready_ = !page_closed_;
        return;
    case page_state::closed:
        page_closed_ = true;
        break;
    }
    const bool creating_waits = drop_texts();
    lock.unlock();
    hooks_.wake(hooks_.context, editor_thread::page); // a relayed edit stops waiting
    if (creating_waits) hooks_.wake(hooks_.context, editor_thread::creating);
}

void edit_relay::edit(const page_edit& edit) {
    std::unique_lock lock(mutex_);
    if (closing_ || page_closed_) return;
    if (!page_has_own_thread()) {
        inside_edit_ = true;
        lock.unlock();
        hooks_.run_edit(hooks_.context, edit);
        lock.lock();
        inside_edit_ = false;
        return;
    }
    // The page thread waits for one edit at a time, so the slot is free.
    waiting_edit_ = edit;
    edit_waiting_ = true;
    edit_done_ = false;
    lock.unlock();
    hooks_.call_creating_thread(hooks_.context);
    lock.lock();
    for (;;) {
        serve_texts(lock); // the hand-over: values the host sets meanwhile
        if (edit_done_ || closing_ || page_closed_) return;
        lock.unlock();
        hooks_.wait(hooks_.context, editor_thread::page);
        lock.lock();
    }
}

void edit_relay::post(const char* text) {
    std::unique_lock lock(mutex_);
    if (texts_dropped()) return;
    const std::thread::id self = std::this_thread::get_id();
    if (self == page_thread_) {
        lock.unlock();
        hooks_.post(hooks_.context, text);
        return;
    }
    if (!page_has_own_thread()) {
        // The creating thread posts it when it serves; it may be the very thread this
        // one waits for, so nothing waits here.
        char* copy = strdup(text);
        auto* queued =
            copy ? new (std::nothrow) queued_text{copy, copy, false, false, nullptr} : nullptr;
        if (!queued) {
            free(copy);
            return;
        }
        enqueue(queued);
        lock.unlock();
        hooks_.wake(hooks_.context, editor_thread::page);
        return;
    }
    const bool creating = self == creating_thread_;
    queued_text queued{text, nullptr, creating, false, nullptr};
    enqueue(&queued);
    if (!creating) ++users_;
    lock.unlock();
    hooks_.wake(hooks_.context, editor_thread::page);
    lock.lock();
    while (!queued.done) {
        if (creating) {
            lock.unlock();
            hooks_.wait(hooks_.context, editor_thread::creating);
            lock.lock();
        } else {
            other_threads_.wait(lock);
        }
    }
    if (!creating && --users_ == 0) other_threads_.notify_all();
}

void edit_relay::serve() {
    std::unique_lock lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (self == page_thread_) serve_texts(lock);
    if (self == creating_thread_) run_waiting_edit(lock);
}

void edit_relay::close() {
    std::unique_lock lock(mutex_);
    run_waiting_edit(lock);
    closing_ = true;
    edit_waiting_ = false;
    drop_texts(); // this thread is the creating thread: nobody else waits in it
    lock.unlock();
    hooks_.wake(hooks_.context, editor_thread::page);
    lock.lock();
    other_threads_.wait(lock, [this] { return users_ == 0; });
}

// Page thread: posts the queued texts in order and answers whoever waits for each.
void edit_relay::serve_texts(std::unique_lock<std::mutex>& lock) {
    while (queued_text* queued = first_text_) {
        first_text_ = queued->next;
        if (!first_text_) last_text_ = nullptr;
        lock.unlock();
        hooks_.post(hooks_.context, queued->text);
        lock.lock();
        const bool creating = queued->from_creating_thread;
        if (queued->copy) {
            free(queued->copy);
            delete queued;
        } else {
            queued->done = true; // its owner may return from here on
        }
        if (creating) {
            lock.unlock();
            hooks_.wake(hooks_.context, editor_thread::creating);
            lock.lock();
        } else {
            other_threads_.notify_all();
        }
    }
}

// Creating thread: the waiting edit, if any, unless an edit callback is running already.
void edit_relay::run_waiting_edit(std::unique_lock<std::mutex>& lock) {
    if (!edit_waiting_ || closing_ || inside_edit_) return;
    const page_edit edit = waiting_edit_;
    edit_waiting_ = false;
    inside_edit_ = true;
    lock.unlock();
    hooks_.run_edit(hooks_.context, edit);
    lock.lock();
    inside_edit_ = false;
    edit_done_ = true;
    lock.unlock();
    hooks_.wake(hooks_.context, editor_thread::page);
    lock.lock();
}

void edit_relay::enqueue(queued_text* queued) {
    queued->next = nullptr;
    if (last_text_)
        last_text_->next = queued;
    else
        first_text_ = queued;
    last_text_ = queued;
}

// Every queued text is done without reaching the page. True when the creating thread
// waits for one of them and needs waking.
bool edit_relay::drop_texts() {
    bool creating_waits = false;
    while (queued_text* queued = first_text_) {
        first_text_ = queued->next;
        creating_waits |= queued->from_creating_thread;
        if (queued->copy) {
            free(queued->copy);
            delete queued;
        } else {
            queued->done = true;
        }
    }
    last_text_ = nullptr;
    other_threads_.notify_all();
    return creating_waits;
}
