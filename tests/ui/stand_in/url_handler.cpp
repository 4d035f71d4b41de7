// A stand-in for the system's URL handler, built as rundll32.exe for tests only (never
// installed): appends its whole command line, as UTF-8, to the file that
// EMBER_COMMAND_LOG names, and ends. A test puts its folder first where CreateProcessW
// looks for a program named without a path (the current folder comes before the
// system's), so the process the editor starts is this one.
#include <windows.h>

#include <string>

int main() {
    wchar_t log[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"EMBER_COMMAND_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    const wchar_t* line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), size, nullptr, nullptr);
    text += '\n';
    HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size() ? 0 : 4;
}
