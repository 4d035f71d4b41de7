// A browser runtime "installed" for one test: copies of the stand-in client library
// (EmbeddedBrowserWebView.dll) in fake runtime version folders, registered in the Wine
// prefix's registry as the runtime's installer does. Every key written carries a mark,
// so keys a crashed run left are told apart from a real runtime's registration, which
// is never touched. Tests that use it, and tests that open an editor without a loader
// beside the module, hold the CTest resource lock webview2_runtime_registry.
#pragma once

#include <windows.h>

#include <map>
#include <string>

// The channels' registration keys, written out here independently of the code.
inline constexpr wchar_t kStableChannel[] = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr wchar_t kBetaChannel[] = L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}";
inline constexpr wchar_t kDevChannel[] = L"{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}";
inline constexpr wchar_t kCanaryChannel[] = L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}";

// A registry view: the runtime's own (32-bit) in both hives, and the machine's 64-bit
// view, which the runtime does not use.
struct RegistryView {
    HKEY hive;
    REGSAM view;
};
inline const RegistryView kUserView = {HKEY_CURRENT_USER, KEY_WOW64_32KEY};
inline const RegistryView kMachineView = {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};
inline const RegistryView kMachine64View = {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY};

// One copy of the stand-in client library, loaded by the test to reach its controls
// (those of tests/ui/stand_in/stand_in.h and client_library.cpp).
struct ClientCopy {
    std::wstring path;
    HMODULE module = nullptr;

    template <class F>
    F control(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    // Every call of its entry point, "check=1 type=0 folder=... options=1" a line.
    std::string calls() const;
    int live_objects() const;
    void fail_first(HRESULT result, int count) const;
    void fail(const char* step, HRESULT result) const;
};

class FakeRuntimes {
  public:
    // Copies of `client_library` go into a folder of this object's own under
    // `area_parent` (made by the first install). Removes the marked keys a crashed run
    // left.
    FakeRuntimes(const std::wstring& client_library, const std::wstring& area_parent);
    // Unregisters every marked key, removes the parent keys it made and its folders.
    ~FakeRuntimes();
    FakeRuntimes(const FakeRuntimes&) = delete;
    FakeRuntimes& operator=(const FakeRuntimes&) = delete;

    // A runtime other than the tests' own is registered here: the test should skip.
    bool foreign_runtime() const { return foreign_runtime_; }

    // A version folder `<area>\<name>\<version>`, with a loaded copy of the client
    // library in its place unless `with_client` is false.
    std::wstring install(const std::wstring& name, const std::wstring& version,
                         bool with_client = true);
    void register_runtime(const RegistryView& v, const wchar_t* channel,
                          const std::wstring& folder);
    void unregister(const RegistryView& v, const wchar_t* channel);

    ClientCopy& copy(const std::wstring& name) { return copies_[name]; }
    const std::map<std::wstring, ClientCopy>& copies() const { return copies_; }
    const std::wstring& area() const { return area_; }

  private:
    std::wstring client_library_;
    std::wstring area_;
    bool foreign_runtime_ = false;
    bool updater_key_existed_[3] = {};
    std::map<std::wstring, ClientCopy> copies_;
};
