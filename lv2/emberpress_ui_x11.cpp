// Emberpress's LV2 UI on X11: the editor opens at 800 x 400 times the host's scale
// (ui:scaleFactor among its options), asks the host for that room (ui:resize), and
// then follows the host's window, which hosts resize without telling the UI.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2_util.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include <cstring>

#include "lv2/emberpress_ui.h"

namespace {

// The host's scale factor: a float option of the instance; 1 without one (or without
// the URID map to recognise it).
double host_scale(const LV2_Feature* const* features, LV2_URID_Map* map) {
    const auto* options =
        static_cast<const LV2_Options_Option*>(lv2_features_data(features, LV2_OPTIONS__options));
    if (!options || !map) return 1;
    const LV2_URID scale_key = map->map(map->handle, LV2_UI__scaleFactor);
    const LV2_URID float_type = map->map(map->handle, LV2_ATOM__Float);
    for (const LV2_Options_Option* o = options; o->key || o->value; ++o) {
        if (o->context == LV2_OPTIONS_INSTANCE && o->key == scale_key && o->type == float_type &&
            o->size == sizeof(float) && o->value) {
            float scale;
            memcpy(&scale, o->value, sizeof scale);
            return scale;
        }
    }
    return 1;
}

} // namespace

lv2_ui_size lv2_ui_size_for_host(const LV2_Feature* const* features, LV2_URID_Map* map) {
    const double scale = editor_valid_scale(host_scale(features, map));
    lv2_ui_size size = {
        int(kEditorDefaultWidth * scale), int(kEditorDefaultHeight * scale), {scale, true}};
    editor_fit_size(size.width, size.height, scale);
    return size;
}

void lv2_ui_ask_host_for_room(const LV2_Feature* const* features, const lv2_ui_size& size) {
    const auto* resize =
        static_cast<const LV2UI_Resize*>(lv2_features_data(features, LV2_UI__resize));
    if (resize && resize->ui_resize) resize->ui_resize(resize->handle, size.width, size.height);
}
