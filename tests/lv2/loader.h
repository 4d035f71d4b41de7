// Creates plug-in instances from the built bundle: through the lilv host library
// natively (loader_lilv.cpp), through LoadLibraryW in the Windows build
// (loader_win32.cpp). The bundle folder is the compile definition EMBER_LV2_BUNDLE.
#pragma once

#include <cstdint>
#include <string>

#include <lv2/core/lv2.h>

struct LoadedInstance {
    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle handle = nullptr;
    void* owner = nullptr; // the loader's own record, for loader_free
};

// The module's lv2_descriptor(index), or null (also when the module cannot load).
const LV2_Descriptor* loader_descriptor(uint32_t index);

// A new instance; handle is null when the plug-in could not be instantiated.
LoadedInstance loader_instantiate(double rate, const LV2_Feature* const* features);

void loader_free(LoadedInstance& instance);

// The bundle folder, with a trailing separator.
std::string loader_bundle_dir();
