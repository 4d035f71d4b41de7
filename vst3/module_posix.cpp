// Module entry on Linux. Hosts call ModuleEntry after loading the library and
// ModuleExit before unloading it, possibly more than once: the first entry works out
// the module's folder and the bundle's Resources folder, the last exit frees them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>

#include "vst3/emberpress_vst3.h"

#define EMBER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex entry_mutex;
int entry_count = 0;
char* module_folder = nullptr;
char* resources_folder = nullptr;

// Cuts `path` at its last '/', keeping the part before it.
void cut_last_component(char* path) {
    char* slash = std::strrchr(path, '/');
    if (slash) *slash = 0;
}

bool make_paths() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&make_paths), &info) || !info.dli_fname) return false;
    // The loader keeps the name it was given, which may be relative.
    char* file = realpath(info.dli_fname, nullptr);
    if (!file) return false;
    cut_last_component(file);
    char* folder = strdup(file);
    if (!folder) {
        std::free(file);
        return false;
    }
    cut_last_component(file);
    const size_t size = std::strlen(file) + 12;
    char* resources = static_cast<char*>(std::malloc(size));
    if (!resources) {
        std::free(folder);
        std::free(file);
        return false;
    }
    std::snprintf(resources, size, "%s/Resources", file);
    std::free(file);
    module_folder = folder;
    resources_folder = resources;
    return true;
}

} // namespace

const char* vst3_module_folder() {
    return module_folder;
}
const char* vst3_resources_folder() {
    return resources_folder;
}

EMBER_EXPORT bool ModuleEntry(void*) {
    std::lock_guard<std::mutex> lock(entry_mutex);
    if (entry_count == 0 && !make_paths()) return false;
    ++entry_count;
    return true;
}

EMBER_EXPORT bool ModuleExit() {
    std::lock_guard<std::mutex> lock(entry_mutex);
    if (entry_count == 0) return false;
    if (--entry_count == 0) {
        std::free(module_folder);
        std::free(resources_folder);
        module_folder = resources_folder = nullptr;
    }
    return true;
}

EMBER_EXPORT vst3::IPluginFactory3* GetPluginFactory() {
    return vst3_factory();
}
