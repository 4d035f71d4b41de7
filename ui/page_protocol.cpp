// The page-message dispatcher: page gestures become relayed host edits, "g" is
// answered from the value cache, "m" goes to the page-message handler.
#include "ui/page_protocol.h"

#include <bit>
#include <cmath>
#include <cstdio>

#include "ui/editor_record.h"

namespace {

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One unsigned hexadecimal number after optional white space; advances `p`.
bool parse_hex32(const char*& p, uint32_t* out) {
    while (is_space(*p)) ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_digit(p[2]) >= 0) p += 2;
    if (hex_digit(*p) < 0) return false;
    uint64_t value = 0;
    for (int d; (d = hex_digit(*p)) >= 0; ++p) {
        value = value * 16 + d;
        if (value > UINT32_MAX) return false;
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

// A page-message handler's reply: a text for the page.
void reply_to_page(void* ed, const char* text) {
    editor_send_text(static_cast<editor*>(ed), text);
}

} // namespace

bool parse_index_and_bits(const char* text, uint32_t* index, uint32_t* bits) {
    const char* p = text;
    return parse_hex32(p, index) && parse_hex32(p, bits);
}

void dispatch_page_message(editor* ed, page_dispatch_table* table, const char* text) {
    char kind = text[0];
    if (kind == 'g') {
        for (uint64_t i = 0; i < table->parameter_count; ++i) {
            wchar_t report[40];
            swprintf(report, 40, L"s %08x %08x", (unsigned)i,
                     std::bit_cast<uint32_t>(table->value_cache[i]));
            ui_post_to_page(ed, report);
        }
        return;
    }
    // Every other kind has arguments from the third character on; a message that
    // ends after its kind has none.
    if (text[0] == '\0' || text[1] == '\0') return;
    const char* arguments = text + 2;

    if (kind == 'm') {
        if (table->handler) table->handler(arguments, reply_to_page, ed);
        return;
    }
    relay_fn relay = kind == 'b'   ? table->begin_edit
                     : kind == 's' ? table->perform_edit
                     : kind == 'e' ? table->end_edit
                                   : nullptr;
    if (!relay) return;
    uint32_t index, bits;
    if (!parse_index_and_bits(arguments, &index, &bits)) return;
    float value = std::bit_cast<float>(bits);
    // A parameter the editor does not have, or a value that is no number, never
    // reaches the host.
    if (index >= table->parameter_count || !std::isfinite(value)) return;
    table->value_cache[index] = value;
    relay(ed, index, value);
}
