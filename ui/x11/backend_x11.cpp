// The Linux backend: the browser runs in the helper program emberpress-editor beside
// the module (ui/x11/embed.h), and the backend has no thread of its own. The page
// thread is the creating thread: the host's run loop drives it through editor_idle
// (LV2 idle interface, VST3 timer) and through the descriptor of backend_poll_fd, and
// page messages are handed to the editor from there, so page edits reach the host
// directly on its own thread.
//
// The descriptor is an epoll set holding the helper's socket and a wake-up counter:
// it becomes readable when the helper sends something and when another thread has
// queued a text for the page (backend_wake), so one registration serves both.
//
// Nothing here waits for the helper beyond the bounded waits of embed.h (opening and
// closing). A helper that ends or stops answering later leaves the editor's window
// empty; the page is then closed for the editor and texts for it are dropped.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "ui/backend.h"
#include "ui/x11/embed.h"

namespace {

constexpr const char* kHelperName = "emberpress-editor"; // beside the module
constexpr const char* kPageName = "index.html";          // in the page folder

void hand_page_text(void* user_data, const char* text, size_t size);

} // namespace

struct page_backend {
    explicit page_backend(editor* owner) : ed(owner) {}
    page_backend(const page_backend&) = delete;
    page_backend& operator=(const page_backend&) = delete;
    ~page_backend() {
        if (x) x11_editor_close(x); // ends the helper; its socket leaves the set with it
        if (poll_set >= 0) close(poll_set);
        if (wake_counter >= 0) close(wake_counter);
    }

    editor* const ed;
    x11_editor* x = nullptr;
    int wake_counter = -1; // eventfd: other threads' texts wait for the page
    int poll_set = -1;     // epoll: the helper's socket and wake_counter
    bool page_closed = false;
};

namespace {

void hand_page_text(void* user_data, const char* text, size_t) {
    auto* b = static_cast<page_backend*>(user_data);
    editor_page_message(b->ed, text);
}

bool watch(int set, int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return epoll_ctl(set, EPOLL_CTL_ADD, fd, &event) == 0;
}

// Takes the wake-ups counted so far; the descriptor is quiet again until the next.
void take_wake_ups(page_backend* b) {
    uint64_t count;
    while (read(b->wake_counter, &count, sizeof count) > 0) {
    }
}

} // namespace

page_backend* backend_open(editor* ed, const backend_args& args) {
    if (!args.embedded || !args.parent) {
        fprintf(stderr, "emberpress editor: on X11 the editor opens only inside a window "
                        "the host gives it\n");
        return nullptr;
    }
    std::unique_ptr<page_backend> b(new (std::nothrow) page_backend(ed));
    if (!b) return nullptr;
    b->wake_counter = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    b->poll_set = epoll_create1(EPOLL_CLOEXEC);
    if (b->wake_counter < 0 || b->poll_set < 0 || !watch(b->poll_set, b->wake_counter)) {
        fprintf(stderr, "emberpress editor: cannot make the editor's wake-up descriptors\n");
        return nullptr;
    }

    const std::string helper =
        std::string(args.module_folder ? args.module_folder : "") + "/" + kHelperName;
    const std::string page =
        std::string(args.page_folder ? args.page_folder : "") + "/" + kPageName;
    x11_editor_config config{};
    config.helper_path = helper.c_str();
    config.page_path = page.c_str();
    config.parent = uint32_t(reinterpret_cast<uintptr_t>(args.parent));
    config.width = args.width;
    config.height = args.height;
    config.scale = args.scale;
    config.on_page_text = hand_page_text;
    config.user_data = b.get();
    config.follow_parent = args.follow_parent;
    b->x = x11_editor_open(config); // says why on failure
    if (!b->x) return nullptr;
    if (!watch(b->poll_set, x11_editor_fd(b->x))) {
        fprintf(stderr, "emberpress editor: cannot watch the helper's socket\n");
        return nullptr;
    }
    // Texts may go now: the helper holds them until the page has loaded.
    editor_page_state(ed, b.get(), page_state::ready);
    return b.release();
}

void backend_close(page_backend* b) {
    delete b;
}

void backend_post(page_backend* b, const char* text) {
    x11_editor_post_text(b->x, text); // dropped once the helper has failed
}

void backend_resize(page_backend* b, int width, int height) {
    x11_editor_resize(b->x, width, height);
}

void backend_set_scale(page_backend* b, double scale, int& width, int& height) {
    x11_editor_set_scale(b->x, scale, width, height);
}

void* backend_window(page_backend* b) {
    return reinterpret_cast<void*>(uintptr_t(x11_editor_window(b->x)));
}

int backend_poll_fd(page_backend* b) {
    return b->poll_set;
}

// What the helper sent reaches the editor (page edits go to the host from here), then
// the texts other threads queued go to the page. A helper that failed closes the page
// once: what is queued for it then is dropped.
void backend_idle(page_backend* b) {
    take_wake_ups(b);
    x11_editor_poll(b->x);
    if (!b->page_closed && !x11_editor_running(b->x)) {
        b->page_closed = true;
        editor_page_state(b->ed, b, page_state::closed);
    }
    editor_serve(b->ed);
}

void backend_wake(page_backend* b, editor_thread) {
    const uint64_t one = 1;
    ssize_t written = write(b->wake_counter, &one, sizeof one);
    (void)written; // a full counter is readable already
}

// Without a page thread of its own the editor relays no edit; a call still gets the
// creating thread to serve at its next idle.
void backend_call_creating_thread(page_backend* b) {
    backend_wake(b, editor_thread::creating);
}

// Never needed without a page thread of its own (nothing waits for the creating
// thread then); waits one poll interval for a wake-up, which is allowed to end early.
void backend_wait(page_backend* b, editor_thread) {
    pollfd watch{b->wake_counter, POLLIN, 0};
    poll(&watch, 1, kX11PollIntervalMs);
}
