// A module built from the real module-entry code with two extra exports, so that a
// test can load it from any folder and read the paths it worked out.
#include "vst3/emberpress_vst3.h"

vst3::IPluginFactory3* vst3_factory() {
    return nullptr;
}

extern "C" PROBE_EXPORT const char* probe_module_folder() {
    return vst3_module_folder();
}
extern "C" PROBE_EXPORT const char* probe_resources_folder() {
    return vst3_resources_folder();
}
