// The X11 editor through its in-host side, with the real helper and page from the LV2
// bundle, under a private X server: the page drawn inside a plain Xlib parent window,
// real pointer drags, host texts, sizes, two editors, open/close cycles, every failure
// and what each leaves behind, and the host's process free of toolkit libraries.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/lv2/process_posix.h"
#include "tests/ui/x11/embedder.h"

namespace {

// The Drive knob's centre in an 800 x 400 editor.
constexpr int kDriveX = 95;
constexpr int kDriveY = 200;
// An 800 x 400 page shows a few thousand ember pixels (knob arcs, the lamp).
constexpr int kDrawn = 1500;
constexpr double kBootSeconds = 15; // a loaded machine needs time to start a browser

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool has(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The page has run its scripts (it asked for the values and the news) and is drawn.
bool page_shows(Embedder& host, int width = 800, int height = 400) {
    return has(host.texts, "m kestrelV1 init emberpress") &&
           ember_pixels(host.pixels(0, 0, width, height)) > kDrawn;
}

bool gesture_ended(const Embedder& host) {
    return !host.texts.empty() && host.texts.back().rfind("e 0 ", 0) == 0;
}

// Lets queued texts reach the page.
void settle(x11_editor* ed) {
    pump_until(
        {ed}, [] { return false; }, 0.5);
}

class X11Editor : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(start_private_display());
        adopt_orphans();
    }
};

// Opening fails with exactly one line and leaves no process, descriptor or window.
void expect_clean_failure(Embedder& host, const x11_editor_config& config,
                          const std::string& line_part) {
    auto descriptors = open_descriptors();
    std::vector<std::string> lines;
    {
        StderrCapture err;
        EXPECT_EQ(x11_editor_open(config), nullptr);
        lines = err.lines();
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(line_part), std::string::npos) << lines[0];
    EXPECT_EQ(settle_children(5), std::vector<pid_t>{});
    EXPECT_EQ(open_descriptors(), descriptors);
    EXPECT_EQ(host.child_count(), 0);
}

} // namespace

TEST_F(X11Editor, ShowsThePageAndRelaysBothWays) {
    Embedder host(1200, 600);
    x11_editor* ed = x11_editor_open(host.config());
    ASSERT_NE(ed, nullptr);
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return page_shows(host); }, kBootSeconds));
    EXPECT_EQ(host.texts.front(), "g");
    EXPECT_EQ(ember_pixels(host.pixels(800, 0, 400, 600)), 0) << "drawn outside 800 x 400";

    // A host value moves the Drive knob: the next drag begins from it (10 -> 30).
    ASSERT_EQ(x11_editor_post_text(ed, "s 0 41200000"), 0);
    settle(ed);
    host.texts.clear();
    ASSERT_TRUE(drag(host, kDriveX, kDriveY, -40));
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return gesture_ended(host); }, 5));
    ASSERT_GE(host.texts.size(), 3u);
    EXPECT_EQ(host.texts.front(), "b 0 41200000");
    for (size_t i = 1; i + 1 < host.texts.size(); ++i)
        EXPECT_EQ(host.texts[i].rfind("s 0 ", 0), 0u) << host.texts[i];
    EXPECT_EQ(host.texts[host.texts.size() - 2], "s 0 41f00000");
    EXPECT_EQ(host.texts.back(), "e 0 41f00000");

    // Larger: the page fills the new size, and the knob follows it there.
    int width = 1200, height = 600;
    x11_editor_resize(ed, width, height);
    EXPECT_EQ(width, 1200);
    EXPECT_EQ(height, 600);
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return ember_pixels(host.pixels(800, 0, 400, 600)) > kDrawn / 2; }, 5));
    host.texts.clear();
    ASSERT_TRUE(drag(host, kDriveX * 3 / 2, kDriveY * 3 / 2, -30));
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return gesture_ended(host); }, 5));
    EXPECT_EQ(host.texts.front(), "b 0 41f00000");

    // Sizes outside the range become the nearest 2:1 size that fits; the host's scale
    // multiplies the range and keeps the editor's size relative to it.
    for (auto [w, h, want_w] :
         {std::tuple{5000, 100, 640}, {1000, 900, 1000}, {2400, 1200, 1200}, {641, 400, 640}}) {
        int fitted_w = w, fitted_h = h;
        x11_editor_resize(ed, fitted_w, fitted_h);
        EXPECT_EQ(fitted_w, want_w) << w << "x" << h;
        EXPECT_EQ(fitted_h, want_w / 2) << w << "x" << h;
    }
    int scaled_w, scaled_h;
    x11_editor_set_scale(ed, 2, scaled_w, scaled_h);
    EXPECT_EQ(scaled_w, 1280);
    EXPECT_EQ(scaled_h, 640);
    scaled_w = 5000, scaled_h = 2500;
    x11_editor_resize(ed, scaled_w, scaled_h);
    EXPECT_EQ(scaled_w, 2400);
    x11_editor_set_scale(ed, 1, scaled_w, scaled_h);
    EXPECT_EQ(scaled_w, 1200);
    EXPECT_TRUE(x11_editor_running(ed));
    x11_editor_close(ed);
    EXPECT_EQ(host.child_count(), 0);
}

