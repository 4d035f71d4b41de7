// Module entry on Linux. Hosts call ModuleEntry after loading the library and
// ModuleExit before unloading it, possibly more than once: the first entry works out
// the module's folder and the bundle's Resources folder, the last exit frees them.
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>

#include "vst3/emberpress_vst3.h"

#define EMBER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex entry_mutex;
int entry_count = 0;

bool make_paths() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&make_paths), &info) || !info.dli_fname) return false;
    // The loader keeps the name it was given, which may be relative.
    char* file = realpath(info.dli_fname, nullptr);
    return file && vst3_make_module_paths(file, '/');
}

} // namespace

EMBER_EXPORT bool ModuleEntry(void*) {
    std::lock_guard<std::mutex> lock(entry_mutex);
    if (entry_count == 0 && !make_paths()) return false;
    ++entry_count;
    return true;
}

EMBER_EXPORT bool ModuleExit() {
    std::lock_guard<std::mutex> lock(entry_mutex);
    if (entry_count == 0) return false;
    if (--entry_count == 0) vst3_free_module_paths();
    return true;
}

EMBER_EXPORT vst3::IPluginFactory3* GetPluginFactory() {
    return vst3_factory();
}
