// Starting the browser environment without the loader library: find the runtime's
// client library where the runtime registers itself, call its entry point, and add
// what the loader adds around it (one retry, the reference handling, unloading).
// Every rule below is the runtime's public behaviour as installed machines show it
// (its registration, its folder layout, its exported entry point); each comment says
// which.
#include "ui/win32/webview2_runtime.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace {

// ---- Where the runtime is ---------------------------------------------------------

// The runtime's registration: each release channel of the installed runtime writes
// the full path of its current version folder into the value "EBWebView" of
// Software\Microsoft\EdgeUpdate\ClientState\{channel}. Channels are searched from the
// most stable one; within a channel a per-user install comes before a machine-wide
// one. The runtime's updater writes these values in the 32-bit view of the registry.
constexpr wchar_t kClientStateKey[] = L"Software\\Microsoft\\EdgeUpdate\\ClientState\\";
constexpr wchar_t kFolderValue[] = L"EBWebView";
constexpr const wchar_t* kChannels[] = {
    L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", // stable
    L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}", // beta
    L"{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}", // dev
    L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}", // canary
};
const HKEY kHives[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
constexpr REGSAM kRegistryAccess = KEY_READ | KEY_WOW64_32KEY;

// The runtime's folder layout: the version folder is named after the version (four
// dot-separated numbers), and the client library's entry point exists from runtime
// 86.0.616.0 on. The client library for 64-bit x86 processes sits at
// <version folder>\EBWebView\x64\.
using Version = std::array<uint32_t, 4>;
constexpr Version kVersionFloor = {86, 0, 616, 0};
constexpr wchar_t kClientLibrary[] = L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
static_assert(sizeof(void*) == 8, "the client library path names the x64 build");

// The client library's export: (check for a running instance, runtime type, user-data
// folder, environment options, completion handler). The loader asks for a check of a
// running instance, and gives type 0 for an installed runtime, 1 for a fixed-version
// folder named by the caller.
constexpr char kClientEntry[] = "CreateWebViewEnvironmentWithOptionsInternal";
using ClientEntryFn = HRESULT(WINAPI*)(bool check_running_instance, int runtime_type,
                                       PCWSTR user_data_folder, IUnknown* options,
                                       ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);
constexpr bool kCheckRunningInstance = true;
constexpr int kInstalledRuntime = 0;
constexpr int kFixedVersionRuntime = 1;
using CanUnloadFn = HRESULT(WINAPI*)();

struct Client {
    std::wstring library;
    int runtime_type;
};

HRESULT last_error() {
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

std::wstring_view without_trailing_separators(std::wstring_view path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.remove_suffix(1);
    return path;
}

// "120.0.2210.91": exactly four decimal numbers, each fitting 32 bits.
std::optional<Version> parse_version(std::wstring_view text) {
    Version version{};
    for (size_t part = 0; part < version.size(); ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != L'.') return std::nullopt;
            text.remove_prefix(1);
        }
        if (text.empty() || text.front() < L'0' || text.front() > L'9') return std::nullopt;
        uint64_t value = 0;
        while (!text.empty() && text.front() >= L'0' && text.front() <= L'9') {
            value = value * 10 + (text.front() - L'0');
            if (value > UINT32_MAX) return std::nullopt;
            text.remove_prefix(1);
        }
        version[part] = (uint32_t)value;
    }
    if (!text.empty()) return std::nullopt;
    return version;
}

