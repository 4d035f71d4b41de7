#include "embedder.h"

#include <X11/Xutil.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/lv2/process_posix.h"

extern char** environ;

namespace {

pid_t xvfb_pid = -1;

void stop_private_display() {
    if (xvfb_pid <= 0) return;
    kill(xvfb_pid, SIGTERM);
    waitpid(xvfb_pid, nullptr, 0);
    xvfb_pid = -1;
}

} // namespace

bool start_private_display() {
    if (xvfb_pid > 0) return true;
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return false;
    std::string fd = std::to_string(pipe_fds[1]);
    const char* argv[] = {"Xvfb",        "-displayfd", fd.c_str(), "-screen",  "0",
                          "1600x900x24", "-nolisten",  "tcp",      "-noreset", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int error =
        posix_spawnp(&xvfb_pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (error != 0) {
        close(pipe_fds[0]);
        xvfb_pid = -1;
        return false;
    }
    // The server writes its display number and a newline (not always at once) when it
    // is about to take connections; it ends if the pipe closes before the newline.
    char number[16] = {};
    size_t got = 0;
    while (got < sizeof number - 1 && !memchr(number, '\n', got)) {
        ssize_t n = read(pipe_fds[0], number + got, sizeof number - 1 - got);
        if (n <= 0) break;
        got += size_t(n);
    }
    close(pipe_fds[0]);
    if (!memchr(number, '\n', got)) {
        stop_private_display();
        return false;
    }
    std::string display = ":";
    display.append(number, strcspn(number, "\n"));
    setenv("DISPLAY", display.c_str(), 1);
    std::atexit(stop_private_display);
    // The number can come before the server takes connections: try for a while.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (Display* probe = XOpenDisplay(nullptr)) {
            XCloseDisplay(probe);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// ---- The host's window ------------------------------------------------------------------

namespace {

// Failed requests of the test's own connection are the test's concern, never fatal.
int ignore_x_error(Display*, XErrorEvent*) {
    return 0;
}

void record_text(void* user_data, const char* text, size_t size) {
    static_cast<Embedder*>(user_data)->texts.emplace_back(text, size);
}

} // namespace

Embedder::Embedder(int width, int height, int left, int top) : left_(left), top_(top) {
    display_ = XOpenDisplay(nullptr);
    if (!display_) return;
    XSetErrorHandler(ignore_x_error);
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), left_, top_,
                                  unsigned(width), unsigned(height), 0, 0, 0x404040);
    // Without a window manager the window stays where it is asked to be.
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    XChangeWindowAttributes(display_, window_, CWOverrideRedirect, &attributes);
    XMapRaised(display_, window_);
    XSync(display_, False);
}

Embedder::~Embedder() {
    if (!display_) return;
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
}

x11_editor_config Embedder::config(int width, int height) {
    static std::string helper, page;
    helper = helper_path();
    page = page_path();
    return {helper.c_str(), page.c_str(), uint32_t(window_), width, height, 1.0, record_text,
            this,           false};
}

std::vector<Rgb> Embedder::pixels(int x, int y, int w, int h) {
    std::vector<Rgb> out;
    XSync(display_, False);
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), left() + x, top() + y,
                              unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    if (!image) return out;
    for (int row = 0; row < h; ++row)
        for (int column = 0; column < w; ++column) {
            unsigned long p = XGetPixel(image, column, row);
            out.push_back({int(p >> 16 & 0xff), int(p >> 8 & 0xff), int(p & 0xff)});
        }
    XDestroyImage(image);
    return out;
}

int Embedder::child_count() {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, window_, &root, &parent, &children, &count)) return -1;
    if (children) XFree(children);
    return int(count);
}

void Embedder::resize(int width, int height) {
    XResizeWindow(display_, window_, unsigned(width), unsigned(height));
    XSync(display_, False);
}

bool pump_until(const std::vector<x11_editor*>& editors, const std::function<bool()>& done,
                double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        for (x11_editor* ed : editors) x11_editor_poll(ed);
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kX11PollIntervalMs / 2));
    }
}

int ember_pixels(const std::vector<Rgb>& pixels) {
    int count = 0;
    for (const Rgb& p : pixels)
        if (p.r > 180 && p.g > 60 && p.g < 200 && p.b < 90) ++count;
    return count;
}

bool drag(const Embedder& host, int x, int y, int dy) {
    constexpr int kSteps = 10;
    int sx = host.left() + x, sy = host.top() + y;
    std::vector<std::string> argv = {"xdotool", "mousemove", std::to_string(sx), std::to_string(sy),
                                     "sleep",   "0.2",       "mousedown",        "1"};
    for (int step = 1; step <= kSteps; ++step) {
        argv.insert(argv.end(), {"sleep", "0.03", "mousemove", std::to_string(sx),
                                 std::to_string(sy + dy * step / kSteps)});
    }
    argv.insert(argv.end(), {"sleep", "0.1", "mouseup", "1"});
    return run_command(argv, "", {}, 20).status == 0;
}

StderrCapture::StderrCapture() {
    char path[] = "/tmp/emberpress-x11-stderr-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return;
    path_ = path;
    fflush(stderr);
    saved_ = dup(2);
    dup2(fd, 2);
    close(fd);
}

StderrCapture::~StderrCapture() {
    if (saved_ < 0) return;
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    // Shown again, for the test's log.
    std::ifstream file(path_);
    std::string line;
    while (std::getline(file, line)) fprintf(stderr, "%s\n", line.c_str());
    unlink(path_.c_str());
}

std::vector<std::string> StderrCapture::lines(const std::string& prefix) {
    fflush(stderr);
    std::vector<std::string> out;
    std::ifstream file(path_);
    std::string line;
    while (std::getline(file, line))
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
}

std::vector<pid_t> child_processes() {
    std::vector<pid_t> out;
    std::string path = "/proc/self/task/" + std::to_string(getpid()) + "/children";
    std::ifstream file(path);
    pid_t pid;
    while (file >> pid)
        if (pid != xvfb_pid) out.push_back(pid);
    return out;
}

std::vector<pid_t> helper_processes() {
    std::vector<pid_t> out;
    for (pid_t pid : child_processes()) {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        // The kernel keeps 15 characters of the name.
        if (std::getline(comm, name) && name == std::string("emberpress-editor").substr(0, 15) &&
            process_alive(pid))
            out.push_back(pid);
    }
    return out;
}

void adopt_orphans() {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

std::vector<pid_t> settle_children(double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        std::vector<pid_t> left;
        for (pid_t pid : child_processes())
            if (waitpid(pid, nullptr, WNOHANG) != pid) left.push_back(pid);
        if (left.empty() || std::chrono::steady_clock::now() > deadline) return left;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<int> open_descriptors() {
    std::vector<int> out;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return out;
    int own = dirfd(dir);
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        int fd = atoi(entry->d_name);
        if (fd != own) out.push_back(fd);
    }
    closedir(dir);
    return out;
}

bool process_alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    size_t close_paren = line.rfind(')');
    return close_paren != std::string::npos && close_paren + 2 < line.size() &&
           line[close_paren + 2] != 'Z';
}

std::string helper_path() {
    return EMBER_LV2_BUNDLE "/emberpress-editor";
}
std::string page_path() {
    return EMBER_LV2_BUNDLE "/index.html";
}
