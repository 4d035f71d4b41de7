// The test-only controls of the stand-in WebView2Loader.dll: make a step fail, play
// the page's part (messages, navigations), and read back every call the editor made.
#pragma once

#include <windows.h>

#ifdef STAND_IN_BUILD
#define STAND_IN_API extern "C" __declspec(dllexport)
#else
#define STAND_IN_API extern "C" __declspec(dllimport)
#endif

// Forgets every browser, failure and hidden interface.
STAND_IN_API void standin_reset(void);
// The named call (a method name such as "put_IsScriptEnabled" or "Navigate"; "environment"
// and "controller" for the asynchronous completions) answers `result` from now on.
STAND_IN_API void standin_fail(const char* step, HRESULT result);
// QueryInterface refuses the named interface, as an older runtime does.
STAND_IN_API void standin_hide(const char* interface_name);

// Browsers are numbered from 1 in order of creation; 0 means none.
STAND_IN_API int standin_last_browser(void);
STAND_IN_API int standin_browser_of(HWND parent);
// The browser's log, one call a line; returns its length (copies up to capacity - 1).
STAND_IN_API int standin_log(int browser, char* out, int capacity);
// Every message posted to a page, of all browsers, in the order posted: one line
// "BROWSER TEXT" each; returns its length (copies up to capacity - 1).
STAND_IN_API int standin_posts_in_order(char* out, int capacity);
// The class of the editor's window on the thread that created the environment.
STAND_IN_API int standin_ui_class(int browser, char* out, int capacity);
STAND_IN_API int standin_user_data_folder(int browser, wchar_t* out, int capacity);

// Queue an event for the browser's thread; 0 when queued. A message sent `as_json` is
// not a string, so TryGetWebMessageAsString refuses it.
STAND_IN_API int standin_page_message(int browser, const wchar_t* text, int as_json);
STAND_IN_API int standin_navigation(int browser, const wchar_t* uri, int new_window);
// How many queued events have been handled (their handler returned).
STAND_IN_API int standin_events_done(int browser);

// Stand-in COM objects still alive (environment, controller, browser, settings, event arguments).
STAND_IN_API int standin_live_objects(void);
