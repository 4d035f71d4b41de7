// The editor's in-host side on X11 (see embed.h): the helper's process, its window
// inside the host's, and the frames between them.
#include "embed.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "helper_wire.h"

extern char** environ;

namespace {

constexpr int kPingIntervalMs = 1000;
constexpr size_t kMaxQueuedBytes = 4u << 20; // unsent texts; more means the helper is stuck
constexpr size_t kReadChunk = 65536;
constexpr size_t kMaxReadPerPoll = 1u << 20; // leave the host's thread to others after this
constexpr int kReapStepMs = 5;
constexpr uint32_t kEmptyViewColour = 0x100b08; // the page's darkest shade

// XEmbed messages (the embedder's part).
constexpr uint32_t kXEmbedEmbeddedNotify = 0;
constexpr uint32_t kXEmbedWindowActivate = 1;
constexpr uint32_t kXEmbedVersion = 0;

// Variables the helper must not inherit from a host: preloads and library paths of the
// host's own bundle would pull the host's libraries into GTK's process, and display
// settings are the helper's to choose (it sets its own before the toolkit starts).
constexpr const char* kDroppedEnvironment[] = {
    "LD_PRELOAD",
    "LD_LIBRARY_PATH",
    "GTK_PATH",
    "GTK_MODULES",
    "GTK2_RC_FILES",
    "GTK_RC_FILES",
    "GDK_PIXBUF_MODULE_FILE",
    "GIO_MODULE_DIR",
    "GDK_BACKEND",
    "GDK_SCALE",
    "GDK_DPI_SCALE",
    "WEBKIT_DISABLE_COMPOSITING_MODE",
};

int64_t now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void say(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fprintf(stderr, "emberpress editor: %s\n", line);
}

} // namespace

struct x11_editor {
    x11_page_text_handler on_page_text = nullptr;
    void* user_data = nullptr;
    std::string helper_path;
    int width = 0, height = 0;
    double scale = 1;

    pid_t pid = -1; // the helper until reaped
    int pidfd = -1; // the same process, for signals that cannot reach another
    int socket = -1;
    bool running = false;
    wire_reader reader{wire_side::host};
    std::string outgoing;
    size_t outgoing_sent = 0;
    std::vector<std::string> early_texts; // page texts that came while opening

    xcb_connection_t* x = nullptr;
    xcb_window_t parent = 0;
    xcb_window_t container = 0;
    xcb_window_t plug = 0;

    uint32_t ping_number = 0;
    bool ping_outstanding = false;
    int64_t ping_sent_ms = 0;
    int64_t last_answer_ms = 0;
};

