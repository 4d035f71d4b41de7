// emberpress-editor: the editor's browser on Linux, in a process of its own.
//
// The in-host side (ui/x11/embed.h) starts this program for every open editor, so that
// no GTK or WebKit code ever runs inside the host's process. It shows the editor page
// in a WebKitGTK view inside a GtkPlug for the host's X11 window and relays texts
// between the page and the host side over the socket on descriptor 3 (the frames of
// ui/x11/helper_wire.h):
//
//   emberpress-editor --parent XID --page INDEX.HTML [--size WxH] [--host-pid PID]
//
// The page is the one the Windows editor shows, unchanged: a script injected before
// the page's own gives it the same message object (`window.chrome.webview`: postMessage
// and "message" events whose data is the text). The page may not navigate anywhere;
// links the user follows to the web open in the desktop's browser; every load other
// than local files is blocked inside the browser itself.
//
// The program ends on end of file of its socket (the host closed the editor or died),
// when the host's process ends (the kernel's parent-death signal), when its window is
// destroyed, and when the browser cannot work (it then says why in an 'F' frame).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <glib-unix.h>
#include <gtk/gtkx.h>
#include <webkit2/webkit2.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/editor.h"
#include "ui/x11/helper_wire.h"

extern char** environ;

namespace {

constexpr char kHandlerName[] = "emberpress";
constexpr char kLinkHandlerName[] = "emberpressLink";
constexpr char kRulesName[] = "no-network-1"; // a new number for changed rules
constexpr int kLargestSide = 8192;            // anything larger is a mistake of the caller
constexpr size_t kMaxWaitingTexts = 4096;     // host texts held until the page has loaded
constexpr int kPageLoadTimeoutS = 15;         // the page's load, after the plug is shown

// Run before any script of the page: the message object the page uses on Windows, on
// top of WebKit's script message handler. Page -> host: postMessage(text). Host -> page:
// a "message" event whose `data` is the text, dispatched by deliver_to_page below.
constexpr char kBridgeScript[] = R"js(
(function () {
  "use strict";
  const handler = window.webkit.messageHandlers.emberpress;
  class WebViewChannel extends EventTarget {
    postMessage(message) {
      handler.postMessage(message);
    }
  }
  const channel = Object.freeze(new WebViewChannel());
  Object.defineProperty(window, "chrome", { value: Object.freeze({ webview: channel }) });

  // A followed link to anything but a local file never becomes a navigation (the
  // browser would start connecting to its server before asking any policy): the
  // user's click hands its address to the helper, which gives web addresses to the
  // desktop's browser.
  const links = window.webkit.messageHandlers.emberpressLink;
  function follow(event) {
    const link = event.target instanceof Element && event.target.closest("a[href], area[href]");
    if (!link || link.protocol === "file:") return;
    event.preventDefault();
    if (event.isTrusted && event.type === "click") links.postMessage(link.href);
  }
  window.addEventListener("click", follow, true);
  window.addEventListener("auxclick", follow, true);
})();
)js";

constexpr char kDeliverBody[] =
    "window.chrome.webview.dispatchEvent(new MessageEvent(\"message\", { data: text }));";

// Every load is blocked except local files, inline data and the empty page.
constexpr char kNoNetworkRules[] = R"json([
  { "trigger": { "url-filter": ".*" }, "action": { "type": "block" } },
  { "trigger": { "url-filter": "^file:" }, "action": { "type": "ignore-previous-rules" } },
  { "trigger": { "url-filter": "^data:" }, "action": { "type": "ignore-previous-rules" } },
  { "trigger": { "url-filter": "^about:" }, "action": { "type": "ignore-previous-rules" } }
])json";

struct Options {
    unsigned long parent = 0;
    const char* page = nullptr;
    int width = kEditorDefaultWidth;
    int height = kEditorDefaultHeight;
    long host_pid = 0;
};

struct Helper {
    Options options;
    std::string page_uri;
    GtkWidget* plug = nullptr;
    WebKitWebView* view = nullptr;
    wire_reader reader{wire_side::helper};
    std::vector<std::string> waiting_texts; // host texts that arrived before the page
    bool page_loaded = false;
    int exit_status = 0;
    bool quitting = false;
};