bool is_file(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using OwnedKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// The version folder one channel registered in one hive, or empty.
std::wstring registered_folder(HKEY hive, const wchar_t* channel) {
    const std::wstring name = std::wstring(kClientStateKey) + channel;
    HKEY opened;
    if (RegOpenKeyExW(hive, name.c_str(), 0, kRegistryAccess, &opened) != ERROR_SUCCESS) return {};
    const OwnedKey key(opened);
    DWORD bytes = 0;
    if (RegGetValueW(key.get(), nullptr, kFolderValue, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS)
        return {};
    std::wstring folder(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(key.get(), nullptr, kFolderValue, RRF_RT_REG_SZ, nullptr, folder.data(),
                     &bytes) != ERROR_SUCCESS)
        return {};
    folder.resize(wcsnlen(folder.c_str(), folder.size())); // the value ends with its NUL
    return folder;
}

// The first registered runtime that is recent enough and has its client library.
std::optional<Client> find_installed_runtime() {
    for (const wchar_t* channel : kChannels)
        for (HKEY hive : kHives) {
            const std::wstring registered = registered_folder(hive, channel);
            const std::wstring_view folder = without_trailing_separators(registered);
            const size_t last_separator = folder.find_last_of(L"\\/"); // npos + 1 is 0
            const std::optional<Version> version = parse_version(folder.substr(last_separator + 1));
            if (!version || *version < kVersionFloor) continue;
            std::wstring library = std::wstring(folder) + kClientLibrary;
            if (is_file(library)) return Client{std::move(library), kInstalledRuntime};
        }
    return std::nullopt;
}

std::optional<Client> find_runtime(const std::wstring* browser_folder) {
    if (!browser_folder) return find_installed_runtime();
    std::wstring library =
        std::wstring(without_trailing_separators(*browser_folder)) + kClientLibrary;
    if (!is_file(library)) return std::nullopt;
    return Client{std::move(library), kFixedVersionRuntime};
}

// ---- One creation, retried once ---------------------------------------------------

// Stands between the client library and the caller's handler for one creation. Holds
// copies of the caller's folders and a reference on its options and handler until
// the runtime lets go of it.
class RuntimeStart final : public ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler {
  public:
    RuntimeStart(PCWSTR browser_folder, PCWSTR user_data_folder,
                 ICoreWebView2EnvironmentOptions* options,
                 ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler)
        : options_(options), handler_(handler) {
        if (browser_folder && *browser_folder) browser_folder_ = browser_folder;
        if (user_data_folder) user_data_folder_ = user_data_folder;
        if (options_) options_->AddRef();
        handler_->AddRef();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, wv2::kIID_EnvironmentCompleted)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // Finds the runtime, loads its client library and calls its entry point with this
    // object as the handler.
    HRESULT start() noexcept {
        try {
            const std::optional<Client> client =
                find_runtime(browser_folder_ ? &*browser_folder_ : nullptr);
            if (!client) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            return call_client(*client);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT call_client(const Client& client) {
        HMODULE library = LoadLibraryW(client.library.c_str());
        if (!library) return last_error();
        const auto entry = reinterpret_cast<ClientEntryFn>(
            reinterpret_cast<void*>(GetProcAddress(library, kClientEntry)));
        const HRESULT result =
            entry ? entry(kCheckRunningInstance, client.runtime_type,
                          user_data_folder_ ? user_data_folder_->c_str() : nullptr, options_, this)
                  : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        // The library says through its DllCanUnloadNow whether anything of it is still
        // in use; the loader frees it only then, and otherwise leaves it loaded.
        const auto can_unload = reinterpret_cast<CanUnloadFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
        if (!entry || (can_unload && can_unload() == S_OK)) FreeLibrary(library);
        return result;
    }

    // The runtime's completion. As with the loader, a failure starts the whole
    // creation once more (search included) and only the second failure reaches the
    // caller; on success the caller gets the environment through a reference asked
    // for as ICoreWebView2Environment, released here once the caller has taken what
    // it needs.
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT error,
                                     ICoreWebView2Environment* environment) override {
        if (FAILED(error) || !environment) {
            if (!retried_) {
                retried_ = true;
                const HRESULT again = start();
                if (SUCCEEDED(again)) return S_OK; // its completion answers the caller
                error = again;
            }
            return handler_->Invoke(FAILED(error) ? error : E_UNEXPECTED, nullptr);
        }
        ICoreWebView2Environment* own = nullptr;
        const HRESULT found =
            environment->QueryInterface(wv2::kIID_Environment, reinterpret_cast<void**>(&own));
        const HRESULT result = handler_->Invoke(found, SUCCEEDED(found) ? own : nullptr);
        if (own) own->Release();
        return result;
    }

  private:
    ~RuntimeStart() {
        handler_->Release();
        if (options_) options_->Release();
    }

    std::atomic<LONG> refs_{1};
    bool retried_ = false;
    std::optional<std::wstring> browser_folder_;   // none: the installed runtime
    std::optional<std::wstring> user_data_folder_; // none: the runtime's default
    ICoreWebView2EnvironmentOptions* options_;
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler_;
};

} // namespace

HRESULT WINAPI webview2_runtime_create_environment(
    PCWSTR browser_folder, PCWSTR user_data_folder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    if (!handler) return E_POINTER;
    RuntimeStart* start;
    try {
        start = new RuntimeStart(browser_folder, user_data_folder, options, handler);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const HRESULT result = start->start();
    start->Release(); // the runtime holds its own references while it works
    return result;
}
