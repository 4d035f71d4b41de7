// The plug view and what it shares with the edit controller that creates it.
//
// The controller keeps a list of its views (createView fills it, a view's final
// release clears its entry), forwards the host's parameter changes to them, and runs
// the page's edits that reach it through a view. Views exist where the editor does
// (view_win32.cpp); elsewhere createView has nothing to show (view_posix.cpp).
#pragma once

#include <cstdint>

#include "vst3/vst3_abi.h"

struct Vst3Controller;
struct Vst3View;

// --- The view (view_win32.cpp / view_posix.cpp) ------------------------------------

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

// --- The controller's side (controller.cpp) -----------------------------------------

enum class EditStep { begin, perform, end };

// An edit from a view's page: stores the plain value and passes it to the host's
// component handler as beginEdit + performEdit, performEdit, or performEdit + endEdit.
void vst3_controller_edit(Vst3Controller* controller, EditStep step, uint32_t index, float value);

// The controller's plain value of a parameter, narrowed for the page.
float vst3_controller_plain_value(const Vst3Controller* controller, uint32_t index);

// Clears the first entry of the controller's list that holds `view`.
void vst3_controller_forget_view(Vst3Controller* controller, const Vst3View* view);
