// The plug view on Linux: shows the web editor inside the host's X11 window. The
// editor has no thread of its own here: the host lends its run loop (IRunLoop, from
// the frame or else from the context the controller was initialised with), in which
// the view registers the editor's socket and a polling timer, both letting the editor
// do its work (some hosts never report a registered descriptor). Page edits then reach
// the controller, and through it the host, on the host's user-interface thread, where
// every IPlugView call arrives too.
//
// Sizes are device pixels: the editor's sizes (ui/editor.h) times the host's content
// scale, 2:1, 800 x 400 at scale 1 until the host resizes the view.
#include <cstdio>
#include <cstring>
#include <new>

#include "ui/editor.h"
#include "vst3/com_object.h"
#include "vst3/view.h"

using namespace vst3;

struct RunLoopClient;

struct Vst3View : ComObject<Vst3View, IPlugView, IPlugViewContentScaleSupport>, ViewEditor {
    IPlugFrame* frame = nullptr;     // no reference held
    IRunLoop* run_loop = nullptr;    // one reference, while attached
    RunLoopClient* client = nullptr; // registered in run_loop while attached
    bool watching_fd = false;        // the client's descriptor handler is registered
    int width = kEditorDefaultWidth, height = kEditorDefaultHeight;
    double scale = 1;

    // Closes the editor and leaves the controller's list.
    static void destroy(Vst3View* v);
};

// The view's handlers in the host's run loop: a readable socket and the timer both
// let the editor work. The host holds its own references while they are registered,
// and may hold them longer: once the view has unregistered them they do nothing.
struct RunLoopClient : ComObject<RunLoopClient, IEventHandler, ITimerHandler> {
    Vst3View* view = nullptr; // null once unregistered

    static void destroy(RunLoopClient* c) { delete c; }
};

