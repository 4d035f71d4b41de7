// The browser control's COM interfaces, declared by this project: identifiers, base
// interfaces and vtable slot order. Each class declares only its own methods, in
// slot order, as pure virtuals; nothing else virtual may be added, or the tables
// would no longer match the runtime's.
#pragma once

#include <windows.h>
#include <eventtoken.h>
#include <unknwn.h>

#define WV2_METHOD(name) virtual HRESULT STDMETHODCALLTYPE name

using WV2Token = EventRegistrationToken; // 8 bytes, by value in remove_*, out in add_*

// Interfaces that appear only in slots the editor never calls: their pointers are
// passed through as opaque types; only the slot count matters.
struct ICoreWebView2Environment;
struct ICoreWebView2Controller;
struct ICoreWebView2;
struct ICoreWebView2Settings;
struct ICoreWebView2WebMessageReceivedEventArgs;
struct ICoreWebView2NavigationStartingEventArgs;
struct ICoreWebView2NewWindowRequestedEventArgs;
struct ICoreWebView2Deferral;
using WV2Opaque = IUnknown;

enum COREWEBVIEW2_MOVE_FOCUS_REASON : INT32 {
    COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC = 0,
    COREWEBVIEW2_MOVE_FOCUS_REASON_NEXT = 1,
    COREWEBVIEW2_MOVE_FOCUS_REASON_PREVIOUS = 2,
};

struct COREWEBVIEW2_COLOR {
    BYTE A, R, G, B;
};

// ---- Environment creation --------------------------------------------------------

struct ICoreWebView2EnvironmentOptions : IUnknown {
    WV2_METHOD(get_AdditionalBrowserArguments)(LPWSTR* value) = 0;
    WV2_METHOD(put_AdditionalBrowserArguments)(LPCWSTR value) = 0;
    WV2_METHOD(get_Language)(LPWSTR* value) = 0;
    WV2_METHOD(put_Language)(LPCWSTR value) = 0;
    WV2_METHOD(get_TargetCompatibleBrowserVersion)(LPWSTR* value) = 0;
    WV2_METHOD(put_TargetCompatibleBrowserVersion)(LPCWSTR value) = 0;
    WV2_METHOD(get_AllowSingleSignOnUsingOSPrimaryAccount)(BOOL* allow) = 0;
    WV2_METHOD(put_AllowSingleSignOnUsingOSPrimaryAccount)(BOOL allow) = 0;
};

struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler : IUnknown {
    WV2_METHOD(Invoke)(HRESULT errorCode, ICoreWebView2Environment* result) = 0;
};

struct ICoreWebView2CreateCoreWebView2ControllerCompletedHandler : IUnknown {
    WV2_METHOD(Invoke)(HRESULT errorCode, ICoreWebView2Controller* result) = 0;
};

struct ICoreWebView2Environment : IUnknown {
    WV2_METHOD(CreateCoreWebView2Controller)
    (HWND parentWindow, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) = 0;
    WV2_METHOD(CreateWebResourceResponse)
    (IStream* content, int statusCode, LPCWSTR reasonPhrase, LPCWSTR headers,
     WV2Opaque** response) = 0;
    WV2_METHOD(get_BrowserVersionString)(LPWSTR* versionInfo) = 0;
    WV2_METHOD(add_NewBrowserVersionAvailable)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_NewBrowserVersionAvailable)(WV2Token token) = 0;
};

// ---- Controller ------------------------------------------------------------------

struct ICoreWebView2Controller : IUnknown {
    WV2_METHOD(get_IsVisible)(BOOL* isVisible) = 0;
    WV2_METHOD(put_IsVisible)(BOOL isVisible) = 0;
    WV2_METHOD(get_Bounds)(RECT* bounds) = 0;
    WV2_METHOD(put_Bounds)(RECT bounds) = 0;
    WV2_METHOD(get_ZoomFactor)(double* zoomFactor) = 0;
    WV2_METHOD(put_ZoomFactor)(double zoomFactor) = 0;
    WV2_METHOD(add_ZoomFactorChanged)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_ZoomFactorChanged)(WV2Token token) = 0;
    WV2_METHOD(SetBoundsAndZoomFactor)(RECT bounds, double zoomFactor) = 0;
    WV2_METHOD(MoveFocus)(COREWEBVIEW2_MOVE_FOCUS_REASON reason) = 0;
    WV2_METHOD(add_MoveFocusRequested)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_MoveFocusRequested)(WV2Token token) = 0;
    WV2_METHOD(add_GotFocus)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_GotFocus)(WV2Token token) = 0;
    WV2_METHOD(add_LostFocus)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_LostFocus)(WV2Token token) = 0;
    WV2_METHOD(add_AcceleratorKeyPressed)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_AcceleratorKeyPressed)(WV2Token token) = 0;
    WV2_METHOD(get_ParentWindow)(HWND* parentWindow) = 0;
    WV2_METHOD(put_ParentWindow)(HWND parentWindow) = 0;
    WV2_METHOD(NotifyParentWindowPositionChanged)() = 0;
    WV2_METHOD(Close)() = 0;
    WV2_METHOD(get_CoreWebView2)(ICoreWebView2** coreWebView2) = 0;
};