// An LV2 host resizes its window without telling the UI: the editor follows it when
// asked to, fitted to 2:1.
TEST_F(X11Editor, FollowsTheHostsWindowWhenAsked) {
    Embedder host(800, 400);
    x11_editor_config config = host.config();
    config.follow_parent = true;
    x11_editor* ed = x11_editor_open(config);
    ASSERT_NE(ed, nullptr);
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return page_shows(host); }, kBootSeconds));
    // The page's ember grows with the square of the size: about (1100 / 800)^2 = 1.9 times.
    int at_800 = ember_pixels(host.pixels(0, 0, 800, 400));
    host.resize(1100, 700);
    EXPECT_TRUE(pump_until(
        {ed}, [&] { return ember_pixels(host.pixels(0, 0, 1100, 550)) > at_800 * 3 / 2; }, 5));
    EXPECT_EQ(ember_pixels(host.pixels(0, 560, 1100, 140)), 0) << "drawn beyond 1100 x 550";
    x11_editor_close(ed);
}

TEST_F(X11Editor, TwoEditorsAtOnceKeepToThemselves) {
    Embedder first(800, 400, 10, 10), second(800, 400, 10, 440);
    x11_editor* a = x11_editor_open(first.config());
    x11_editor* b = x11_editor_open(second.config());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(pump_until(
        {a, b}, [&] { return page_shows(first) && page_shows(second); }, kBootSeconds));

    // A host value for the first editor; a drag in the second starts from its own value.
    ASSERT_EQ(x11_editor_post_text(a, "s 0 41200000"), 0);
    settle(a);
    first.texts.clear();
    second.texts.clear();
    ASSERT_TRUE(drag(second, kDriveX, kDriveY, -20));
    ASSERT_TRUE(pump_until(
        {a, b}, [&] { return gesture_ended(second); }, 5));
    EXPECT_EQ(second.texts.front(), "b 0 42480000");
    EXPECT_TRUE(first.texts.empty());

    x11_editor_close(a);
    EXPECT_EQ(first.child_count(), 0);
    pump_until(
        {b}, [] { return false; }, 0.3);
    EXPECT_TRUE(x11_editor_running(b));
    EXPECT_GT(ember_pixels(second.pixels(0, 0, 800, 400)), kDrawn);
    x11_editor_close(b);
}

TEST_F(X11Editor, FiftyOpenAndCloseCyclesLeaveNothing) {
    Embedder host(800, 400);
    auto descriptors = open_descriptors();
    for (int cycle = 0; cycle < 50; ++cycle) {
        x11_editor* ed = x11_editor_open(host.config());
        ASSERT_NE(ed, nullptr) << "cycle " << cycle;
        // Some close while the page is loading, some once it shows.
        if (cycle % 10 == 9) {
            host.texts.clear();
            ASSERT_TRUE(pump_until(
                {ed}, [&] { return page_shows(host); }, kBootSeconds));
        }
        x11_editor_close(ed);
    }
    // Not the helpers, nor the browser processes they started.
    EXPECT_EQ(settle_children(5), std::vector<pid_t>{});
    EXPECT_EQ(open_descriptors(), descriptors);
    EXPECT_EQ(host.child_count(), 0);
}