namespace {

// ---- The helper's process -------------------------------------------------------------

std::vector<std::string> helper_environment() {
    std::vector<std::string> env;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        std::string_view name = text.substr(0, text.find('='));
        bool dropped = std::any_of(std::begin(kDroppedEnvironment), std::end(kDroppedEnvironment),
                                   [&](const char* d) { return name == d; });
        if (!dropped) env.emplace_back(text);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

// Starts the helper with its socket as descriptor 3 and no other descriptor of the host
// (hosts leave many open without close-on-exec), default signal handling, an empty mask.
int spawn_helper(x11_editor& ed, const x11_editor_config& config, int helper_socket) {
    std::vector<std::string> args = {
        ed.helper_path,
        "--parent",
        std::to_string(ed.container),
        "--page",
        config.page_path,
        "--size",
        std::to_string(ed.width) + "x" + std::to_string(ed.height),
        "--host-pid",
        std::to_string(getpid()),
    };
    std::vector<std::string> env = helper_environment();
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, helper_socket, kHelperSocketFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, kHelperSocketFd + 1);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int error = posix_spawn(&ed.pid, ed.helper_path.c_str(), &actions, &attributes, argv.data(),
                            envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        ed.pid = -1;
        return error;
    }
    ed.pidfd = int(syscall(SYS_pidfd_open, ed.pid, 0)); // -1 before Linux 5.3: kill() then
    return 0;
}

// Kills the helper. Through its process descriptor when there is one: a host that
// reaps every child of its own may have collected the helper already, and its number
// may belong to another process by now.
void kill_helper(x11_editor& ed) {
    if (ed.pidfd >= 0) {
        syscall(SYS_pidfd_send_signal, ed.pidfd, SIGKILL, nullptr, 0);
    } else if (ed.pid > 0) {
        kill(ed.pid, SIGKILL);
    }
}

// Collects the helper's exit once it has ended; true when it has (or someone else, a
// host that reaps every child, already did). `status` is the wait status, or -1.
bool try_reap(x11_editor& ed, int& status) {
    status = -1;
    if (ed.pid <= 0) return true;
    pid_t r;
    do r = waitpid(ed.pid, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    if (r < 0) status = -1; // ECHILD: not ours to collect any more
    ed.pid = -1;
    return true;
}

// Waits up to `grace_ms` for the helper to end by itself, then kills it.
int reap(x11_editor& ed, int grace_ms) {
    int status;
    for (int waited = 0; waited < grace_ms; waited += kReapStepMs) {
        if (try_reap(ed, status)) return status;
        usleep(kReapStepMs * 1000);
    }
    if (try_reap(ed, status)) return status;
    kill_helper(ed);
    pid_t r;
    do r = waitpid(ed.pid, &status, 0);
    while (r < 0 && errno == EINTR);
    ed.pid = -1;
    return r < 0 ? -1 : status;
}

// The helper's socket is closed, but its descriptor number stays taken by one that is
// never readable, so a run loop still watching it neither fails nor spins.
void retire_socket(x11_editor& ed) {
    if (ed.socket < 0) return;
    int quiet = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (quiet >= 0) {
        dup3(quiet, ed.socket, O_CLOEXEC);
        close(quiet);
    } else {
        shutdown(ed.socket, SHUT_RDWR);
    }
}

// Why a helper ended before the editor showed, from its wait status.
void say_why_it_ended(const x11_editor& ed, int status) {
    if (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        say("%s could not start: a library it needs is missing "
            "(WebKitGTK 4.1 and GTK 3: Debian package libwebkit2gtk-4.1-0)",
            ed.helper_path.c_str());
    } else if (status >= 0 && WIFEXITED(status)) {
        say("%s ended with status %d before showing the editor", ed.helper_path.c_str(),
            WEXITSTATUS(status));
    } else if (status >= 0 && WIFSIGNALED(status)) {
        say("%s was ended by signal %d before showing the editor", ed.helper_path.c_str(),
            WTERMSIG(status));
    } else {
        say("%s ended before showing the editor", ed.helper_path.c_str());
    }
}

// The helper is gone or useless: it is killed (a stopped one too), the socket retired.
// The editor's window stays, empty, until the editor is closed.
void stop_helper(x11_editor& ed) {
    ed.running = false;
    retire_socket(ed);
    if (ed.pid > 0) kill_helper(ed);
    int status;
    try_reap(ed, status);
    ed.outgoing.clear();
    ed.outgoing_sent = 0;
}

// ---- Frames ---------------------------------------------------------------------------

void flush_outgoing(x11_editor& ed) {
    while (ed.running && ed.outgoing_sent < ed.outgoing.size()) {
        ssize_t n = send(ed.socket, ed.outgoing.data() + ed.outgoing_sent,
                         ed.outgoing.size() - ed.outgoing_sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {
            say("the editor's helper went away; the editor stays empty until reopened");
            stop_helper(ed);
            return;
        }
        ed.outgoing_sent += static_cast<size_t>(n);
    }
    if (ed.outgoing_sent == ed.outgoing.size()) {
        ed.outgoing.clear();
        ed.outgoing_sent = 0;
    } else if (ed.outgoing.size() - ed.outgoing_sent > kMaxQueuedBytes) {
        say("the editor's helper stopped reading; the editor stays empty until reopened");
        stop_helper(ed);
    }
}

void queue_frame(x11_editor& ed, const std::string& frame) {
    if (!ed.running) return;
    ed.outgoing += frame;
    flush_outgoing(ed);
}

enum class read_outcome { more, drained, ended };

// Reads once into the frame reader.
read_outcome read_some(x11_editor& ed) {
    char buffer[kReadChunk];
    ssize_t n;
    do n = recv(ed.socket, buffer, sizeof buffer, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return read_outcome::drained;
    if (n <= 0) return read_outcome::ended;
    ed.reader.feed(buffer, static_cast<size_t>(n));
    return read_outcome::more;
}

// ---- The editor's window --------------------------------------------------------------

xcb_atom_t intern(xcb_connection_t* x, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, strlen(name), name), nullptr);
    xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}

void send_xembed(x11_editor& ed, xcb_atom_t xembed, uint32_t message, uint32_t detail,
                 uint32_t data1, uint32_t data2) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = ed.plug;
    event.type = xembed;
    event.data.data32[0] = XCB_CURRENT_TIME;
    event.data.data32[1] = message;
    event.data.data32[2] = detail;
    event.data.data32[3] = data1;
    event.data.data32[4] = data2;
    xcb_send_event(ed.x, 0, ed.plug, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char*>(&event));
}

// The helper's plug sits in the editor's window, unmapped: the embedder maps it, sized
// to the editor, and tells it it is embedded and active. False when no such window is
// there (the helper named a window that does not exist).
bool show_plug(x11_editor& ed, uint32_t plug) {
    ed.plug = plug;
    uint32_t size[] = {uint32_t(ed.width), uint32_t(ed.height)};
    xcb_configure_window(ed.x, plug, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    xcb_generic_error_t* error = xcb_request_check(ed.x, xcb_map_window_checked(ed.x, plug));
    if (error) {
        free(error);
        return false;
    }
    if (xcb_atom_t xembed = intern(ed.x, "_XEMBED")) {
        send_xembed(ed, xembed, kXEmbedEmbeddedNotify, 0, ed.container, kXEmbedVersion);
        send_xembed(ed, xembed, kXEmbedWindowActivate, 0, 0, 0);
    }
    xcb_flush(ed.x);
    return true;
}

bool make_container(x11_editor& ed, uint32_t parent, bool follow_parent) {
    ed.x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(ed.x)) {
        const char* display = getenv("DISPLAY");
        say("cannot connect to the X display \"%s\"", display ? display : "");
        return false;
    }
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(ed.x, xcb_get_geometry(ed.x, parent), nullptr);
    if (!geometry) {
        say("the host's window 0x%x does not exist", parent);
        return false;
    }
    free(geometry);
    ed.container = xcb_generate_id(ed.x);
    uint32_t values[] = {kEmptyViewColour};
    xcb_generic_error_t* error = xcb_request_check(
        ed.x, xcb_create_window_checked(ed.x, XCB_COPY_FROM_PARENT, ed.container, parent, 0, 0,
                                        uint16_t(ed.width), uint16_t(ed.height), 0,
                                        XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                                        XCB_CW_BACK_PIXEL, values));
    if (error) {
        free(error);
        ed.container = 0;
        say("cannot make the editor's window inside the host's window 0x%x", parent);
        return false;
    }
    xcb_map_window(ed.x, ed.container);
    if (follow_parent) {
        // This connection's own selection on the host's window: the host's stays as it is.
        uint32_t mask[] = {XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_change_window_attributes(ed.x, parent, XCB_CW_EVENT_MASK, mask);
    }
    ed.parent = parent;
    xcb_flush(ed.x);
    return true;
}

// The host's window's new sizes (when followed) and the errors of requests nobody
// checks, which need no answer.
void drain_display(x11_editor& ed) {
    int width = 0, height = 0;
    while (xcb_generic_event_t* event = xcb_poll_for_event(ed.x)) {
        auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event);
        if ((event->response_type & ~0x80) == XCB_CONFIGURE_NOTIFY &&
            configure->window == ed.parent) {
            width = configure->width;
            height = configure->height;
        }
        free(event);
    }
    if (width > 0 && height > 0) x11_editor_resize(&ed, width, height);
}

void release(x11_editor* ed) {
    if (ed->pid > 0) {
        // End of file tells the helper to end; a stopped or stuck one is killed.
        if (ed->socket >= 0) shutdown(ed->socket, SHUT_RDWR);
        reap(*ed, ed->running ? kX11CloseGraceMs : 0);
    }
    if (ed->socket >= 0) close(ed->socket);
    if (ed->pidfd >= 0) close(ed->pidfd);
    if (ed->x) {
        // Checked: the window is gone for every client when closing returns (the server
        // may serve another client's requests before those of a connection that closes).
        if (ed->container)
            free(xcb_request_check(ed->x, xcb_destroy_window_checked(ed->x, ed->container)));
        xcb_disconnect(ed->x);
    }
    delete ed;
}

// ---- Opening --------------------------------------------------------------------------

// Handles one frame of an open helper; texts of the page go to the host.
void handle_frame(x11_editor& ed, wire_kind kind, const std::string& payload) {
    uint32_t number;
    switch (kind) {
    case wire_kind::page_text:
        if (wire_text_ok(payload) && ed.on_page_text)
            ed.on_page_text(ed.user_data, payload.c_str(), payload.size());
        return;
    case wire_kind::pong:
        if (wire_read_u32(payload, number) && number == ed.ping_number) {
            ed.ping_outstanding = false;
            ed.last_answer_ms = now_ms();
        }
        return;
    case wire_kind::failed:
        say("%.*s", int(std::min<size_t>(payload.size(), 400)), payload.c_str());
        stop_helper(ed);
        return;
    default:
        return; // a second 'R' changes nothing
    }
}

// Waits for the helper's 'R' (or its failure), keeping page texts for the first poll.
bool await_ready(x11_editor& ed) {
    int64_t deadline = now_ms() + kX11OpenTimeoutMs;
    wire_kind kind;
    std::string payload;
    for (;;) {
        wire_reader::result result;
        while ((result = ed.reader.next(kind, payload)) == wire_reader::result::frame) {
            uint32_t plug;
            if (kind == wire_kind::ready && wire_read_u32(payload, plug)) {
                if (show_plug(ed, plug)) return true;
                say("%s named a window that does not exist", ed.helper_path.c_str());
                return false;
            }
            if (kind == wire_kind::failed) {
                handle_frame(ed, kind, payload);
                return false;
            }
            if (kind == wire_kind::page_text && wire_text_ok(payload))
                ed.early_texts.push_back(payload);
        }
        if (result == wire_reader::result::broken) {
            say("%s sent a malformed message", ed.helper_path.c_str());
            return false;
        }
        int64_t left = deadline - now_ms();
        if (left <= 0) {
            say("no answer from %s within %d s", ed.helper_path.c_str(), kX11OpenTimeoutMs / 1000);
            return false;
        }
        pollfd watch{ed.socket, POLLIN, 0};
        if (poll(&watch, 1, int(left)) < 0 && errno != EINTR) return false;
        if (read_some(ed) == read_outcome::ended) {
            say_why_it_ended(ed, reap(ed, kX11CloseGraceMs));
            return false;
        }
    }
}

} // namespace

