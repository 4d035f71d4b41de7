// Windows entry: arguments come from the wide command line and are given to the tool
// as UTF-8; replies are written byte for byte.
#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

#include "news_tool.h"

const char kStoreLocation[] = "The store is the folder Fernwood in the folder named by APPDATA.\n";

// UTF-8 of an argument; false when it holds an unpaired surrogate.
static bool to_utf8(const wchar_t* wide, std::string& out) {
    int n =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    out.resize(size_t(n));
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out.data(), n, nullptr, nullptr);
    out.resize(size_t(n - 1));
    return true;
}

int wmain(int argc, wchar_t** wargv) {
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> args(static_cast<size_t>(argc));
    std::vector<char*> argv;
    for (int i = 0; i < argc; ++i)
        argv.push_back(to_utf8(wargv[i], args[i]) ? args[i].data() : nullptr);
    argv.push_back(nullptr);
    return news_tool_main(argc, argv.data());
}
