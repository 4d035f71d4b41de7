// Windows entry: arguments come from the wide command line and files are opened by
// their UTF-16 paths, so names outside the ANSI code page work.
#include <windows.h>

#include <cstdio>
#include <string>

#include "state_tool.h"

namespace {

std::string to_utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring to_utf16(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    return out;
}

} // namespace

std::FILE* open_for_reading(const char* path) {
    return _wfopen(to_utf16(path).c_str(), L"rb");
}

int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> args;
    std::vector<char*> argv;
    for (int i = 0; i < argc; ++i) args.push_back(to_utf8(wargv[i]));
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return state_tool_main(argc, argv.data());
}