// ---- The socket ---------------------------------------------------------------------

// Blocking: the host side reads from its run loop, and a host that stops reading holds
// the page's messages back rather than losing them.
bool send_all(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(kHelperSocketFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void quit(Helper& h, int status) {
    if (h.quitting) return;
    h.quitting = true;
    h.exit_status = status;
    if (gtk_main_level() > 0) gtk_main_quit();
}

void send_frame(Helper& h, const std::string& frame) {
    if (!send_all(frame)) quit(h, 0); // the host side is gone
}

// Tells the host side what went wrong (it prints the line) and ends.
void fail(Helper& h, int status, const std::string& line) {
    std::string frame;
    wire_append(frame, wire_kind::failed, line);
    if (!send_all(frame)) std::fprintf(stderr, "emberpress-editor: %s\n", line.c_str());
    quit(h, status);
}

// ---- Host -> page -------------------------------------------------------------------

void deliver_to_page(Helper& h, const std::string& text) {
    GVariantDict arguments;
    g_variant_dict_init(&arguments, nullptr);
    g_variant_dict_insert_value(&arguments, "text", g_variant_new_string(text.c_str()));
    webkit_web_view_call_async_javascript_function(h.view, kDeliverBody, -1,
                                                   g_variant_dict_end(&arguments), nullptr, nullptr,
                                                   nullptr, nullptr, nullptr);
}

void resize(Helper& h, int width, int height) {
    gtk_widget_set_size_request(GTK_WIDGET(h.view), width, height);
    gtk_window_resize(GTK_WINDOW(h.plug), width, height);
}

void handle_frame(Helper& h, wire_kind kind, const std::string& payload) {
    uint32_t a, b;
    switch (kind) {
    case wire_kind::host_text:
        if (!wire_text_ok(payload)) return; // the host side never sends such a text
        if (h.page_loaded) {
            deliver_to_page(h, payload);
        } else if (h.waiting_texts.size() < kMaxWaitingTexts) {
            h.waiting_texts.push_back(payload);
        }
        return;
    case wire_kind::size:
        if (wire_read_u32_pair(payload, a, b) && a > 0 && b > 0 && a <= kLargestSide &&
            b <= kLargestSide)
            resize(h, static_cast<int>(a), static_cast<int>(b));
        return;
    case wire_kind::ping:
        if (wire_read_u32(payload, a)) {
            std::string frame;
            wire_append_u32(frame, wire_kind::pong, a);
            send_frame(h, frame);
        }
        return;
    default:
        return; // the reader lets through only what this side receives
    }
}

gboolean on_socket(gint, GIOCondition, gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    char buffer[65536];
    ssize_t n = recv(kHelperSocketFd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return G_SOURCE_CONTINUE;
    if (n <= 0) {
        quit(h, 0);
        return G_SOURCE_REMOVE;
    }
    h.reader.feed(buffer, static_cast<size_t>(n));
    wire_kind kind;
    std::string payload;
    for (;;) {
        switch (h.reader.next(kind, payload)) {
        case wire_reader::result::frame:
            handle_frame(h, kind, payload);
            if (h.quitting) return G_SOURCE_REMOVE;
            continue;
        case wire_reader::result::need_more:
            return G_SOURCE_CONTINUE;
        case wire_reader::result::broken:
            fail(h, kHelperExitBrokenWire, "the host side sent a malformed message");
            return G_SOURCE_REMOVE;
        }
    }
}

// ---- Page -> host -------------------------------------------------------------------

// Only texts cross, as on Windows, where a message that is no string is not read.
void on_script_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_string(value)) return;
    char* text = jsc_value_to_string(value);
    std::string_view view(text);
    if (wire_text_ok(view)) {
        std::string frame;
        wire_append(frame, wire_kind::page_text, view);
        send_frame(h, frame);
    }
    g_free(text);
}

// ---- Navigation ---------------------------------------------------------------------

void reap_opener(GPid pid, gint, gpointer) {
    g_spawn_close_pid(pid);
}

// A web address the user followed opens in the desktop's browser: xdg-open with the
// address as its only argument, no shell in between.
void open_externally(const char* uri) {
    if (!g_str_has_prefix(uri, "https:") && !g_str_has_prefix(uri, "http:") &&
        !g_str_has_prefix(uri, "mailto:"))
        return;
    char program[] = "xdg-open";
    char* argv[] = {program, const_cast<char*>(uri), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) == 0)
        g_child_watch_add(pid, reap_opener, nullptr);
}