namespace {

// How often the editor polls the helper when the host reports no readable descriptor.
constexpr TimerInterval kIdleMilliseconds = 20;

Vst3View* self(IPlugView* i) {
    return Vst3View::of(i);
}

bool is_x11(FIDString type) {
    return type && std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0;
}

void say(const char* line) {
    std::fprintf(stderr, "emberpress editor: %s\n", line);
}

// --- The host's run loop -------------------------------------------------------------

// The editor's periodic work, from either handler. A page edit may lead the host to
// remove or release the view from inside it; the client stays alive until the call
// is over.
template <class I>
void serve(I* handler) {
    if (!handler) return;
    RunLoopClient* c = RunLoopClient::of(handler);
    c->add_ref();
    if (c->view && c->view->ed) editor_idle(c->view->ed);
    c->release();
}

constexpr IEventHandlerVtbl kEventVtbl = {
    RunLoopClient::kUnknownSlots<IEventHandler>,
    [](IEventHandler* i, FileDescriptor) { serve(i); },
};
constexpr ITimerHandlerVtbl kTimerVtbl = {
    RunLoopClient::kUnknownSlots<ITimerHandler>,
    [](ITimerHandler* i) { serve(i); },
};

// The host's run loop: asked of the frame first, then of the context the controller
// was initialised with (hosts differ). One reference, or null.
IRunLoop* find_run_loop(Vst3View* v) {
    void* found = nullptr;
    if (v->frame &&
        v->frame->vtbl->unknown.queryInterface(v->frame, kIRunLoopIid.bytes, &found) == kResultOk &&
        found)
        return static_cast<IRunLoop*>(found);
    FUnknown* context = vst3_controller_host_context(v->controller);
    found = nullptr;
    if (context && context->vtbl->queryInterface(context, kIRunLoopIid.bytes, &found) == kResultOk)
        return static_cast<IRunLoop*>(found);
    return nullptr;
}

// Takes the view's handlers out of the run loop and lets go of both.
void leave_run_loop(Vst3View* v) {
    IRunLoop* loop = v->run_loop;
    RunLoopClient* c = v->client;
    if (c) {
        if (v->watching_fd) loop->vtbl->unregisterEventHandler(loop, c->as<IEventHandler>());
        loop->vtbl->unregisterTimer(loop, c->as<ITimerHandler>());
        c->view = nullptr;
        c->release();
    }
    if (loop) loop->vtbl->unknown.release(loop);
    v->run_loop = nullptr;
    v->client = nullptr;
    v->watching_fd = false;
}

// Registers the editor's descriptor and the polling timer. The timer is what the
// editor needs; a host that refuses the descriptor still polls it through the timer.
bool join_run_loop(Vst3View* v) {
    RunLoopClient* c = new (std::nothrow) RunLoopClient();
    if (!c) return false;
    c->set_tables(&kEventVtbl, &kTimerVtbl);
    c->view = v;
    IRunLoop* loop = v->run_loop;
    if (loop->vtbl->registerTimer(loop, c->as<ITimerHandler>(), kIdleMilliseconds) != kResultOk) {
        c->view = nullptr;
        c->release();
        return false;
    }
    v->client = c;
    const int fd = editor_poll_fd(v->ed);
    v->watching_fd =
        fd >= 0 && loop->vtbl->registerEventHandler(loop, c->as<IEventHandler>(), fd) == kResultOk;
    return true;
}

// The handlers leave the run loop before the editor closes its descriptor.
void close_editor(Vst3View* v) {
    if (!v->ed) return;
    leave_run_loop(v);
    editor_destroy(v->ed);
    v->ed = nullptr;
}

// --- Sizes ---------------------------------------------------------------------------

// The rectangle's size fitted to the editor's sizes at the view's scale; it keeps its
// top-left corner.
ViewRect fitted(const Vst3View* v, const ViewRect& r) {
    int width = r.right - r.left, height = r.bottom - r.top;
    editor_fit_size(width, height, v->scale);
    return ViewRect{r.left, r.top, r.left + width, r.top + height};
}

// --- IPlugView -----------------------------------------------------------------------

tresult is_platform_type_supported(IPlugView*, FIDString type) {
    return is_x11(type) ? kResultTrue : kResultFalse;
}

tresult attached(IPlugView* i, void* parent, FIDString type) {
    Vst3View* v = self(i);
    if (!is_x11(type) || !parent || v->ed) return kInvalidArgument;
    if (!v->controller) return kResultFalse; // its controller is gone: nothing to show
    v->run_loop = find_run_loop(v);
    if (!v->run_loop) {
        say("the host lends no run loop (IRunLoop) to the view; the editor cannot open");
        return kResultFalse;
    }
    v->ed = vst3_view_open_editor(*v, parent, v->width, v->height, v->scale); // says why not
    if (v->ed && !join_run_loop(v)) {
        say("the host's run loop refused the editor's timer; the editor cannot open");
        editor_destroy(v->ed);
        v->ed = nullptr;
    }
    if (!v->ed) {
        leave_run_loop(v);
        return kResultFalse;
    }
    vst3_view_show_current_values(*v);
    return kResultOk;
}

tresult removed(IPlugView* i) {
    close_editor(self(i));
    return kResultOk;
}

tresult on_wheel(IPlugView*, float) {
    return kResultFalse;
}
tresult on_key(IPlugView*, char16, int16_t, int16_t) {
    return kResultFalse;
}
tresult on_focus(IPlugView*, TBool) {
    return kResultFalse;
}

tresult get_size(IPlugView* i, ViewRect* size) {
    if (!size) return kInvalidArgument;
    *size = ViewRect{0, 0, self(i)->width, self(i)->height};
    return kResultOk;
}

// The editor takes the nearest size it can show: a host that skipped
// checkSizeConstraint sees it in getSize.
tresult on_size(IPlugView* i, ViewRect* size) {
    if (!size) return kInvalidArgument;
    Vst3View* v = self(i);
    if (!v->ed) return kResultFalse;
    const ViewRect r = fitted(v, *size);
    v->width = r.right - r.left;
    v->height = r.bottom - r.top;
    editor_resize(v->ed, v->width, v->height);
    return kResultOk;
}

tresult set_frame(IPlugView* i, IPlugFrame* frame) {
    self(i)->frame = frame;
    return kResultOk;
}

tresult can_resize(IPlugView*) {
    return kResultTrue;
}

tresult check_size_constraint(IPlugView* i, ViewRect* rect) {
    if (!rect) return kInvalidArgument;
    *rect = fitted(self(i), *rect);
    return kResultTrue;
}

constexpr IPlugViewVtbl kViewVtbl = {
    Vst3View::kUnknownSlots<IPlugView>,
    is_platform_type_supported,
    attached,
    removed,
    on_wheel,
    on_key,
    on_key,
    get_size,
    on_size,
    on_focus,
    set_frame,
    can_resize,
    check_size_constraint,
};

// --- IPlugViewContentScaleSupport ----------------------------------------------------

// The view keeps its size relative to the scale. An open editor takes the new size at
// once and the host is asked to resize its window to match.
tresult set_content_scale_factor(IPlugViewContentScaleSupport* i, ScaleFactor factor) {
    if (!(factor >= kEditorMinScale && factor <= kEditorMaxScale)) return kInvalidArgument;
    Vst3View* v = Vst3View::of(i);
    if (factor == v->scale) return kResultOk;
    if (!v->ed) {
        editor_rescale_size(v->width, v->height, v->scale, factor);
        v->scale = factor;
        return kResultOk;
    }
    v->scale = factor;
    editor_set_scale(v->ed, factor, v->width, v->height);
    ViewRect wanted{0, 0, v->width, v->height};
    if (v->frame) v->frame->vtbl->resizeView(v->frame, v->as<IPlugView>(), &wanted);
    return kResultOk;
}

constexpr IPlugViewContentScaleSupportVtbl kScaleVtbl = {
    Vst3View::kUnknownSlots<IPlugViewContentScaleSupport>,
    set_content_scale_factor,
};

} // namespace

void Vst3View::destroy(Vst3View* v) {
    close_editor(v);
    if (v->controller) vst3_controller_forget_view(v->controller, v);
    delete v;
}

Vst3View* vst3_view_new(Vst3Controller* controller) {
    Vst3View* v = new (std::nothrow) Vst3View();
    if (!v) return nullptr;
    v->set_tables(&kViewVtbl, &kScaleVtbl);
    v->controller = controller;
    return v;
}

IPlugView* vst3_view_interface(Vst3View* view) {
    return view->as<IPlugView>();
}

uint32_t vst3_view_release(Vst3View* v) {
    return v->release();
}

void vst3_view_show_value(Vst3View* v, uint32_t index, float value) {
    if (v->ed) editor_set_parameter(v->ed, index, value);
}

void vst3_view_forget_controller(Vst3View* v) {
    close_editor(v);
    v->controller = nullptr;
}
