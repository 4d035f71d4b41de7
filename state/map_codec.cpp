// .map records: u32 key length (at least 1), u32 value length, key, value; all
// little-endian, one after another with no count or terminator.

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "state_alloc.h"
#include "state_archive.h"

namespace {

uint32_t read_u32le(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void write_u32le(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

kv_map* refuse(kv_map* map, int reason) {
    kv_map_free(map);
    errno = reason;
    return nullptr;
}

struct MapWriter {
    uint8_t* buf;
    size_t len;
};

int append_record(const void* key, size_t key_len, const void* value, size_t value_len,
                  void* user) {
    auto* w = static_cast<MapWriter*>(user);
    // A record the reader would refuse or misread is not written: an empty key, or a
    // length that does not fit its 32-bit field.
    if (key_len == 0 || key_len > UINT32_MAX || value_len > UINT32_MAX) return EINVAL;
    const size_t record = 8 + key_len + value_len;
    auto* grown = static_cast<uint8_t*>(state_realloc(w->buf, w->len + record));
    if (!grown) return ENOMEM;
    w->buf = grown;
    uint8_t* p = w->buf + w->len;
    write_u32le(p, uint32_t(key_len));
    write_u32le(p + 4, uint32_t(value_len));
    std::memcpy(p + 8, key, key_len);
    if (value_len) std::memcpy(p + 8 + key_len, value, value_len);
    w->len += record;
    return 0;
}

} // namespace

kv_map* map_parse(const void* bytes, size_t len) {
    if (!bytes && len) {
        errno = EINVAL;
        return nullptr;
    }
    kv_map* map = kv_map_new();
    if (!map) return nullptr;
    const auto* p = static_cast<const uint8_t*>(bytes);
    size_t off = 0;
    while (off < len) {
        // Every length is checked against what is left before anything is read.
        if (len - off < 8) return refuse(map, EINVAL);
        const uint32_t key_len = read_u32le(p + off);
        const uint32_t value_len = read_u32le(p + off + 4);
        if (key_len == 0) return refuse(map, EINVAL);
        const size_t left = len - off - 8;
        if (key_len > left || value_len > left - key_len) return refuse(map, EINVAL);
        const uint8_t* key = p + off + 8;
        if (kv_map_insert(map, key, key_len, key + key_len, value_len) != 0)
            return refuse(map, ENOMEM);
        off += 8 + size_t(key_len) + value_len;
    }
    return map;
}

uint8_t* map_build(const kv_map* map, size_t* out_len) {
    if (!map || !out_len) {
        errno = EINVAL;
        return nullptr;
    }
    // An empty map gives an empty (but real) buffer, which the reader accepts.
    MapWriter w{static_cast<uint8_t*>(state_malloc(0)), 0};
    if (!w.buf) return nullptr;
    if (int reason = kv_map_foreach(map, append_record, &w)) {
        state_free(w.buf);
        errno = reason;
        return nullptr;
    }
    *out_len = w.len;
    return w.buf;
}
