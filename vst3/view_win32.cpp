// The plug view on Windows: shows the web editor inside the host's window. Attaching
// creates the editor (its own UI thread and browser) and a 20 ms idle timer on the
// editor's window, and gives the page the controller's current values; the page's
// edits come back through the controller. Every IPlugView call arrives on the host's
// user-interface thread, which is also the editor's creating thread.
#include <windows.h>

#include <cstring>
#include <new>

#include "ui/editor.h"
#include "vst3/com_object.h"
#include "vst3/view.h"

using namespace vst3;

struct Vst3View : ComObject<Vst3View, IPlugView>, ViewEditor {
    IPlugFrame* frame = nullptr; // stored only; the view never asks the host to resize

    // Closes the editor and leaves the controller's list.
    static void destroy(Vst3View* v);
};

namespace {

constexpr UINT kIdleMilliseconds = 20;

Vst3View* self(IPlugView* i) {
    return Vst3View::of(i);
}

bool is_hwnd(FIDString type) {
    return type && std::strcmp(type, kPlatformTypeHWND) == 0;
}

// Runs on the editor's UI thread, which owns the timer's window.
void CALLBACK idle_timer(HWND, UINT, UINT_PTR id, DWORD) {
    editor_idle(reinterpret_cast<Vst3View*>(id)->ed);
}

HWND editor_hwnd(editor* ed) {
    return static_cast<HWND>(editor_window(ed));
}

// The editor is destroyed before the field is cleared: until then its UI thread may
// still run the timer, which reads the field. A host that closes the view from inside
// its edit call gets the same: the editor finishes closing once that call returns.
void close_editor(Vst3View* v) {
    if (!v->ed) return;
    KillTimer(editor_hwnd(v->ed), reinterpret_cast<UINT_PTR>(v));
    editor_destroy(v->ed);
    v->ed = nullptr;
}

// --- IPlugView ---------------------------------------------------------------------

tresult is_platform_type_supported(IPlugView*, FIDString type) {
    return is_hwnd(type) ? kResultTrue : kResultFalse;
}

// A parent that is no window would only fail deeper down; it is refused up front.
tresult attached(IPlugView* i, void* parent, FIDString type) {
    Vst3View* v = self(i);
    if (!is_hwnd(type) || v->ed) return kInvalidArgument;
    if (!parent || !IsWindow(static_cast<HWND>(parent))) return kInvalidArgument;
    if (!v->controller) return kResultFalse; // its controller is gone: nothing to show
    editor* ed = vst3_view_open_editor(*v, parent, kEditorDefaultWidth, kEditorDefaultHeight);
    if (!ed) return kResultFalse;
    v->ed = ed; // before the timer, which reads it
    if (!SetTimer(editor_hwnd(ed), reinterpret_cast<UINT_PTR>(v), kIdleMilliseconds, idle_timer)) {
        editor_destroy(ed);
        v->ed = nullptr;
        return kResultFalse;
    }
    // A host may close the view meanwhile (from a window message answered while the
    // values wait for the editor's thread).
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

// The editor window's size, or the design size while there is none.
tresult get_size(IPlugView* i, ViewRect* size) {
    if (!size) return kInvalidArgument;
    Vst3View* v = self(i);
    *size = ViewRect{0, 0, 0, 0};
    RECT r;
    if (v->ed && GetWindowRect(editor_hwnd(v->ed), &r)) {
        size->right = r.right - r.left;
        size->bottom = r.bottom - r.top;
    }
    if (v->ed && size->right > 0 && size->bottom > 0) return kResultOk;
    size->right = kEditorDefaultWidth;
    size->bottom = kEditorDefaultHeight;
    return kResultOk;
}

// Resizes the editor's window, which belongs to the editor's UI thread. That thread
// answers the size change even while it waits for a page edit relayed to this thread,
// so the call returns with the window at its new size and getSize reports it.
tresult on_size(IPlugView* i, ViewRect* size) {
    if (!size) return kInvalidArgument;
    Vst3View* v = self(i);
    if (!v->ed) return kResultFalse;
    editor_resize(v->ed, size->right - size->left, size->bottom - size->top);
    return kResultOk;
}

tresult set_frame(IPlugView* i, IPlugFrame* frame) {
    self(i)->frame = frame;
    return kResultOk;
}

tresult can_resize(IPlugView*) {
    return kResultTrue;
}

// Every size is accepted as it is.
tresult check_size_constraint(IPlugView*, ViewRect*) {
    return kResultOk;
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

} // namespace

void Vst3View::destroy(Vst3View* v) {
    close_editor(v);
    if (v->controller) vst3_controller_forget_view(v->controller, v);
    delete v;
}

Vst3View* vst3_view_new(Vst3Controller* controller) {
    Vst3View* v = new (std::nothrow) Vst3View();
    if (!v) return nullptr;
    v->set_tables(&kViewVtbl);
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
