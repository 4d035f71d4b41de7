// What the views of every platform do with the editor: open it with the callbacks
// that find the bundle's files and turn the page's edits into the controller's host
// edits, and give a new page the controller's values.
#include "kestrel/kestrel.h"
#include "ui/editor.h"
#include "vst3/emberpress_vst3.h"
#include "vst3/view.h"

namespace {

const char* module_folder(void*) {
    return vst3_module_folder(); // the browser's loader (Windows) or helper (Linux) is here
}
const char* page_folder(void*) {
    return vst3_resources_folder(); // index.html is here
}

Vst3Controller* controller_of(void* view) {
    return static_cast<ViewEditor*>(view)->controller;
}
void begin_edit(void* view, uint32_t index, float value) {
    vst3_controller_edit(controller_of(view), EditStep::begin, index, value);
}
void perform_edit(void* view, uint32_t index, float value) {
    vst3_controller_edit(controller_of(view), EditStep::perform, index, value);
}
void end_edit(void* view, uint32_t index, float value) {
    vst3_controller_edit(controller_of(view), EditStep::end, index, value);
}

} // namespace

editor* vst3_view_open_editor(ViewEditor& view, void* parent, int width, int height, double scale) {
    const editor_callbacks callbacks = {&view,      "vst3",       module_folder, page_folder,
                                        begin_edit, perform_edit, end_edit};
    editor_sizing sizing;
    sizing.scale = scale;
    return editor_create(true, parent, callbacks, kestrel_handle_message, width, height,
                         kParamCount, sizing);
}

void vst3_view_show_current_values(ViewEditor& view) {
    for (uint32_t k = 0; k < uint32_t(kParamCount) && view.ed; ++k)
        editor_set_parameter(view.ed, k, vst3_controller_plain_value(view.controller, k));
}