struct ICoreWebView2Controller2 : ICoreWebView2Controller {
    WV2_METHOD(get_DefaultBackgroundColor)(COREWEBVIEW2_COLOR* value) = 0;
    WV2_METHOD(put_DefaultBackgroundColor)(COREWEBVIEW2_COLOR value) = 0;
};

struct ICoreWebView2Controller3 : ICoreWebView2Controller2 {
    WV2_METHOD(get_RasterizationScale)(double* scale) = 0;
    WV2_METHOD(put_RasterizationScale)(double scale) = 0;
    WV2_METHOD(get_ShouldDetectMonitorScaleChanges)(BOOL* value) = 0;
    WV2_METHOD(put_ShouldDetectMonitorScaleChanges)(BOOL value) = 0;
    WV2_METHOD(add_RasterizationScaleChanged)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_RasterizationScaleChanged)(WV2Token token) = 0;
    WV2_METHOD(get_BoundsMode)(INT32* boundsMode) = 0;
    WV2_METHOD(put_BoundsMode)(INT32 boundsMode) = 0;
};

struct ICoreWebView2Controller4 : ICoreWebView2Controller3 {
    WV2_METHOD(get_AllowExternalDrop)(BOOL* value) = 0;
    WV2_METHOD(put_AllowExternalDrop)(BOOL value) = 0;
};

// ---- Event handlers ----------------------------------------------------------------

struct ICoreWebView2WebMessageReceivedEventHandler : IUnknown {
    WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args) = 0;
};

struct ICoreWebView2NavigationStartingEventHandler : IUnknown {
    WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args) = 0;
};

struct ICoreWebView2NewWindowRequestedEventHandler : IUnknown {
    WV2_METHOD(Invoke)(ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args) = 0;
};

// ---- The browser -------------------------------------------------------------------

struct ICoreWebView2 : IUnknown {
    WV2_METHOD(get_Settings)(ICoreWebView2Settings** settings) = 0;
    WV2_METHOD(get_Source)(LPWSTR* uri) = 0;
    WV2_METHOD(Navigate)(LPCWSTR uri) = 0;
    WV2_METHOD(NavigateToString)(LPCWSTR htmlContent) = 0;
    WV2_METHOD(add_NavigationStarting)
    (ICoreWebView2NavigationStartingEventHandler* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_NavigationStarting)(WV2Token token) = 0;
    WV2_METHOD(add_ContentLoading)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_ContentLoading)(WV2Token token) = 0;
    WV2_METHOD(add_SourceChanged)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_SourceChanged)(WV2Token token) = 0;
    WV2_METHOD(add_HistoryChanged)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_HistoryChanged)(WV2Token token) = 0;
    WV2_METHOD(add_NavigationCompleted)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_NavigationCompleted)(WV2Token token) = 0;
    WV2_METHOD(add_FrameNavigationStarting)
    (ICoreWebView2NavigationStartingEventHandler* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_FrameNavigationStarting)(WV2Token token) = 0;
    WV2_METHOD(add_FrameNavigationCompleted)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_FrameNavigationCompleted)(WV2Token token) = 0;
    WV2_METHOD(add_ScriptDialogOpening)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_ScriptDialogOpening)(WV2Token token) = 0;
    WV2_METHOD(add_PermissionRequested)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_PermissionRequested)(WV2Token token) = 0;
    WV2_METHOD(add_ProcessFailed)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_ProcessFailed)(WV2Token token) = 0;
    WV2_METHOD(AddScriptToExecuteOnDocumentCreated)(LPCWSTR javaScript, WV2Opaque* handler) = 0;
    WV2_METHOD(RemoveScriptToExecuteOnDocumentCreated)(LPCWSTR id) = 0;
    WV2_METHOD(ExecuteScript)(LPCWSTR javaScript, WV2Opaque* handler) = 0;
    WV2_METHOD(CapturePreview)(INT32 imageFormat, IStream* imageStream, WV2Opaque* handler) = 0;
    WV2_METHOD(Reload)() = 0;
    WV2_METHOD(PostWebMessageAsJson)(LPCWSTR webMessageAsJson) = 0;
    WV2_METHOD(PostWebMessageAsString)(LPCWSTR webMessageAsString) = 0;
    WV2_METHOD(add_WebMessageReceived)
    (ICoreWebView2WebMessageReceivedEventHandler* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_WebMessageReceived)(WV2Token token) = 0;
    WV2_METHOD(CallDevToolsProtocolMethod)
    (LPCWSTR methodName, LPCWSTR parametersAsJson, WV2Opaque* handler) = 0;
    WV2_METHOD(get_BrowserProcessId)(UINT32* value) = 0;
    WV2_METHOD(get_CanGoBack)(BOOL* canGoBack) = 0;
    WV2_METHOD(get_CanGoForward)(BOOL* canGoForward) = 0;
    WV2_METHOD(GoBack)() = 0;
    WV2_METHOD(GoForward)() = 0;
    WV2_METHOD(GetDevToolsProtocolEventReceiver)(LPCWSTR eventName, WV2Opaque** receiver) = 0;
    WV2_METHOD(Stop)() = 0;
    WV2_METHOD(add_NewWindowRequested)
    (ICoreWebView2NewWindowRequestedEventHandler* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_NewWindowRequested)(WV2Token token) = 0;
    WV2_METHOD(add_DocumentTitleChanged)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_DocumentTitleChanged)(WV2Token token) = 0;
    WV2_METHOD(get_DocumentTitle)(LPWSTR* title) = 0;
    WV2_METHOD(AddHostObjectToScript)(LPCWSTR name, VARIANT* object) = 0;
    WV2_METHOD(RemoveHostObjectFromScript)(LPCWSTR name) = 0;
    WV2_METHOD(OpenDevToolsWindow)() = 0;
    WV2_METHOD(add_ContainsFullScreenElementChanged)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_ContainsFullScreenElementChanged)(WV2Token token) = 0;
    WV2_METHOD(get_ContainsFullScreenElement)(BOOL* containsFullScreenElement) = 0;
    WV2_METHOD(add_WebResourceRequested)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_WebResourceRequested)(WV2Token token) = 0;
    WV2_METHOD(AddWebResourceRequestedFilter)(LPCWSTR uri, INT32 resourceContext) = 0;
    WV2_METHOD(RemoveWebResourceRequestedFilter)(LPCWSTR uri, INT32 resourceContext) = 0;
    WV2_METHOD(add_WindowCloseRequested)(WV2Opaque* handler, WV2Token* token) = 0;
    WV2_METHOD(remove_WindowCloseRequested)(WV2Token token) = 0;
};

