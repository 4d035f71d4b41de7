// The two folder paths the editor needs, made once per module load from the module's
// full file name: the module's folder, where WebView2Loader.dll is looked for, and the
// bundle's Resources folder beside it (Contents/<arch>/module -> Contents/Resources),
// where the page is looked for. Both are UTF-8.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vst3/emberpress_vst3.h"

namespace {

char* module_folder = nullptr;
char* resources_folder = nullptr;

// Cuts `path` at its last separator, keeping the part before it.
void cut_last_component(char* path, char separator) {
    char* last = std::strrchr(path, separator);
    if (last) *last = 0;
}

} // namespace

const char* vst3_module_folder() {
    return module_folder;
}
const char* vst3_resources_folder() {
    return resources_folder;
}

bool vst3_make_module_paths(char* file, char separator) {
    cut_last_component(file, separator);
    char* folder = static_cast<char*>(std::malloc(std::strlen(file) + 1));
    if (!folder) {
        std::free(file);
        return false;
    }
    std::strcpy(folder, file);
    cut_last_component(file, separator);
    const size_t size = std::strlen(file) + 12;
    char* resources = static_cast<char*>(std::malloc(size));
    if (!resources) {
        std::free(folder);
        std::free(file);
        return false;
    }
    std::snprintf(resources, size, "%s%cResources", file, separator);
    std::free(file);
    module_folder = folder;
    resources_folder = resources;
    return true;
}

void vst3_free_module_paths() {
    std::free(module_folder);
    std::free(resources_folder);
    module_folder = resources_folder = nullptr;
}
