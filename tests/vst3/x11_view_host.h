// A Linux host's side of the plug view: the bundle's module loaded with dlopen, a
// controller initialised with a host context, a component handler that records the
// edits, a frame, and a run loop of the host's own that watches the view's descriptors
// with poll() and fires its timers. The parent windows, pixels, pointer drags and
// process checks come from the X11 editor's test harness (tests/ui/x11/embedder.h).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "host.h"
#include "tests/ui/x11/embedder.h"

// --- The host's run loop ------------------------------------------------------------

struct RunLoop {
    IRunLoop iface;
    int32_t refs = 1;
    struct Watch {
        IEventHandler* handler;
        int fd;
    };
    struct Timer {
        ITimerHandler* handler;
        uint64_t ms;
        std::chrono::steady_clock::time_point due;
    };
    std::vector<Watch> watches; // each holds a reference to its handler
    std::vector<Timer> timers;  // likewise
    // A host that never reports a readable descriptor (it only runs timers).
    bool report_descriptors = true;
    bool refuse_timers = false; // registerTimer answers kResultFalse
    int descriptor_calls = 0;
    int timer_calls = 0;

    RunLoop();
    IRunLoop* loop() { return &iface; }
    // Runs the loop until `done` holds; false after `seconds`.
    bool run_until(const std::function<bool()>& done, double seconds);
    // Runs the loop for `seconds`.
    void run_for(double seconds);
};

// --- What the host gives the controller and the view ----------------------------------

// The host's frame: hands out `loop` (when set) and records resize requests.
struct Frame {
    IPlugFrame iface;
    RunLoop* loop = nullptr;
    std::vector<ViewRect> resizes;
    std::function<void(const ViewRect&)> on_resize; // the host's answer, inside the call
    Frame();
    IPlugFrame* frame() { return &iface; }
};

// The host context given to the controller's initialize.
struct Context {
    FUnknown iface;
    RunLoop* loop = nullptr;
    Context();
    FUnknown* unknown() { return &iface; }
};

struct Edit {
    char kind; // 'b' beginEdit, 'p' performEdit, 'e' endEdit
    ParamID id;
    double value; // performEdit only
};
void PrintTo(const Edit& e, std::ostream* out);

struct EditRecorder {
    IComponentHandler iface;
    int32_t refs = 1;
    std::vector<Edit> edits;
    EditRecorder();
};

// --- A plug-in's controller and view, as a host holds them ----------------------------

struct Session {
    Context context;
    EditRecorder handler;
    IEditController* controller = nullptr;
    explicit Session(IPluginFactory3* factory = test_factory(), RunLoop* context_loop = nullptr);
    ~Session();
    IPlugView* create_view();
    tresult set(ParamID id, double normalized);
};

// The module of a copy of the built bundle in the test's scratch folder, which the
// test may change (its helper removed or replaced), loaded and entered as a host does.
struct BundleCopy {
    std::string folder; // .../fernwood-emberpress.vst3
    std::string helper; // the copy's emberpress-editor
    LoadedModule module;
    IPluginFactory3* factory = nullptr;
    explicit BundleCopy(const std::string& name);
    ~BundleCopy();
};

// The Drive knob's centre in an editor of width w (the page scales with its width).
inline int drive_x(int w = 800) {
    return 95 * w / 800;
}
inline int drive_y(int w = 800) {
    return 200 * w / 800;
}
// A page of 800 x 400 shows a few thousand ember pixels (knob arcs, the lamp).
inline constexpr int kDrawn = 1500;
// A loaded machine needs time to start a browser.
inline constexpr double kBootSeconds = 15;

inline constexpr ParamID kDriveId = 1955105482u, kToneId = 1278044914u;

// Whether the page shows in the host's window (width x height at its top left).
bool page_drawn(Embedder& host, int width = 800, int height = 400);

// Drags the Drive knob by dy pixels while the run loop runs, until endEdit arrives;
// returns the edits it brought.
std::vector<Edit> drag_drive(RunLoop& loop, Session& s, Embedder& host, int dy, int width = 800);

class X11ViewTest : public ::testing::Test {
  protected:
    void SetUp() override;
};
