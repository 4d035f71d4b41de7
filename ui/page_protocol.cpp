// Reading and writing the page's messages.
#include "ui/page_protocol.h"

#include <bit>
#include <cmath>

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

constexpr page_message kIgnored = {page_kind::ignored, 0, 0, nullptr};

} // namespace

bool parse_index_and_bits(const char* text, uint32_t* index, uint32_t* bits) {
    const char* p = text;
    return parse_hex32(p, index) && parse_hex32(p, bits);
}

page_message read_page_message(const char* text, uint64_t parameter_count) {
    const char kind = text[0];
    if (kind == 'g') return {page_kind::get_all, 0, 0, nullptr};
    // Every other kind has arguments from the third character on; a message that ends
    // after its kind has none.
    if (kind == '\0' || text[1] == '\0') return kIgnored;
    const char* arguments = text + 2;
    if (kind == 'm') return {page_kind::handler, 0, 0, arguments};
    if (kind != 'b' && kind != 's' && kind != 'e') return kIgnored;

    uint32_t index, bits;
    if (!parse_index_and_bits(arguments, &index, &bits)) return kIgnored;
    const float value = std::bit_cast<float>(bits);
    // A parameter the editor does not have, or a value that is no number, never
    // reaches the host.
    if (index >= parameter_count || !std::isfinite(value)) return kIgnored;
    return {static_cast<page_kind>(kind), index, value, nullptr};
}

value_report format_value_report(uint32_t index, float value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    value_report r = {"s 00000000 00000000"};
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    for (int i = 0; i < 8; ++i) {
        r.text[2 + i] = kDigits[(index >> (28 - 4 * i)) & 0xf];
        r.text[11 + i] = kDigits[(bits >> (28 - 4 * i)) & 0xf];
    }
    return r;
}
