// The browser objects: environment options and the handler of every browser callback
// (environment -> controller -> browser, settings, navigation policy, page messages).
#include "ui/win32/webview.h"

#include <cstdlib>
#include <cwchar>

#include "ui/win32/backend_win32.h"

namespace {

HRESULT last_error_result() {
    return HRESULT_FROM_WIN32(GetLastError());
}

// A CoTaskMemAlloc copy of a UTF-16 string, or null.
LPWSTR co_task_copy(LPCWSTR text) {
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy) memcpy(copy, text, bytes);
    return copy;
}

HRESULT get_string(LPCWSTR stored, LPWSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!stored) return S_OK;
    *out = co_task_copy(stored);
    return *out ? S_OK : last_error_result();
}

HRESULT put_string(LPWSTR& stored, LPCWSTR value) {
    CoTaskMemFree(stored);
    stored = nullptr;
    if (!value) return S_OK;
    stored = co_task_copy(value);
    return stored ? S_OK : last_error_result();
}

template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

} // namespace

// ---- WV2EnvironmentOptions ---------------------------------------------------------

WV2EnvironmentOptions::WV2EnvironmentOptions() : target_version_(co_task_copy(L"131.0.2903.40")) {}

WV2EnvironmentOptions::~WV2EnvironmentOptions() {
    CoTaskMemFree(target_version_);
    CoTaskMemFree(language_);
    CoTaskMemFree(arguments_);
}

HRESULT STDMETHODCALLTYPE WV2EnvironmentOptions::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, wv2::kIID_EnvironmentOptions)) {
        *out = static_cast<ICoreWebView2EnvironmentOptions*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE WV2EnvironmentOptions::AddRef() {
    return ++refs_;
}

ULONG STDMETHODCALLTYPE WV2EnvironmentOptions::Release() {
    LONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE WV2EnvironmentOptions::get_AdditionalBrowserArguments(LPWSTR* value) {
    return get_string(arguments_, value);
}
HRESULT STDMETHODCALLTYPE WV2EnvironmentOptions::put_AdditionalBrowserArguments(LPCWSTR value) {
    return put_string(arguments_, value);
}
HRESULT STDMETHODCALLTYPE WV2EnvironmentOptions::get_Language(LPWSTR* value) {
    return get_string(language_, value);
}
HRESULT STDMETHODCALLTYPE WV2EnvironmentOptions::put_Language(LPCWSTR value) {
    return put_string(language_, value);
}
HRESULT STDMETHODCALLTYPE WV2EnvironmentOptions::get_TargetCompatibleBrowserVersion(LPWSTR* value) {
    return get_string(target_version_, value);
}
HRESULT STDMETHODCALLTYPE WV2EnvironmentOptions::put_TargetCompatibleBrowserVersion(LPCWSTR value) {
    return put_string(target_version_, value);
}
HRESULT STDMETHODCALLTYPE
WV2EnvironmentOptions::get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) {
    if (!allow) return E_POINTER;
    *allow = single_sign_on_;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE
WV2EnvironmentOptions::put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) {
    single_sign_on_ = allow;
    return S_OK;
}

// ---- WV2Handler: reference counting ------------------------------------------------

WV2Handler::WV2Handler(browser_host* host, const wchar_t* page_path)
    : host_(host), page_path_(page_path ? co_task_copy(page_path) : nullptr) {}

WV2Handler::~WV2Handler() {
    CoTaskMemFree(page_path_);
}

// Every interface the object registers under answers, and IUnknown gives the one
// identity (the primary base) whichever interface it is asked through.
HRESULT STDMETHODCALLTYPE WV2Handler::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, wv2::kIID_EnvironmentCompleted))
        *out = static_cast<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*>(this);
    else if (IsEqualIID(iid, wv2::kIID_ControllerCompleted))
        *out = static_cast<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler*>(this);
    else if (IsEqualIID(iid, wv2::kIID_WebMessageReceived))
        *out = static_cast<ICoreWebView2WebMessageReceivedEventHandler*>(this);
    else if (IsEqualIID(iid, wv2::kIID_NavigationStarting))
        *out = static_cast<ICoreWebView2NavigationStartingEventHandler*>(this);
    else if (IsEqualIID(iid, wv2::kIID_NewWindowRequested))
        *out = static_cast<ICoreWebView2NewWindowRequestedEventHandler*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE WV2Handler::AddRef() {
    return ++refs_;
}