TEST_F(X11Editor, OpeningFailsCleanlyWithOneLine) {
    Embedder host(800, 400);
    std::string folder = ::testing::TempDir() + "emberpress-x11-faults";
    std::filesystem::create_directories(folder);

    x11_editor_config config = host.config();
    std::string missing = folder + "/no-such-helper";
    config.helper_path = missing.c_str();
    expect_clean_failure(host, config, "the helper program " + missing + " is missing");

    config = host.config();
    std::string no_page = folder + "/no-such-page.html";
    config.page_path = no_page.c_str();
    expect_clean_failure(host, config, "the page " + no_page + " is missing");

    config = host.config();
    config.parent = 0x1ffffff0;
    expect_clean_failure(host, config, "does not exist");

    // A helper that never answers is stopped at the limit.
    std::string silent = folder + "/silent-helper";
    std::ofstream(silent) << "#!/bin/sh\nexec sleep 60\n";
    std::filesystem::permissions(silent, std::filesystem::perms::owner_all);
    config = host.config();
    config.helper_path = silent.c_str();
    auto start = Clock::now();
    expect_clean_failure(host, config, "no answer from " + silent + " within 5 s");
    EXPECT_LT(seconds_since(start), 8);

    // WebKitGTK missing: the real helper, with the library hidden from it.
    CommandResult ldd = run_command({"ldd", helper_path()});
    size_t at = ldd.output.find("libwebkit2gtk-4.1.so.0 => ");
    ASSERT_NE(at, std::string::npos) << ldd.output;
    std::string library = ldd.output.substr(at + 26, ldd.output.find(' ', at + 26) - at - 26);
    if (run_command({"unshare", "-rm", "mount", "--bind", "/dev/null", library}).status != 0)
        GTEST_SKIP() << "no user namespace to hide " << library << " in";
    std::string hidden = folder + "/helper-without-webkit";
    std::ofstream(hidden) << "#!/bin/sh\nexec unshare -rm sh -c 'mount --bind /dev/null \"$1\" "
                             "&& shift && exec \"$@\"' - "
                          << library << " " << helper_path() << " \"$@\"\n";
    std::filesystem::permissions(hidden, std::filesystem::perms::owner_all);
    config = host.config();
    config.helper_path = hidden.c_str();
    expect_clean_failure(host, config, "a library it needs is missing (WebKitGTK 4.1");
}

TEST_F(X11Editor, RefusedTextsChangeNothing) {
    Embedder host(800, 400);
    x11_editor* ed = x11_editor_open(host.config());
    ASSERT_NE(ed, nullptr);
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return page_shows(host); }, kBootSeconds));
    using namespace std::string_view_literals;
    for (std::string_view bad :
         {"s 0 \xff\xfe"sv, "s 0\0 41200000"sv, "\xed\xa0\x80"sv, "\xc0\xafs"sv})
        EXPECT_EQ(x11_editor_post_text(ed, bad), -1);
    EXPECT_EQ(x11_editor_post_text(ed, std::string((1u << 20) + 1, 'm')), -1);

    // The helper is still there, and the page took none of them: a drag starts from 50.
    settle(ed);
    EXPECT_TRUE(x11_editor_running(ed));
    host.texts.clear();
    ASSERT_TRUE(drag(host, kDriveX, kDriveY, -10));
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return gesture_ended(host); }, 5));
    EXPECT_EQ(host.texts.front(), "b 0 42480000");
    x11_editor_close(ed);
}

// The browser stays off the network whatever a page tries (the editor page's own rules
// forbid it too; this page has none): images, fetch and navigation reach no server, a
// followed link goes to the desktop's opener (a stand-in here, found on PATH) and the
// page stays where it is.
TEST_F(X11Editor, BrowserStaysOffTheNetwork) {
    int server = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(server, 8), 0);
    ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::string origin = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    std::string folder = ::testing::TempDir() + "emberpress-x11-network";
    std::filesystem::create_directories(folder + "/bin");
    std::string opened = folder + "/opened.txt";
    std::filesystem::remove(opened);
    std::ofstream(folder + "/bin/xdg-open") << "#!/bin/sh\necho \"$@\" >> " << opened << "\n";
    std::filesystem::permissions(folder + "/bin/xdg-open", std::filesystem::perms::owner_all);
    std::ofstream(folder + "/page.html")
        << "<!DOCTYPE html><body style='margin:0'>"
        << "<a href='" << origin << "/link' style='display:block;width:400px;height:200px;"
        << "background:#ff8a1f'>out</a><img src='" << origin << "/image.png'><script>"
        << "const channel = window.chrome.webview;"
        << "const post = (text) => channel.postMessage(text);"
        << "fetch('" << origin << "/fetch').then(() => post('fetched'), () => post('refused'));"
        << "channel.addEventListener('message', (event) => {"
        << "  if (event.data === 'leave') location.href = '" << origin << "/leave';"
        << "  if (event.data === 'where') post(location.href); });"
        << "</script>";
    std::string path = getenv("PATH");
    setenv("PATH", (folder + "/bin:" + path).c_str(), 1);

    Embedder host(800, 400);
    x11_editor_config config = host.config();
    std::string page = folder + "/page.html";
    config.page_path = page.c_str();
    x11_editor* ed = x11_editor_open(config);
    setenv("PATH", path.c_str(), 1);
    ASSERT_NE(ed, nullptr);
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return has(host.texts, "refused"); }, kBootSeconds))
        << "the page's fetch was not refused at once: it went to the server";

    ASSERT_TRUE(drag(host, 200, 100, 0)); // a click on the link
    EXPECT_TRUE(pump_until(
        {ed}, [&] { return std::filesystem::exists(opened); }, 5));
    x11_editor_post_text(ed, "leave");
    settle(ed);
    x11_editor_post_text(ed, "where");
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return host.texts.back().rfind("file:", 0) == 0; }, 5));
    EXPECT_EQ(host.texts.back(), "file://" + page);

    std::ifstream opened_file(opened);
    std::string line;
    std::getline(opened_file, line);
    EXPECT_EQ(line, origin + "/link");
    EXPECT_FALSE(std::getline(opened_file, line)) << "opened again: " << line;
    for (int c; (c = accept(server, nullptr, nullptr)) >= 0;) {
        char request[200] = {};
        pollfd readable{c, POLLIN, 0};
        if (poll(&readable, 1, 100) > 0 && read(c, request, sizeof request - 1) < 0) request[0] = 0;
        ADD_FAILURE() << "the browser reached the server, asking: " << request;
        close(c);
    }
    x11_editor_close(ed);
    close(server);
}