x11_editor* x11_editor_open(const x11_editor_config& config) {
    if (!config.helper_path || !config.page_path || config.page_path[0] != '/' ||
        config.parent == 0) {
        say("cannot open: no helper program, page or parent window given");
        return nullptr;
    }
    if (access(config.helper_path, X_OK) != 0) {
        say("the helper program %s is missing (%s)", config.helper_path, strerror(errno));
        return nullptr;
    }
    auto* ed = new x11_editor;
    ed->on_page_text = config.on_page_text;
    ed->user_data = config.user_data;
    ed->helper_path = config.helper_path;
    ed->scale = editor_valid_scale(config.scale);
    ed->width = config.width;
    ed->height = config.height;
    editor_fit_size(ed->width, ed->height, ed->scale);
    if (!make_container(*ed, config.parent, config.follow_parent)) {
        release(ed);
        return nullptr;
    }

    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        say("cannot make a socket for the helper (%s)", strerror(errno));
        release(ed);
        return nullptr;
    }
    ed->socket = pair[0];
    int error = spawn_helper(*ed, config, pair[1]);
    close(pair[1]);
    if (error != 0) {
        say("cannot start %s (%s)", config.helper_path, strerror(error));
        release(ed);
        return nullptr;
    }
    ed->running = true;
    if (!await_ready(*ed)) {
        ed->running = false;
        if (ed->pid > 0) kill_helper(*ed);
        release(ed);
        return nullptr;
    }
    ed->last_answer_ms = now_ms();
    return ed;
}

