// The plug view and what it shares with the edit controller that creates it.
//
// The controller keeps a list of its views (createView fills it, a view's final
// release clears its entry), forwards the host's parameter changes to them, and runs
// the page's edits that reach it through a view. Each platform has its view
// (view_win32.cpp: a Win32 window; view_x11.cpp: an X11 window and the host's run
// loop); what they share with the editor is in view_editor.cpp.
#pragma once

#include <cstdint>

#include "vst3/vst3_abi.h"

struct Vst3Controller;
struct Vst3View;
struct editor;

// --- The view (view_win32.cpp / view_x11.cpp) ---------------------------------------

// A new detached view of `controller` with one reference (the caller's); null when
// this platform has no editor or memory runs out. The caller enters it in its list.
Vst3View* vst3_view_new(Vst3Controller* controller);
vst3::IPlugView* vst3_view_interface(Vst3View* view);

// Drops one reference, as the host's release does. At 0 the view closes its editor,
// leaves its controller's list and is freed. Returns the references left.
uint32_t vst3_view_release(Vst3View* view);

// Shows a parameter's plain value on the view's page, when the view has an editor.
void vst3_view_show_value(Vst3View* view, uint32_t index, float value);

// The controller is going while the host still holds the view: the view closes its
// editor and stays detached; its release leaves no list and its reference stays the
// host's.
void vst3_view_forget_controller(Vst3View* view);

// --- What every platform's view does with the editor (view_editor.cpp) -------------

// The editor side of a view. A platform's view derives from it.
struct ViewEditor {
    editor* ed = nullptr;                 // null while detached
    Vst3Controller* controller = nullptr; // no reference held; null once the controller is gone
};

// Opens the editor embedded in `parent` at width x height and the host's content
// scale: the page from the bundle's Resources folder, its edits going to the
// controller, its news requests to the news store. Null when it could not open.
editor* vst3_view_open_editor(ViewEditor& view, void* parent, int width, int height,
                              double scale = 1);

// Gives the page the controller's current values in index order, so that it starts
// with them. Stops early when the host closes the view meanwhile.
void vst3_view_show_current_values(ViewEditor& view);

// --- The controller's side (controller.cpp) -----------------------------------------

enum class EditStep { begin, perform, end };

// An edit from a view's page: stores the plain value and passes it to the host's
// component handler as beginEdit + performEdit, performEdit, or performEdit + endEdit.
void vst3_controller_edit(Vst3Controller* controller, EditStep step, uint32_t index, float value);

// The controller's plain value of a parameter, narrowed for the page.
float vst3_controller_plain_value(const Vst3Controller* controller, uint32_t index);

// The context the host gave the controller's initialize; null before and after.
vst3::FUnknown* vst3_controller_host_context(const Vst3Controller* controller);

// Clears the first entry of the controller's list that holds `view`.
void vst3_controller_forget_view(Vst3Controller* controller, const Vst3View* view);