// A helper that dies or stops later leaves an empty editor within the limits, no poll
// waits for it, and closing and opening again brings the page back.
TEST_F(X11Editor, HelperKilledOrStoppedLeavesAnEmptyView) {
    Embedder host(800, 400);
    for (int signal_number : {SIGKILL, SIGSTOP}) {
        SCOPED_TRACE(signal_number == SIGKILL ? "killed" : "stopped");
        host.texts.clear();
        x11_editor* ed = x11_editor_open(host.config());
        ASSERT_NE(ed, nullptr);
        ASSERT_TRUE(pump_until(
            {ed}, [&] { return page_shows(host); }, kBootSeconds));
        std::vector<pid_t> helpers = helper_processes();
        ASSERT_EQ(helpers.size(), 1u);

        StderrCapture err;
        kill(helpers[0], signal_number);
        double limit = signal_number == SIGKILL ? 1 : kX11AnswerTimeoutMs / 1000.0 + 2;
        double longest_poll = 0;
        auto start = Clock::now();
        bool noticed = pump_until(
            {},
            [&] {
                auto before = Clock::now();
                x11_editor_poll(ed);
                longest_poll = std::max(longest_poll, seconds_since(before));
                return !x11_editor_running(ed);
            },
            limit + 1);
        ASSERT_TRUE(noticed);
        EXPECT_LT(seconds_since(start), limit);
        EXPECT_LT(longest_poll, 0.5);
        EXPECT_EQ(err.lines().size(), 1u);

        // Nothing more happens: the descriptor stays quiet, texts are dropped.
        pollfd quiet{x11_editor_fd(ed), POLLIN, 0};
        EXPECT_EQ(poll(&quiet, 1, 0), 0);
        EXPECT_EQ(x11_editor_post_text(ed, "s 0 41200000"), 0);
        pump_until(
            {ed}, [] { return false; }, 0.5);
        EXPECT_EQ(ember_pixels(host.pixels(0, 0, 800, 400)), 0);

        x11_editor_close(ed);
        EXPECT_EQ(host.child_count(), 0);
        EXPECT_EQ(settle_children(5), std::vector<pid_t>{});
    }
    // Back again.
    host.texts.clear();
    x11_editor* ed = x11_editor_open(host.config());
    ASSERT_NE(ed, nullptr);
    EXPECT_TRUE(pump_until(
        {ed}, [&] { return page_shows(host); }, kBootSeconds));
    x11_editor_close(ed);
}

