#include <windows.h>

#include "host.h"

static std::wstring windows_path(const std::string& path) {
    const std::string p = native_path(path);
    const int n = MultiByteToWideChar(CP_UTF8, 0, p.c_str(), -1, nullptr, 0);
    std::wstring w(size_t(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, p.c_str(), -1, w.data(), n);
    return w;
}

LoadedModule module_load(const std::string& path) {
    LoadedModule m;
    m.handle = LoadLibraryW(windows_path(path).c_str());
    if (!m.handle) m.error = "LoadLibraryW error " + std::to_string(GetLastError());
    return m;
}

void* module_symbol(const LoadedModule& m, const char* name) {
    if (!m.handle) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m.handle), name));
}

void module_unload(LoadedModule& m) {
    if (m.handle) FreeLibrary(static_cast<HMODULE>(m.handle));
    m.handle = nullptr;
}

// The build hands over Linux paths; Wine shows the Linux root as drive Z:.
std::string native_path(const std::string& path) {
    std::string p = path;
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

std::string scratch_folder() {
    return native_path(std::string(EMBER_TEST_SCRATCH) + "/scratch-" +
                       std::to_string(GetCurrentProcessId()));
}
