#include "tests/ui/fake_runtime.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kUpdaterKey[] = L"Software\\Microsoft\\EdgeUpdate";
constexpr const wchar_t* kAllChannels[] = {kStableChannel, kBetaChannel, kDevChannel,
                                           kCanaryChannel};
const RegistryView kViews[] = {kUserView, kMachineView, kMachine64View};

std::wstring client_state_key(const wchar_t* channel) {
    return std::wstring(kUpdaterKey) + L"\\ClientState\\" + channel;
}

// Every key a test writes carries this value.
constexpr wchar_t kTestMark[] = L"EmberpressTest";
enum KeyState { kNoKey, kTestKey, kOtherKey };

KeyState key_state(const RegistryView& v, const std::wstring& name) {
    HKEY key;
    if (RegOpenKeyExW(v.hive, name.c_str(), 0, KEY_READ | v.view, &key) != ERROR_SUCCESS)
        return kNoKey;
    const bool ours = RegQueryValueExW(key, kTestMark, nullptr, nullptr, nullptr, nullptr) == 0;
    RegCloseKey(key);
    return ours ? kTestKey : kOtherKey;
}

} // namespace

std::string ClientCopy::calls() const {
    auto read = control<int (*)(char*, int)>("standin_client_calls");
    std::string text(read(nullptr, 0) + 1, '\0');
    read(text.data(), (int)text.size());
    return text.c_str();
}

int ClientCopy::live_objects() const {
    return control<int (*)()>("standin_live_objects")();
}

void ClientCopy::fail_first(HRESULT result, int count) const {
    control<void (*)(HRESULT, int)>("standin_client_fail_first")(result, count);
}

void ClientCopy::fail(const char* step, HRESULT result) const {
    control<void (*)(const char*, HRESULT)>("standin_fail")(step, result);
}

FakeRuntimes::FakeRuntimes(const std::wstring& client_library, const std::wstring& area_parent)
    : client_library_(client_library) {
    for (size_t i = 0; i < std::size(kViews) && !foreign_runtime_; ++i) {
        for (const wchar_t* channel : kAllChannels) {
            const KeyState state = key_state(kViews[i], client_state_key(channel));
            foreign_runtime_ |= state == kOtherKey;
            if (state == kTestKey) unregister(kViews[i], channel); // left by a crashed run
        }
        updater_key_existed_[i] = key_state(kViews[i], kUpdaterKey) != kNoKey;
    }
    // Each object its own folders. Copies a discovery keeps loaded stay until the
    // process ends, so earlier processes' folders (which may carry this process's id:
    // ids are reused) are removed when the first object is made. The registry's lock
    // keeps other users of the folder away meanwhile.
    static int count = 0;
    const fs::path areas = fs::path(area_parent) / L"runtime-areas";
    std::error_code ignored;
    if (count == 0) fs::remove_all(areas, ignored);
    area_ = (areas / (std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count)))
                .wstring(); // made by the first install
}

FakeRuntimes::~FakeRuntimes() {
    for (auto& [name, copy] : copies_)
        if (copy.module) FreeLibrary(copy.module);
    if (!foreign_runtime_)
        for (size_t i = 0; i < std::size(kViews); ++i) {
            const RegistryView& v = kViews[i];
            for (const wchar_t* channel : kAllChannels)
                if (key_state(v, client_state_key(channel)) == kTestKey) unregister(v, channel);
            if (!updater_key_existed_[i]) { // the parents made here (deleted only if empty)
                RegDeleteKeyExW(v.hive, (std::wstring(kUpdaterKey) + L"\\ClientState").c_str(),
                                v.view, 0);
                RegDeleteKeyExW(v.hive, kUpdaterKey, v.view, 0);
            }
        }
    std::error_code ignored; // a copy the discovery keeps loaded stays (see above)
    fs::remove_all(area_, ignored);
}

std::wstring FakeRuntimes::install(const std::wstring& name, const std::wstring& version,
                                   bool with_client) {
    const std::wstring folder = area_ + L"\\" + name + L"\\" + version;
    const std::wstring client_folder = folder + L"\\EBWebView\\x64";
    fs::create_directories(client_folder);
    if (with_client) {
        ClientCopy& copy = copies_[name];
        copy.path = client_folder + L"\\EmbeddedBrowserWebView.dll";
        EXPECT_TRUE(CopyFileW(client_library_.c_str(), copy.path.c_str(), TRUE));
        copy.module = LoadLibraryW(copy.path.c_str());
        EXPECT_NE(copy.module, nullptr);
    }
    return folder;
}

void FakeRuntimes::register_runtime(const RegistryView& v, const wchar_t* channel,
                                    const std::wstring& folder) {
    ASSERT_FALSE(foreign_runtime_) << "a browser runtime is registered here";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(v.hive, client_state_key(channel).c_str(), 0, nullptr, 0,
                              KEY_WRITE | v.view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD one = 1;
    RegSetValueExW(key, kTestMark, 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one);
    RegSetValueExW(key, L"EBWebView", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   DWORD((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void FakeRuntimes::unregister(const RegistryView& v, const wchar_t* channel) {
    RegDeleteKeyExW(v.hive, client_state_key(channel).c_str(), v.view, 0);
}
