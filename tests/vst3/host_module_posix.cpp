#include <dlfcn.h>
#include <unistd.h>

#include "host.h"

LoadedModule module_load(const std::string& path) {
    LoadedModule m;
    m.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m.handle) m.error = dlerror();
    return m;
}

void* module_symbol(const LoadedModule& m, const char* name) {
    return m.handle ? dlsym(m.handle, name) : nullptr;
}

void module_unload(LoadedModule& m) {
    if (m.handle) dlclose(m.handle);
    m.handle = nullptr;
}

std::string scratch_folder() {
    return std::string(EMBER_TEST_SCRATCH) + "/scratch-" + std::to_string(getpid());
}

std::string native_path(const std::string& path) {
    return path;
}
