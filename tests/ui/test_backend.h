// A backend for the editor core's native tests. It plays the page the way each
// platform hands it over: on a thread of its own with its own loop (as the Windows UI
// thread does), or on the creating thread when the host polls (editor_idle, as a run-
// loop-driven backend does). It records what is posted to the page, and on which
// thread.
//
// What it cannot prove: anything about a real browser or real windows (the Windows
// suites cover those under Wine); its waits keep no platform duties.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

struct page_backend;

enum class page_threading { own_thread, creating_thread };

// How the next backend_open behaves.
void test_backend_next(page_threading threading, bool opens = true);
// The backend opened last, and whether it has been closed since.
page_backend* test_backend_last();
bool test_backend_closed();

// Hands a page message to the editor on the page thread: queued for the backend's own
// thread, or for the next editor_idle on the creating thread.
void test_page_sends(page_backend* b, const std::string& text);
// How many page messages the editor has finished handling.
int test_page_handled(page_backend* b);
// Whether the editor has asked for the creating thread (a relayed edit waits for it).
bool test_edit_waits(page_backend* b);
// The page goes away, as when the browser's window is destroyed from outside.
void test_page_closes(page_backend* b);

// What reached the page, in order; a line "posted off the page thread" marks a text
// posted from any other thread.
std::vector<std::string> test_page_posts(page_backend* b);

// The creating thread's loop: serves the editor (runs relayed edits) whenever the
// backend calls for it, until `done` holds; false after `ms` milliseconds.
bool test_pump_until(page_backend* b, const std::function<bool()>& done, int ms = 10000);
