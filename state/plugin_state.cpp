// The plug-in's own entries in the state archive, shared by the VST3 and LV2 layers.

#include "plugin_state.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "state_archive.h"

namespace {

constexpr uint32_t kVersionNumbers[4] = {1, 2, 1, 1}; // major, minor, revision, build
constexpr const char* kVersionKeys[4] = {"version_major", "version_minor", "version_revision",
                                         "version_build"};

struct Le32 {
    uint8_t b[4];
};

Le32 le32(uint32_t v) {
    return {{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}};
}

Le32 le32(float f) {
    return le32(std::bit_cast<uint32_t>(f));
}

float float_from_le32(const void* bytes) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    return std::bit_cast<float>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                uint32_t(p[3]) << 24);
}

int insert_text(kv_map* map, const char* key, const char* text) {
    return kv_map_insert(map, key, std::strlen(key), text, std::strlen(text));
}

int insert_le32(kv_map* map, const char* key, const Le32& value) {
    return kv_map_insert(map, key, std::strlen(key), value.b, sizeof value.b);
}

} // namespace

uint8_t* plugin_state_save(const float values[kParamCount], const char* format,
                           const char* platform, float sample_rate, size_t* out_len) {
    if (!values || !format || !platform || !out_len) {
        errno = EINVAL;
        return nullptr;
    }
    // The maps point at these bytes until the archive is written.
    Le32 versions[4], rate = le32(sample_rate), params[kParamCount];
    for (int i = 0; i < 4; ++i) versions[i] = le32(kVersionNumbers[i]);
    for (int i = 0; i < kParamCount; ++i) params[i] = le32(values[i]);

    state_archive archive;
    if (state_archive_init(&archive) != 0) return nullptr;
    bool ok = insert_text(archive.info, "id", kPluginStateId) == 0;
    for (int i = 0; i < 4 && ok; ++i)
        ok = insert_le32(archive.info, kVersionKeys[i], versions[i]) == 0;
    ok = ok && insert_text(archive.info, "format", format) == 0 &&
         insert_text(archive.info, "platform", platform) == 0 &&
         insert_le32(archive.info, "sample_rate", rate) == 0;
    for (int i = 0; i < kParamCount && ok; ++i)
        ok = insert_le32(archive.parameters, kParams[i].key, params[i]) == 0;

    uint8_t* bytes = ok ? state_archive_save(&archive, out_len) : nullptr;
    const int reason = errno;
    state_archive_free(&archive);
    errno = reason;
    return bytes;
}

int plugin_state_load(const void* bytes, size_t len, float values[kParamCount]) {
    if (!values) {
        errno = EINVAL;
        return -1;
    }
    state_archive archive;
    if (state_archive_load(&archive, bytes, len) != 0) return -1;

    // Everything is checked before anything is written.
    float found[kParamCount];
    size_t id_len = 0;
    const void* id = kv_map_find(archive.info, "id", 2, &id_len);
    bool ok =
        id && id_len == std::strlen(kPluginStateId) && std::memcmp(id, kPluginStateId, id_len) == 0;
    for (int i = 0; i < kParamCount && ok; ++i) {
        size_t value_len = 0;
        const void* value = kv_map_find(archive.parameters, kParams[i].key,
                                        std::strlen(kParams[i].key), &value_len);
        ok = value && value_len == 4 && !std::isnan(found[i] = float_from_le32(value));
    }
    state_archive_free(&archive);
    if (!ok) {
        errno = EINVAL;
        return -1;
    }
    std::memcpy(values, found, sizeof found);
    return 0;
}
