// The platform part of Emberpress's LV2 UI: how large the editor opens and whether it
// follows the host's window. The rest of the UI (emberpress_ui.cpp) is the same on
// every platform. Windows: emberpress_ui_win32.cpp; X11: emberpress_ui_x11.cpp.
#pragma once

#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include "ui/editor.h"

struct lv2_ui_size {
    int width, height; // pixels
    editor_sizing sizing;
};

// The editor's size from what the host offers (its options, through the URID map,
// which may be null). Host's UI thread.
lv2_ui_size lv2_ui_size_for_host(const LV2_Feature* const* features, LV2_URID_Map* map);

// The editor has opened at `size`: asks the host for that room where the platform
// does. Host's UI thread.
void lv2_ui_ask_host_for_room(const LV2_Feature* const* features, const lv2_ui_size& size);
