// The editor's two browser objects: the environment options it starts the browser
// with, and the one handler that receives every completion and event of the browser.
// Both live on the editor's UI thread and free themselves on their last Release.
#pragma once

#include <atomic>

#include "ui/win32/webview2_abi.h"

struct browser_host;

class WV2EnvironmentOptions final : public ICoreWebView2EnvironmentOptions {
  public:
    WV2EnvironmentOptions();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE get_AdditionalBrowserArguments(LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_AdditionalBrowserArguments(LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Language(LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_Language(LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE get_TargetCompatibleBrowserVersion(LPWSTR* value) override;
    HRESULT STDMETHODCALLTYPE put_TargetCompatibleBrowserVersion(LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) override;
    HRESULT STDMETHODCALLTYPE put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) override;

  private:
    virtual ~WV2EnvironmentOptions();

    LPWSTR arguments_ = nullptr;
    LPWSTR language_ = nullptr;
    LPWSTR target_version_ = nullptr;
    BOOL single_sign_on_ = FALSE;
    std::atomic<LONG> refs_{1};
};

class WV2Handler final : public ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                         public ICoreWebView2CreateCoreWebView2ControllerCompletedHandler,
                         public ICoreWebView2WebMessageReceivedEventHandler,
                         public ICoreWebView2NavigationStartingEventHandler,
                         public ICoreWebView2NewWindowRequestedEventHandler {
  public:
    WV2Handler(browser_host* host, const wchar_t* page_path);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, ICoreWebView2Environment* environment) override;
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, ICoreWebView2Controller* controller) override;
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                     ICoreWebView2WebMessageReceivedEventArgs* args) override;
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                     ICoreWebView2NavigationStartingEventArgs* args) override;
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                     ICoreWebView2NewWindowRequestedEventArgs* args) override;

  private:
    virtual ~WV2Handler();
    HRESULT start_browser(ICoreWebView2Controller* controller);

    std::atomic<LONG> refs_{1};
    browser_host* host_;
    LPWSTR page_path_ = nullptr;
    char message_buffer_[1024];
};

// Hands an address to the system's URL handler and waits for it to finish. A URI
// holding a double quote or a control character is refused: it could break out of
// the quoted argument.
void open_externally(const wchar_t* uri);

// The command line open_externally runs (malloc'd), or null when refused.
wchar_t* external_open_command(const wchar_t* uri);