// ---- Settings ----------------------------------------------------------------------

struct ICoreWebView2Settings : IUnknown {
    WV2_METHOD(get_IsScriptEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_IsScriptEnabled)(BOOL value) = 0;
    WV2_METHOD(get_IsWebMessageEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_IsWebMessageEnabled)(BOOL value) = 0;
    WV2_METHOD(get_AreDefaultScriptDialogsEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_AreDefaultScriptDialogsEnabled)(BOOL value) = 0;
    WV2_METHOD(get_IsStatusBarEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_IsStatusBarEnabled)(BOOL value) = 0;
    WV2_METHOD(get_AreDevToolsEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_AreDevToolsEnabled)(BOOL value) = 0;
    WV2_METHOD(get_AreDefaultContextMenusEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_AreDefaultContextMenusEnabled)(BOOL value) = 0;
    WV2_METHOD(get_AreHostObjectsAllowed)(BOOL* value) = 0;
    WV2_METHOD(put_AreHostObjectsAllowed)(BOOL value) = 0;
    WV2_METHOD(get_IsZoomControlEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_IsZoomControlEnabled)(BOOL value) = 0;
    WV2_METHOD(get_IsBuiltInErrorPageEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_IsBuiltInErrorPageEnabled)(BOOL value) = 0;
};

struct ICoreWebView2Settings2 : ICoreWebView2Settings {
    WV2_METHOD(get_UserAgent)(LPWSTR* value) = 0;
    WV2_METHOD(put_UserAgent)(LPCWSTR value) = 0;
};

struct ICoreWebView2Settings3 : ICoreWebView2Settings2 {
    WV2_METHOD(get_AreBrowserAcceleratorKeysEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_AreBrowserAcceleratorKeysEnabled)(BOOL value) = 0;
};

struct ICoreWebView2Settings4 : ICoreWebView2Settings3 {
    WV2_METHOD(get_IsPasswordAutosaveEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_IsPasswordAutosaveEnabled)(BOOL value) = 0;
    WV2_METHOD(get_IsGeneralAutofillEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_IsGeneralAutofillEnabled)(BOOL value) = 0;
};

struct ICoreWebView2Settings5 : ICoreWebView2Settings4 {
    WV2_METHOD(get_IsPinchZoomEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_IsPinchZoomEnabled)(BOOL value) = 0;
};

