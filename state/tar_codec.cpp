// POSIX ustar, as this format uses it: each member a 512-byte header and its data
// padded to a multiple of 512, then two zero blocks. The reader takes only the name
// and the size from a header.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "state_alloc.h"
#include "state_archive.h"

namespace {

constexpr size_t kBlock = 512;
constexpr size_t kNameField = 100;
constexpr size_t kSizeOffset = 124; // 11 octal digits and a zero byte
constexpr size_t kChksumOffset = 148;
constexpr uint64_t kSizeLimit = uint64_t(1) << 31;

size_t padded(size_t size) {
    return (size + kBlock - 1) / kBlock * kBlock;
}

kv_map* refuse(kv_map* map, int reason) {
    kv_map_free(map);
    errno = reason;
    return nullptr;
}

// The size field: bytes 124..134 octal digits, byte 135 zero, value below 2^31.
bool read_size(const uint8_t* header, uint64_t* size) {
    if (header[kSizeOffset + 11] != 0) return false;
    uint64_t v = 0;
    for (size_t i = kSizeOffset; i < kSizeOffset + 11; ++i) {
        if (header[i] < '0' || header[i] > '7') return false;
        v = v * 8 + uint64_t(header[i] - '0');
    }
    if (v >= kSizeLimit) return false;
    *size = v;
    return true;
}

void put_text(uint8_t* header, size_t offset, const char* text) {
    std::memcpy(header + offset, text, std::strlen(text));
}

void fill_header(uint8_t* h, const void* name, size_t name_len, size_t size) {
    char digits[24];
    std::memcpy(h, name, name_len);
    put_text(h, 100, "0000644");
    put_text(h, 108, "0000000");
    put_text(h, 116, "0000000");
    std::snprintf(digits, sizeof digits, "%011zo", size);
    put_text(h, kSizeOffset, digits);
    put_text(h, 136, "00000000000");
    std::memset(h + kChksumOffset, ' ', 8);
    h[156] = '0';
    put_text(h, 257, "ustar");
    put_text(h, 263, "00");

    unsigned long long sum = 0;
    for (size_t i = 0; i < kBlock; ++i) sum += h[i];
    // Five digits (six from 32768 on), each followed by its zero byte; then a zero
    // at 154, and 155 keeps its space.
    std::snprintf(digits, sizeof digits, "%05llo", sum);
    std::memcpy(h + kChksumOffset, digits, std::strlen(digits) + 1);
    h[154] = 0;
}

struct TarWriter {
    uint8_t* buf;
    size_t len;
};

bool grow_zeroed(TarWriter* w, size_t more) {
    auto* grown = static_cast<uint8_t*>(state_realloc(w->buf, w->len + more));
    if (!grown) return false;
    w->buf = grown;
    std::memset(w->buf + w->len, 0, more);
    w->len += more;
    return true;
}

int append_member(const void* name, size_t name_len, const void* data, size_t size, void* user) {
    auto* w = static_cast<TarWriter*>(user);
    // Only names the reader gives back unchanged are written: 1 to 99 bytes without
    // a zero byte (an empty name would read as the end of the archive). Sizes of 2^31
    // and more would be refused by the reader.
    if (name_len == 0 || name_len >= kNameField || std::memchr(name, 0, name_len)) return 1;
    if (size >= kSizeLimit) return 1;
    const size_t start = w->len;
    if (!grow_zeroed(w, kBlock + padded(size))) return 1;
    uint8_t* header = w->buf + start;
    fill_header(header, name, name_len, size);
    if (size) std::memcpy(header + kBlock, data, size);
    return 0;
}

} // namespace

kv_map* tar_parse(const void* bytes, size_t len) {
    if (!bytes && len) {
        errno = EINVAL;
        return nullptr;
    }
    kv_map* map = kv_map_new();
    if (!map) return nullptr;
    const auto* p = static_cast<const uint8_t*>(bytes);
    size_t off = 0;
    while (off < len) {
        const uint8_t* header = p + off;
        // A header that begins with a zero byte ends the archive; only that byte is
        // read, so a short end block is still an end.
        if (header[0] == 0) break;
        if (len - off < kBlock) return refuse(map, EINVAL);
        uint64_t size;
        if (!read_size(header, &size)) return refuse(map, EINVAL);
        const size_t left = len - off - kBlock;
        if (size > left) return refuse(map, EINVAL);
        const void* name_end = std::memchr(header, 0, kNameField);
        const size_t name_len =
            name_end ? size_t(static_cast<const uint8_t*>(name_end) - header) : kNameField;
        if (kv_map_insert(map, header, name_len, header + kBlock, size) != 0)
            return refuse(map, ENOMEM);
        // The padding after the last member's data may be cut off: nothing follows.
        const size_t step = kBlock + padded(size);
        off = step - kBlock > left ? len : off + step;
    }
    return map;
}

uint8_t* tar_build(const kv_map* map, size_t* out_len) {
    if (!map || !out_len) return nullptr;
    TarWriter w{nullptr, 0};
    if (kv_map_foreach(map, append_member, &w) != 0 || !grow_zeroed(&w, 2 * kBlock)) {
        state_free(w.buf);
        return nullptr;
    }
    *out_len = w.len;
    return w.buf;
}
