// The one check of UTF-8 text, for every side that passes texts on: the editor (texts
// for the page) and the frames between the X11 editor and its helper program.
// Portable, header only, so that the helper program can use it too.
#pragma once

#include <cstdint>
#include <string_view>

// Whether the text is well-formed UTF-8 without NUL: no overlong forms, surrogates or
// code points past U+10FFFF.
inline bool is_utf8_text(std::string_view text) {
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = p + text.size();
    while (p < end) {
        const uint8_t lead = *p++;
        if (lead == 0) return false;
        if (lead < 0x80) continue;
        int more;
        uint32_t code, least;
        if (lead >= 0xc2 && lead <= 0xdf) {
            more = 1, code = lead & 0x1f, least = 0x80;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            more = 2, code = lead & 0x0f, least = 0x800;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            more = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return false; // a continuation byte, an overlong two-byte lead, or past U+10FFFF
        }
        if (end - p < more) return false;
        for (int i = 0; i < more; ++i) {
            if ((p[i] & 0xc0) != 0x80) return false;
            code = code << 6 | (p[i] & 0x3f);
        }
        p += more;
        if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return false;
    }
    return true;
}
