// Module entry on Windows. At the first process attach DllMain works out the module's
// folder and the bundle's Resources folder (..\Resources beside the module's folder);
// the last detach frees them. Runs under the loader lock, so it calls nothing that
// could load another module. The paths are kept in UTF-8, as the editor reads them;
// they come from the wide module name so that any folder name survives.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <windows.h>

#include "vst3/emberpress_vst3.h"

namespace {

int attach_count = 0;

// The full name of this module as UTF-16, in a buffer that doubles until it fits.
wchar_t* module_file_name() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&module_file_name), &self))
        return nullptr;
    DWORD size = MAX_PATH;
    wchar_t* name = static_cast<wchar_t*>(std::malloc(size * sizeof(wchar_t)));
    if (!name) return nullptr;
    for (;;) {
        const DWORD n = GetModuleFileNameW(self, name, size);
        if (n == 0) break;
        if (n < size) return name;
        size *= 2;
        wchar_t* bigger = static_cast<wchar_t*>(std::realloc(name, size * sizeof(wchar_t)));
        if (!bigger) break;
        name = bigger;
    }
    std::free(name);
    return nullptr;
}

char* to_utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return nullptr;
    char* out = static_cast<char*>(std::malloc(size));
    if (out && WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, nullptr, nullptr) != size) {
        std::free(out);
        out = nullptr;
    }
    return out;
}

BOOL attach() {
    if (attach_count != 0) {
        ++attach_count;
        return TRUE;
    }
    wchar_t* wide = module_file_name();
    if (!wide) return FALSE;
    char* file = to_utf8(wide);
    std::free(wide);
    if (!file || !vst3_make_module_paths(file, '\\')) return FALSE;
    attach_count = 1;
    return TRUE;
}

void detach() {
    if (attach_count > 0 && --attach_count == 0) vst3_free_module_paths();
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) return attach();
    if (reason == DLL_PROCESS_DETACH) detach();
    return TRUE;
}

extern "C" __declspec(dllexport) vst3::IPluginFactory3* GetPluginFactory() {
    return vst3_factory();
}