struct ICoreWebView2Settings6 : ICoreWebView2Settings5 {
    WV2_METHOD(get_IsSwipeNavigationEnabled)(BOOL* value) = 0;
    WV2_METHOD(put_IsSwipeNavigationEnabled)(BOOL value) = 0;
};

// ---- Event arguments ---------------------------------------------------------------

struct ICoreWebView2WebMessageReceivedEventArgs : IUnknown {
    WV2_METHOD(get_Source)(LPWSTR* value) = 0;
    WV2_METHOD(get_WebMessageAsJson)(LPWSTR* value) = 0;
    WV2_METHOD(TryGetWebMessageAsString)(LPWSTR* value) = 0;
};

struct ICoreWebView2NavigationStartingEventArgs : IUnknown {
    WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
    WV2_METHOD(get_IsUserInitiated)(BOOL* value) = 0;
    WV2_METHOD(get_IsRedirected)(BOOL* value) = 0;
    WV2_METHOD(get_RequestHeaders)(WV2Opaque** requestHeaders) = 0;
    WV2_METHOD(get_Cancel)(BOOL* cancel) = 0;
    WV2_METHOD(put_Cancel)(BOOL cancel) = 0;
    WV2_METHOD(get_NavigationId)(UINT64* navigationId) = 0;
};

struct ICoreWebView2NewWindowRequestedEventArgs : IUnknown {
    WV2_METHOD(get_Uri)(LPWSTR* uri) = 0;
    WV2_METHOD(put_NewWindow)(ICoreWebView2* newWindow) = 0;
    WV2_METHOD(get_NewWindow)(ICoreWebView2** newWindow) = 0;
    WV2_METHOD(put_Handled)(BOOL handled) = 0;
    WV2_METHOD(get_Handled)(BOOL* handled) = 0;
    WV2_METHOD(get_IsUserInitiated)(BOOL* value) = 0;
    WV2_METHOD(GetDeferral)(ICoreWebView2Deferral** deferral) = 0;
};

#undef WV2_METHOD

// ---- Interface identifiers ---------------------------------------------------------

namespace wv2 {
// clang-format off
constexpr IID kIID_EnvironmentOptions       = {0x2fde08a8, 0x1e9a, 0x4766, {0x8c, 0x05, 0x95, 0xa9, 0xce, 0xb9, 0xd1, 0xc5}};
constexpr IID kIID_Environment              = {0xb96d755e, 0x0319, 0x4e92, {0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1, 0xfc}};
constexpr IID kIID_EnvironmentCompleted     = {0x4e8a3389, 0xc9d8, 0x4bd2, {0xb6, 0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d}};
constexpr IID kIID_ControllerCompleted      = {0x6c4819f3, 0xc9b7, 0x4260, {0x81, 0x27, 0xc9, 0xf5, 0xbd, 0xe7, 0xf6, 0x8c}};
constexpr IID kIID_WebMessageReceived       = {0x57213f19, 0x00e6, 0x49fa, {0x8e, 0x07, 0x89, 0x8e, 0xa0, 0x1e, 0xcb, 0xd2}};
constexpr IID kIID_NavigationStarting       = {0x9adbe429, 0xf36d, 0x432b, {0x9d, 0xdc, 0xf8, 0x88, 0x1f, 0xbd, 0x76, 0xe3}};
constexpr IID kIID_NewWindowRequested       = {0xd4c185fe, 0xc81c, 0x4989, {0x97, 0xaf, 0x2d, 0x3f, 0xa7, 0xab, 0x56, 0x51}};
constexpr IID kIID_Controller4              = {0x97d418d5, 0xa426, 0x4e49, {0xa1, 0x51, 0xe1, 0xa1, 0x0f, 0x32, 0x7d, 0x9e}};
constexpr IID kIID_Settings3                = {0xfdb5ab74, 0xaf33, 0x4854, {0x84, 0xf0, 0x0a, 0x63, 0x1d, 0xeb, 0x5e, 0xba}};
constexpr IID kIID_Settings4                = {0xcb56846c, 0x4168, 0x4d53, {0xb0, 0x4f, 0x03, 0xb6, 0xd6, 0x79, 0x6f, 0xf2}};
constexpr IID kIID_Settings5                = {0x183e7052, 0x1d03, 0x43a0, {0xab, 0x99, 0x98, 0xe0, 0x43, 0xb6, 0x6b, 0x39}};
constexpr IID kIID_Settings6                = {0x11cb3acd, 0x9bc8, 0x43b8, {0x83, 0xbf, 0xf4, 0x07, 0x53, 0x71, 0x4f, 0x87}};
// clang-format on
} // namespace wv2

// The loader's entry point.
using CreateEnvironmentWithOptionsFn = HRESULT(WINAPI*)(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