int x11_editor_post_text(x11_editor* ed, std::string_view text) {
    if (!wire_text_ok(text)) return -1;
    std::string frame;
    wire_append(frame, wire_kind::host_text, text);
    queue_frame(*ed, frame);
    return 0;
}

void x11_editor_resize(x11_editor* ed, int& width, int& height) {
    editor_fit_size(width, height, ed->scale);
    if (width == ed->width && height == ed->height) return;
    ed->width = width;
    ed->height = height;
    // The windows change at once; the helper's toolkit follows on the frame.
    uint32_t size[] = {uint32_t(width), uint32_t(height)};
    uint16_t mask = XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT;
    xcb_configure_window(ed->x, ed->container, mask, size);
    if (ed->running) xcb_configure_window(ed->x, ed->plug, mask, size);
    xcb_flush(ed->x);
    std::string frame;
    wire_append_u32_pair(frame, wire_kind::size, uint32_t(width), uint32_t(height));
    queue_frame(*ed, frame);
}

void x11_editor_set_scale(x11_editor* ed, double scale, int& width, int& height) {
    scale = editor_valid_scale(scale);
    width = ed->width;
    height = ed->height;
    editor_rescale_size(width, height, ed->scale, scale);
    ed->scale = scale;
    x11_editor_resize(ed, width, height);
}

