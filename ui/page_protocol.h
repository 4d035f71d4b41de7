// The text messages between the page and the native side, read and written here and
// nowhere else. Portable: no platform headers, no state.
//
// From the page: the first character is the kind, the second is skipped unexamined,
// the arguments start at the third:
//   "b"/"s"/"e" index bits   a gesture begins / the value changes / the gesture ends;
//                            two hexadecimal numbers as "%x %x" reads them
//   "g"                      report every value (anything after is ignored)
//   "m" text                 for the page-message handler
// To the page: "s %08x %08x" (index, value bits) and "m " + a handler's reply.
#pragma once

#include <cstdint>

enum class page_kind : char {
    ignored = 0,
    begin_edit = 'b',
    perform_edit = 's',
    end_edit = 'e',
    get_all = 'g',
    handler = 'm',
};

struct page_message {
    page_kind kind;
    uint32_t index;   // b, s, e: below the parameter count
    float value;      // b, s, e: a finite number
    const char* text; // m: the text after "m ", inside the message read
};

// Reads one page message (NUL-terminated). Anything malformed, a parameter the editor
// does not have, and a value that is no finite number read as page_kind::ignored.
page_message read_page_message(const char* text, uint64_t parameter_count);

// Reads "%x %x" as the page writes it: two unsigned 32-bit hexadecimal numbers (an
// optional 0x prefix, leading white space) separated by white space. False unless
// both numbers are there and fit in 32 bits.
bool parse_index_and_bits(const char* text, uint32_t* index, uint32_t* bits);

// "s %08x %08x": a parameter's value for the page (19 characters and the NUL).
struct value_report {
    char text[20];
};
value_report format_value_report(uint32_t index, float value);