ULONG STDMETHODCALLTYPE WV2Handler::Release() {
    LONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

// ---- WV2Handler: environment, controller, browser ---------------------------------

HRESULT STDMETHODCALLTYPE WV2Handler::Invoke(HRESULT error, ICoreWebView2Environment* environment) {
    HRESULT hr = error;
    if (SUCCEEDED(error)) {
        hr =
            environment
                ? environment->CreateCoreWebView2Controller(
                      host_->ui_window.load(),
                      static_cast<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler*>(this))
                : E_POINTER;
        if (SUCCEEDED(hr)) return S_OK;
    }
    PostMessageA(host_->ui_window.load(), EDITOR_MSG_STARTED, 0, 0);
    return hr;
}

HRESULT STDMETHODCALLTYPE WV2Handler::Invoke(HRESULT error, ICoreWebView2Controller* controller) {
    HRESULT hr = FAILED(error) ? error : controller ? start_browser(controller) : E_POINTER;
    PostMessageA(host_->ui_window.load(), EDITOR_MSG_STARTED, SUCCEEDED(hr) ? 1 : 0, 0);
    return hr;
}

// Applies the settings, follows the window's size, registers the event handlers and
// starts loading the page; on success the editor keeps a reference to the controller.
HRESULT WV2Handler::start_browser(ICoreWebView2Controller* controller) {
    ICoreWebView2* browser = nullptr;
    ICoreWebView2Settings* settings = nullptr;
    if (FAILED(controller->get_CoreWebView2(&browser)) || !browser) return E_FAIL;
    if (FAILED(browser->get_Settings(&settings)) || !settings) {
        release(browser);
        return E_FAIL;
    }

    // Browser features the editor does not want; a runtime that refuses one still works.
    settings->put_AreDefaultContextMenusEnabled(FALSE);
    settings->put_AreDevToolsEnabled(FALSE);
    settings->put_IsStatusBarEnabled(FALSE);
    settings->put_IsZoomControlEnabled(FALSE);
    settings->put_AreDefaultScriptDialogsEnabled(FALSE);
    // The newer ones exist only in newer runtimes.
    if (ICoreWebView2Settings3 * s3;
        SUCCEEDED(settings->QueryInterface(wv2::kIID_Settings3, (void**)&s3)) && s3) {
        s3->put_AreBrowserAcceleratorKeysEnabled(FALSE);
        s3->Release();
    }
    if (ICoreWebView2Settings4 * s4;
        SUCCEEDED(settings->QueryInterface(wv2::kIID_Settings4, (void**)&s4)) && s4) {
        s4->put_IsPasswordAutosaveEnabled(FALSE);
        s4->put_IsGeneralAutofillEnabled(FALSE);
        s4->Release();
    }
    if (ICoreWebView2Settings5 * s5;
        SUCCEEDED(settings->QueryInterface(wv2::kIID_Settings5, (void**)&s5)) && s5) {
        s5->put_IsPinchZoomEnabled(FALSE);
        s5->Release();
    }
    if (ICoreWebView2Settings6 * s6;
        SUCCEEDED(settings->QueryInterface(wv2::kIID_Settings6, (void**)&s6)) && s6) {
        s6->put_IsSwipeNavigationEnabled(FALSE);
        s6->Release();
    }
    if (ICoreWebView2Controller4 * c4;
        SUCCEEDED(controller->QueryInterface(wv2::kIID_Controller4, (void**)&c4)) && c4) {
        c4->put_AllowExternalDrop(FALSE);
        c4->Release();
    }

    // What the page needs; each must succeed.
    WV2Token token;
    RECT bounds;
    bool ok = settings->put_IsScriptEnabled(TRUE) == S_OK &&
              SUCCEEDED(settings->put_AreHostObjectsAllowed(TRUE)) &&
              GetClientRect(host_->ui_window.load(), &bounds) &&
              SUCCEEDED(controller->put_Bounds(bounds)) &&
              SUCCEEDED(browser->add_WebMessageReceived(this, &token)) &&
              SUCCEEDED(browser->add_NavigationStarting(this, &token)) &&
              SUCCEEDED(browser->add_NewWindowRequested(this, &token)) && page_path_ &&
              SUCCEEDED(browser->Navigate(page_path_));
    release(settings);
    release(browser);
    if (!ok) return E_FAIL;
    controller->AddRef();
    host_->controller = controller;
    return S_OK;
}

// ---- WV2Handler: page messages and navigation --------------------------------------

HRESULT STDMETHODCALLTYPE WV2Handler::Invoke(ICoreWebView2*,
                                             ICoreWebView2WebMessageReceivedEventArgs* args) {
    LPWSTR text = nullptr;
    HRESULT hr = args->TryGetWebMessageAsString(&text);
    if (FAILED(hr)) return hr;
    if (!text) return E_POINTER;

    int size =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0, nullptr, nullptr);
    if (size == 0) { // an unpaired surrogate
        hr = last_error_result();
        CoTaskMemFree(text);
        return hr;
    }
    // Short messages (the common case) are converted into the handler's own buffer.
    char* utf8 = message_buffer_;
    if (size > (int)sizeof message_buffer_) {
        utf8 = static_cast<char*>(malloc(size));
        if (!utf8) {
            CoTaskMemFree(text);
            return E_OUTOFMEMORY;
        }
    }
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, utf8, size, nullptr, nullptr);
    editor_page_message(host_->ed, utf8);
    if (utf8 != message_buffer_) free(utf8);
    CoTaskMemFree(text);
    return S_OK;
}

