// The X11 editor's test host: a private X server (Xvfb) for the test process, a plain
// Xlib window standing in for the host's parent window, its pixels, and a run loop
// that polls the editors the way a host's timer would.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/x11/embed.h"

// Starts Xvfb on a free display for this process (DISPLAY then names it); stops it at
// exit. Returns false when the server does not start.
bool start_private_display();

struct Rgb {
    int r, g, b;
};

// A top-level Xlib window of the given size: the host's parent window.
class Embedder {
  public:
    // At (left, top) on the screen.
    Embedder(int width, int height, int left = 10, int top = 10);
    ~Embedder();
    Embedder(const Embedder&) = delete;
    Embedder& operator=(const Embedder&) = delete;

    Window window() const { return window_; }
    // Screen position of the window's top-left corner.
    int left() const { return left_; }
    int top() const { return top_; }

    // The config for an editor in this window; page texts are appended to `texts`.
    x11_editor_config config(int width = kEditorDefaultWidth, int height = kEditorDefaultWidth / 2);
    std::vector<std::string> texts;

    // The pixels of the window's area w x h at (x, y) as the screen shows them.
    std::vector<Rgb> pixels(int x, int y, int w, int h);
    // The windows inside this one (the editor's window while open).
    int child_count();
    // Resizes the window, as a host does when its user drags its frame.
    void resize(int width, int height);

  private:
    int left_, top_;
    Display* display_ = nullptr;
    Window window_ = 0;
};

// Polls `editors` every few milliseconds until `done` holds or `seconds` pass.
bool pump_until(const std::vector<x11_editor*>& editors, const std::function<bool()>& done,
                double seconds);

// Pixels of the page's ember orange (knob arcs, the lamp): strong red, middle green,
// little blue. The container's empty colour and black never count.
int ember_pixels(const std::vector<Rgb>& pixels);

// A pointer drag made with xdotool: press at (x, y) of the host's window, move `dy`
// pixels down (up when negative) in small steps, release.
bool drag(const Embedder& host, int x, int y, int dy);

// Standard error of the test process, and so of the helpers it starts, goes to a file
// while this lives.
class StderrCapture {
  public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    // The lines written so far that start with `prefix`.
    std::vector<std::string> lines(const std::string& prefix = "emberpress editor: ");

  private:
    int saved_ = -1;
    std::string path_;
};

// The direct children of this process, but for the X server.
std::vector<pid_t> child_processes();
// The children that are editor helpers (and have not ended).
std::vector<pid_t> helper_processes();
// Makes this process the reaper of its descendants' orphans (the browser's own
// processes, once a helper has ended), so that tests see every process left behind.
void adopt_orphans();
// Reaps the children of this process that end within `seconds`; returns those that
// did not.
std::vector<pid_t> settle_children(double seconds);
// The open descriptors of this process.
std::vector<int> open_descriptors();
// Whether the process exists and is not a zombie.
bool process_alive(pid_t pid);

// Paths from the build.
std::string helper_path();
std::string page_path();