// The page's own address, with or without a fragment.
bool is_the_page(const Helper& h, const char* uri) {
    size_t length = h.page_uri.size();
    return std::strncmp(uri, h.page_uri.c_str(), length) == 0 &&
           (uri[length] == '\0' || uri[length] == '#');
}

gboolean on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision,
                          WebKitPolicyDecisionType type, gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && uri && is_the_page(h, uri)) {
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    webkit_policy_decision_ignore(decision);
    if (uri &&
        webkit_navigation_action_get_navigation_type(action) ==
            WEBKIT_NAVIGATION_TYPE_LINK_CLICKED &&
        webkit_navigation_action_is_user_gesture(action))
        open_externally(uri);
    return TRUE;
}

// A link the user clicked (see the bridge script).
void on_link_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer) {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_string(value)) return;
    char* uri = jsc_value_to_string(value);
    open_externally(uri);
    g_free(uri);
}

// ---- Page life ----------------------------------------------------------------------

// The page has run its scripts: its listener exists, and texts the host sent meanwhile
// reach it in their order.
void on_load_changed(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    if (event != WEBKIT_LOAD_FINISHED || h.page_loaded) return;
    h.page_loaded = true;
    for (const std::string& text : h.waiting_texts) deliver_to_page(h, text);
    h.waiting_texts.clear();
}

gboolean on_load_deadline(gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    if (!h.page_loaded)
        fail(h, kHelperExitPage,
             std::string("the page ") + h.options.page + " did not load within " +
                 std::to_string(kPageLoadTimeoutS) + " s");
    return G_SOURCE_REMOVE;
}

// The plug is inside the host's window: the host side maps it (XEmbed leaves that to
// the embedder) and may talk to the page from now on.
void report_ready(Helper& h) {
    GdkWindow* window = gtk_widget_get_window(h.plug);
    std::string frame;
    wire_append_u32(frame, wire_kind::ready, static_cast<uint32_t>(gdk_x11_window_get_xid(window)));
    send_frame(h, frame);
}

gboolean on_load_failed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error, gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    if (h.page_loaded) return FALSE; // a refused navigation: the page stays
    fail(h, kHelperExitPage,
         std::string("the page ") + h.options.page + " did not load: " + error->message);
    return TRUE;
}

void on_web_process_terminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                               gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    fail(h, kHelperExitWebProcess,
         reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
             ? "the browser's page process ran out of memory"
             : "the browser's page process crashed");
}

// The host destroyed its window, and with it the plug's, without closing the editor
// first. Nothing is left to draw in: the helper ends, and X errors about the windows
// that are gone (the toolkit would end the program on them) are ignored meanwhile.
GdkFilterReturn on_x_event(GdkXEvent* native, GdkEvent*, gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    auto* event = static_cast<XEvent*>(native);
    if (event->type != DestroyNotify || !h.plug ||
        event->xdestroywindow.window != gdk_x11_window_get_xid(gtk_widget_get_window(h.plug)))
        return GDK_FILTER_CONTINUE;
    gdk_x11_display_error_trap_push(gdk_display_get_default());
    h.plug = nullptr;
    quit(h, kHelperExitNoParent);
    return GDK_FILTER_REMOVE;
}

void on_plug_destroyed(GtkWidget*, gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    h.plug = nullptr;
    quit(h, kHelperExitNoParent);
}

