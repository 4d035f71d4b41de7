// Emberpress's LV2 UI on Windows: the editor keeps the 800 x 400 pixels it opens with,
// and the UI offers no resize support (the host's scale and resize features go unused).
#include "lv2/emberpress_ui.h"

lv2_ui_size lv2_ui_size_for_host(const LV2_Feature* const*, LV2_URID_Map*) {
    return {kEditorDefaultWidth, kEditorDefaultHeight, {}};
}

void lv2_ui_ask_host_for_room(const LV2_Feature* const*, const lv2_ui_size&) {}
