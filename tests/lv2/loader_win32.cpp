// Windows loader: a host of our own loads the bundle's DLL with LoadLibraryW and
// calls its lv2_descriptor, as a Windows LV2 host does.
#include "loader.h"

#include <windows.h>

#include <string>

namespace {

// This executable's folder; EMBER_LV2_BUNDLE_REL is the bundle folder relative to it.
std::wstring module_dir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

std::wstring widen(const char* s) {
    std::wstring out;
    for (; *s; ++s) out += *s == '/' ? L'\\' : static_cast<wchar_t>(*s);
    return out;
}

LV2_Descriptor_Function entry_point() {
    static LV2_Descriptor_Function entry = [] {
        std::wstring dll =
            module_dir() + widen(EMBER_LV2_BUNDLE_REL) + L"\\fernwood-emberpress.dll";
        HMODULE lib = LoadLibraryW(dll.c_str());
        return lib ? reinterpret_cast<LV2_Descriptor_Function>(
                         reinterpret_cast<void*>(GetProcAddress(lib, "lv2_descriptor")))
                   : nullptr;
    }();
    return entry;
}

} // namespace

const LV2_Descriptor* loader_descriptor(uint32_t index) {
    LV2_Descriptor_Function entry = entry_point();
    return entry ? entry(index) : nullptr;
}

LoadedInstance loader_instantiate(double rate, const LV2_Feature* const* features) {
    LoadedInstance out;
    const LV2_Descriptor* desc = loader_descriptor(0);
    if (!desc) return out;
    const std::string bundle = loader_bundle_dir();
    // A host passes at least an empty list.
    static const LV2_Feature* const empty[] = {nullptr};
    out.handle = desc->instantiate(desc, rate, bundle.c_str(), features ? features : empty);
    if (out.handle) out.descriptor = desc;
    return out;
}

void loader_free(LoadedInstance& instance) {
    if (instance.handle) instance.descriptor->cleanup(instance.handle);
    instance = LoadedInstance{};
}

std::string loader_bundle_dir() {
    std::wstring dir = module_dir() + widen(EMBER_LV2_BUNDLE_REL) + L"\\";
    std::string out;
    for (wchar_t c : dir) out += static_cast<char>(c); // build paths are ASCII
    return out;
}