void on_rules_ready(GObject* store, GAsyncResult* result, gpointer data) {
    auto& h = *static_cast<Helper*>(data);
    GError* error = nullptr;
    WebKitUserContentFilter* filter = webkit_user_content_filter_store_save_finish(
        WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
    if (!filter) {
        fail(h, kHelperExitPage,
             std::string("the browser refused the no-network rules: ") + error->message);
        g_error_free(error);
        return;
    }
    webkit_user_content_manager_add_filter(webkit_web_view_get_user_content_manager(h.view),
                                           filter);
    webkit_user_content_filter_unref(filter);
    webkit_web_view_load_uri(h.view, h.page_uri.c_str());
}

// ---- Start --------------------------------------------------------------------------

constexpr GdkRGBA kEmptyColour = {0x10 / 255.0, 0x0b / 255.0, 0x08 / 255.0,
                                  1}; // the page's darkest

gboolean paint_empty(GtkWidget*, cairo_t* cr, gpointer) {
    gdk_cairo_set_source_rgba(cr, &kEmptyColour);
    cairo_paint(cr);
    return FALSE;
}

WebKitWebView* make_view(Helper& h) {
    WebKitWebContext* context = webkit_web_context_new_ephemeral();
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    g_signal_connect(content, "script-message-received::emberpress", G_CALLBACK(on_script_message),
                     &h);
    webkit_user_content_manager_register_script_message_handler(content, kHandlerName);
    g_signal_connect(content, "script-message-received::emberpressLink",
                     G_CALLBACK(on_link_message), nullptr);
    webkit_user_content_manager_register_script_message_handler(content, kLinkHandlerName);
    WebKitUserScript* script =
        webkit_user_script_new(kBridgeScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);

    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_enable_page_cache(settings, FALSE);
    webkit_settings_set_enable_html5_local_storage(settings, FALSE);
    webkit_settings_set_enable_html5_database(settings, FALSE);
    webkit_settings_set_enable_webaudio(settings, FALSE);
    webkit_settings_set_enable_webgl(settings, FALSE);
    webkit_settings_set_enable_media(settings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);

    auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                              "user-content-manager", content, "settings", settings,
                                              nullptr));
    g_object_unref(settings);
    g_object_unref(content);
    g_object_unref(context);
    webkit_web_view_set_background_color(view, &kEmptyColour);
    g_signal_connect(view, "decide-policy", G_CALLBACK(on_decide_policy), &h);
    g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), &h);
    g_signal_connect(view, "load-failed", G_CALLBACK(on_load_failed), &h);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(on_web_process_terminated), &h);
    // No context menu: it would offer reloading and the browser's inspector.
    g_signal_connect(view, "context-menu", G_CALLBACK(gtk_true), nullptr);
    return view;
}

// The no-network rules, compiled by the browser into one folder per user (compiled
// afresh by every helper; the browser replaces the file whole). Nothing else is written.
bool block_network(Helper& h) {
    char* folder = g_build_filename(g_get_user_runtime_dir(), "emberpress-editor", nullptr);
    bool made = g_mkdir_with_parents(folder, 0700) == 0;
    if (made) {
        WebKitUserContentFilterStore* store = webkit_user_content_filter_store_new(folder);
        GBytes* rules = g_bytes_new_static(kNoNetworkRules, sizeof kNoNetworkRules - 1);
        webkit_user_content_filter_store_save(store, kRulesName, rules, nullptr, on_rules_ready,
                                              &h);
        g_bytes_unref(rules);
        g_object_unref(store);
    }
    g_free(folder);
    return made;
}

bool parse_size(const char* text, int& width, int& height) {
    char* end;
    long w = std::strtol(text, &end, 10);
    if (*end != 'x') return false;
    long hgt = std::strtol(end + 1, &end, 10);
    if (*end || w <= 0 || hgt <= 0 || w > kLargestSide || hgt > kLargestSide) return false;
    width = static_cast<int>(w);
    height = static_cast<int>(hgt);
    return true;
}

bool parse_options(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const char* name = argv[i];
        const char* value = argv[i + 1];
        char* end = nullptr;
        if (!std::strcmp(name, "--parent")) {
            o.parent = std::strtoul(value, &end, 0);
        } else if (!std::strcmp(name, "--page")) {
            o.page = value;
        } else if (!std::strcmp(name, "--size")) {
            if (!parse_size(value, o.width, o.height)) return false;
        } else if (!std::strcmp(name, "--host-pid")) {
            o.host_pid = std::strtol(value, &end, 10);
        } else {
            return false;
        }
        if (end && *end) return false;
    }
    return argc % 2 == 1 && o.parent != 0 && o.page && o.page[0] == '/';
}