namespace {

bool stays_in_editor(LPCWSTR uri) {
    return wcsncmp(uri, L"file:", 5) == 0;
}

} // namespace

// Only file: addresses load inside the editor; everything else opens in the user's
// default browser.
HRESULT STDMETHODCALLTYPE WV2Handler::Invoke(ICoreWebView2*,
                                             ICoreWebView2NavigationStartingEventArgs* args) {
    LPWSTR uri = nullptr;
    HRESULT hr = args->get_Uri(&uri);
    if (FAILED(hr)) return hr;
    if (!uri) return E_POINTER;
    if (!stays_in_editor(uri)) {
        args->put_Cancel(TRUE);
        open_externally(uri);
    }
    CoTaskMemFree(uri);
    return S_OK;
}

// A new window for a file: address is left to the runtime's default handling.
HRESULT STDMETHODCALLTYPE WV2Handler::Invoke(ICoreWebView2*,
                                             ICoreWebView2NewWindowRequestedEventArgs* args) {
    LPWSTR uri = nullptr;
    HRESULT hr = args->get_Uri(&uri);
    if (FAILED(hr)) return hr;
    if (!uri) return E_POINTER;
    if (!stays_in_editor(uri)) {
        args->put_Handled(TRUE);
        open_externally(uri);
    }
    CoTaskMemFree(uri);
    return S_OK;
}

// ---- Opening an address outside the editor -----------------------------------------

wchar_t* external_open_command(const wchar_t* uri) {
    static const wchar_t kPrefix[] = L"rundll32 url.dll,FileProtocolHandler \"";
    for (const wchar_t* c = uri; *c; ++c)
        if (*c == L'"' || *c < 0x20 || *c == 0x7f) return nullptr;
    size_t length = wcslen(uri);
    auto* command = static_cast<wchar_t*>(malloc(length * 2 + 80));
    if (!command) return nullptr;
    wcscpy(command, kPrefix);
    wcscat(command, uri);
    wcscat(command, L"\"");
    return command;
}

void open_externally(const wchar_t* uri) {
    wchar_t* command = external_open_command(uri);
    if (!command) return;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    free(command);
}
