#include <windows.h>

#include "sandbox.h"

const char kStoreVariable[] = "APPDATA";
const char kStoredLineFeed[] = "\r\n";

fs::path executable_folder() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(std::wstring(path, n)).parent_path();
}

void set_store_variable(const char* value) {
    SetEnvironmentVariableW(L"APPDATA", value ? utf8_path(value).wstring().c_str() : nullptr);
}

std::function<void()> keep_store_variables() {
    wchar_t probe[1];
    DWORD needed = GetEnvironmentVariableW(L"APPDATA", probe, 1);
    if (needed == 0) return [] { SetEnvironmentVariableW(L"APPDATA", nullptr); };
    std::wstring saved(needed, L'\0');
    saved.resize(GetEnvironmentVariableW(L"APPDATA", saved.data(), needed));
    return [saved] { SetEnvironmentVariableW(L"APPDATA", saved.c_str()); };
}

void change_folder(const fs::path& folder) {
    SetCurrentDirectoryW(folder.wstring().c_str());
}

LockHolder::LockHolder(const fs::path& file) {
    HANDLE handle =
        CreateFileW(file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    file_ = handle;
    OVERLAPPED at_start = {};
    locked_ = handle != INVALID_HANDLE_VALUE &&
              LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at_start);
}

LockHolder::~LockHolder() {
    release();
    CloseHandle(file_);
}

void LockHolder::release() {
    OVERLAPPED at_start = {};
    if (locked_) UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &at_start);
    locked_ = false;
}

bool LockHolder::replace(const std::string& bytes) {
    OVERLAPPED at_start = {};
    DWORD put = 0;
    return WriteFile(file_, bytes.data(), DWORD(bytes.size()), &put, &at_start) &&
           SetFilePointer(file_, LONG(bytes.size()), nullptr, FILE_BEGIN) == DWORD(bytes.size()) &&
           SetEndOfFile(file_);
}

std::string LockHolder::content() {
    std::string bytes(1 << 16, '\0');
    OVERLAPPED at_start = {};
    DWORD got = 0;
    if (!ReadFile(file_, bytes.data(), DWORD(bytes.size()), &got, &at_start)) return "<error>";
    bytes.resize(got);
    return bytes;
}