bool window_exists(unsigned long xid) {
    GdkDisplay* display = gdk_display_get_default();
    gdk_x11_display_error_trap_push(display);
    XWindowAttributes attributes;
    Status found = XGetWindowAttributes(GDK_DISPLAY_XDISPLAY(display), xid, &attributes);
    return gdk_x11_display_error_trap_pop(display) == 0 && found;
}

} // namespace

int main(int argc, char** argv) {
    Helper h;
    struct stat socket_stat;
    if (!parse_options(argc, argv, h.options) || fstat(kHelperSocketFd, &socket_stat) != 0 ||
        !S_ISSOCK(socket_stat.st_mode)) {
        std::fprintf(stderr, "usage: emberpress-editor --parent XID --page /PATH/index.html "
                             "[--size WxH] [--host-pid PID], socket on fd 3\n");
        return kHelperExitUsage;
    }
    // Programs this one starts (xdg-open) do not inherit the socket.
    fcntl(kHelperSocketFd, F_SETFD, FD_CLOEXEC);

    // End with the host: the kernel's signal when the parent goes, and a check that it
    // has not already gone before the request was made.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (h.options.host_pid != 0 && getppid() != h.options.host_pid) return kHelperExitNoParent;

    // Only an X11 window can be embedded; the toolkit's sizes are the host's device
    // pixels (the page fills whatever size it gets, so the host's scale needs no toolkit
    // scale); software drawing works under every host and server.
    setenv("GDK_BACKEND", "x11", 1);
    setenv("GDK_SCALE", "1", 1);
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
    if (!gtk_init_check(nullptr, nullptr)) {
        const char* display = std::getenv("DISPLAY");
        fail(h, kHelperExitNoDisplay,
             std::string("cannot open the X display \"") + (display ? display : "") + "\"");
        return kHelperExitNoDisplay;
    }
    if (!window_exists(h.options.parent)) {
        fail(h, kHelperExitNoParent, "the host's window is gone");
        return kHelperExitNoParent;
    }
    if (access(h.options.page, R_OK) != 0) {
        fail(h, kHelperExitPage, std::string("the page ") + h.options.page + " is missing");
        return kHelperExitPage;
    }
    char* uri = g_filename_to_uri(h.options.page, nullptr, nullptr);
    h.page_uri = uri ? uri : "";
    g_free(uri);

    // The plug first, shown in the page's darkest shade: the host side maps it as soon as
    // it hears of it, and the browser starts meanwhile.
    h.plug = gtk_plug_new(h.options.parent);
    g_signal_connect(h.plug, "destroy", G_CALLBACK(on_plug_destroyed), &h);
    gtk_widget_set_app_paintable(h.plug, TRUE);
    g_signal_connect(h.plug, "draw", G_CALLBACK(paint_empty), nullptr);
    gtk_window_resize(GTK_WINDOW(h.plug), h.options.width, h.options.height);
    gtk_widget_show(h.plug);
    // Some hosts show nothing unless the plug has reached the server first.
    gdk_display_sync(gdk_display_get_default());
    gdk_window_add_filter(nullptr, on_x_event, &h);
    report_ready(h);

    h.view = make_view(h);
    gtk_container_add(GTK_CONTAINER(h.plug), GTK_WIDGET(h.view));
    resize(h, h.options.width, h.options.height);
    gtk_widget_show(GTK_WIDGET(h.view));
    g_unix_fd_add(kHelperSocketFd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                  on_socket, &h);
    g_timeout_add_seconds(kPageLoadTimeoutS, on_load_deadline, &h);
    if (!block_network(h)) {
        fail(h, kHelperExitPage, "no folder for the browser's no-network rules");
        return kHelperExitPage;
    }
    if (!h.quitting) gtk_main();

    if (h.plug) gtk_widget_destroy(h.plug);
    gdk_display_flush(gdk_display_get_default());
    return h.exit_status;
}