int x11_editor_fd(const x11_editor* ed) {
    return ed->socket;
}

uint32_t x11_editor_window(const x11_editor* ed) {
    return ed->container;
}

bool x11_editor_running(const x11_editor* ed) {
    return ed->running;
}

void x11_editor_poll(x11_editor* ed) {
    drain_display(*ed);
    if (!ed->running) {
        int status;
        try_reap(*ed, status);
        return;
    }
    // Texts the page sent while the editor was opening, then whatever came since.
    std::vector<std::string> early;
    early.swap(ed->early_texts);
    for (const std::string& text : early)
        if (ed->on_page_text) ed->on_page_text(ed->user_data, text.c_str(), text.size());

    size_t taken = 0;
    read_outcome outcome = read_outcome::more;
    wire_kind kind;
    std::string payload;
    while (ed->running && taken < kMaxReadPerPoll) {
        wire_reader::result result;
        while (ed->running &&
               (result = ed->reader.next(kind, payload)) == wire_reader::result::frame)
            handle_frame(*ed, kind, payload);
        if (!ed->running) return;
        if (result == wire_reader::result::broken) {
            say("the editor's helper sent a malformed message; the editor stays empty");
            stop_helper(*ed);
            return;
        }
        if (outcome != read_outcome::more) break;
        outcome = read_some(*ed);
        taken += kReadChunk;
    }
    if (outcome == read_outcome::ended) {
        say("the editor's helper ended; the editor stays empty until reopened");
        stop_helper(*ed);
        return;
    }
    flush_outgoing(*ed);
    if (!ed->running) return;

    // A helper that does not answer a ping within the limit is stuck: it is killed.
    int64_t now = now_ms();
    if (ed->ping_outstanding && now - ed->ping_sent_ms > kX11AnswerTimeoutMs) {
        say("the editor's helper stopped answering; the editor stays empty until reopened");
        stop_helper(*ed);
    } else if (!ed->ping_outstanding && now - ed->last_answer_ms >= kPingIntervalMs) {
        ed->ping_outstanding = true;
        ed->ping_sent_ms = now;
        std::string frame;
        wire_append_u32(frame, wire_kind::ping, ++ed->ping_number);
        queue_frame(*ed, frame);
    }
}

void x11_editor_close(x11_editor* ed) {
    release(ed);
}
