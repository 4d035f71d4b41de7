#include "sandbox.h"

#include <windows.h>

#include <fstream>
#include <iterator>

Tree snapshot(const fs::path& folder) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::wstring name = entry.path().lexically_relative(folder).wstring();
        tree[name] = entry.is_directory() ? "<folder>" : read_bytes(entry.path());
    }
    return tree;
}

std::string read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::wstring widen(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
    wide.resize(size_t(n - 1));
    return wide;
}

fs::path executable_folder() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(std::wstring(path, n)).parent_path();
}

void SandboxTest::SetUp() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/') c = '-'; // parameterised suites
    root = executable_folder() / "kestrel-sandbox" / name;
    appdata = root / "roaming";
    store = appdata / "Fernwood";
    fs::remove_all(root);
    fs::create_directories(appdata);

    wchar_t probe[1];
    DWORD needed = GetEnvironmentVariableW(L"APPDATA", probe, 1);
    had_appdata_ = needed > 0;
    if (had_appdata_) {
        saved_appdata_.resize(needed);
        DWORD n = GetEnvironmentVariableW(L"APPDATA", saved_appdata_.data(), needed);
        saved_appdata_.resize(n);
    }
    SetEnvironmentVariableW(L"APPDATA", appdata.wstring().c_str());
}

void SandboxTest::TearDown() {
    SetEnvironmentVariableW(L"APPDATA", had_appdata_ ? saved_appdata_.c_str() : nullptr);
}
