// The page's messages to the native side: "b", "s", "e" index bits (a gesture on a
// parameter), "g" (report every value), "m" text (for the page-message handler).
#pragma once

#include <cstdint>

struct editor;
struct page_dispatch_table;

// Runs one page message (NUL-terminated UTF-8, valid only during the call) on the
// editor's UI thread. Malformed messages are ignored.
void dispatch_page_message(editor* ed, page_dispatch_table* table, const char* text);

// Reads "%x %x" as the page writes it: two unsigned 32-bit hexadecimal numbers (an
// optional 0x prefix, leading white space) separated by white space. False unless
// both numbers are there and fit in 32 bits.
bool parse_index_and_bits(const char* text, uint32_t* index, uint32_t* bits);