// Hosts that collect every child themselves (a SIGCHLD handler, or SIGCHLD ignored):
// the helper's end is still seen, closing neither waits long nor fails.
TEST_F(X11Editor, HostsThatReapEveryChild) {
    struct sigaction reap_all {};
    reap_all.sa_handler = [](int) {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    };
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    Embedder host(800, 400);
    for (const struct sigaction* disposition : {&reap_all, &ignore}) {
        struct sigaction saved;
        sigaction(SIGCHLD, disposition, &saved);
        host.texts.clear();
        x11_editor* ed = x11_editor_open(host.config());
        EXPECT_NE(ed, nullptr);
        if (ed) {
            EXPECT_TRUE(pump_until(
                {ed}, [&] { return page_shows(host); }, kBootSeconds));
            kill(helper_processes().at(0), SIGKILL);
            EXPECT_TRUE(pump_until(
                {ed}, [&] { return !x11_editor_running(ed); }, 2));
            auto start = Clock::now();
            x11_editor_close(ed);
            EXPECT_LT(seconds_since(start), 2);
        }
        sigaction(SIGCHLD, &saved, nullptr);
        EXPECT_EQ(settle_children(5), std::vector<pid_t>{});
        EXPECT_EQ(host.child_count(), 0);
    }
}

// A host that destroys its window before closing the editor: the helper ends quietly
// (no toolkit complaint in the host's output), the editor is empty, closing cleans up.
TEST_F(X11Editor, HostWindowDestroyedFirst) {
    auto host = std::make_unique<Embedder>(800, 400);
    x11_editor* ed = x11_editor_open(host->config());
    ASSERT_NE(ed, nullptr);
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return page_shows(*host); }, kBootSeconds));
    StderrCapture err;
    host.reset();
    EXPECT_TRUE(pump_until(
        {ed}, [&] { return !x11_editor_running(ed); }, 5));
    EXPECT_EQ(err.lines().size(), 1u);
    EXPECT_EQ(err.lines("(emberpress-editor:"), std::vector<std::string>{});
    x11_editor_close(ed);
    EXPECT_EQ(settle_children(5), std::vector<pid_t>{});
}

// The host's process dies: its helper follows within a second.
TEST_F(X11Editor, HelperEndsWithTheHost) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t host_pid = fork();
    ASSERT_GE(host_pid, 0);
    if (host_pid == 0) {
        close(ready[0]);
        Embedder host(800, 400);
        x11_editor* ed = x11_editor_open(host.config());
        bool shown = ed && pump_until(
                               {ed}, [&] { return page_shows(host); }, kBootSeconds);
        char answer = shown ? 'y' : 'n';
        if (write(ready[1], &answer, 1) != 1) _exit(1);
        for (;;) pause();
    }
    close(ready[1]);
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    close(ready[0]);
    ASSERT_EQ(answer, 'y');
    std::ifstream children("/proc/" + std::to_string(host_pid) + "/task/" +
                           std::to_string(host_pid) + "/children");
    pid_t helper = 0;
    ASSERT_TRUE(children >> helper);

    kill(host_pid, SIGKILL);
    ASSERT_EQ(waitpid(host_pid, nullptr, 0), host_pid);
    auto start = Clock::now();
    // The orphaned helper is this process's now; it must end by itself.
    while (process_alive(helper) && seconds_since(start) < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LT(seconds_since(start), 1.0);
    EXPECT_EQ(settle_children(5), std::vector<pid_t>{});
}

// The host's process never maps a toolkit library: neither by linking the in-host side
// nor at run time with an editor open.
TEST_F(X11Editor, HostProcessLoadsNoToolkit) {
    const char* toolkit[] = {"libgtk", "libgdk",    "libglib",           "libgobject",
                             "libgio", "libwebkit", "libjavascriptcore", "libsoup"};
    Embedder host(800, 400);
    x11_editor* ed = x11_editor_open(host.config());
    ASSERT_NE(ed, nullptr);
    ASSERT_TRUE(pump_until(
        {ed}, [&] { return page_shows(host); }, kBootSeconds));
    std::ifstream maps_file("/proc/self/maps");
    std::string maps((std::istreambuf_iterator<char>(maps_file)), {});
    CommandResult ldd = run_command({"ldd", std::filesystem::read_symlink("/proc/self/exe")});
    ASSERT_EQ(ldd.status, 0);
    for (const char* name : toolkit) {
        EXPECT_EQ(maps.find(name), std::string::npos) << name << " mapped";
        EXPECT_EQ(ldd.output.find(name), std::string::npos) << name << " linked";
    }
    // The helper, by contrast, does hold them (the scan would see them).
    std::vector<pid_t> helpers = helper_processes();
    ASSERT_EQ(helpers.size(), 1u);
    std::ifstream helper_maps("/proc/" + std::to_string(helpers[0]) + "/maps");
    std::string helper_text((std::istreambuf_iterator<char>(helper_maps)), {});
    EXPECT_NE(helper_text.find("libwebkit2gtk-4.1"), std::string::npos);
    x11_editor_close(ed);
}
