// The plug view on Linux: the editor exists only on Windows so far, so there is no
// view to create and createView answers null.
#include "vst3/view.h"

Vst3View* vst3_view_new(Vst3Controller*) {
    return nullptr;
}

vst3::IPlugView* vst3_view_interface(Vst3View*) {
    return nullptr;
}

uint32_t vst3_view_release(Vst3View*) {
    return 0;
}

void vst3_view_show_value(Vst3View*, uint32_t, float) {}

void vst3_view_forget_controller(Vst3View*) {}
