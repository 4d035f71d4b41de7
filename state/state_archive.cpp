// The nested layout: an outer ustar archive holding "dsp.tar", itself a ustar archive
// of "version" ("1.0"), "info.map" and "parameters.map". Other members of either
// archive travel through a load and a save untouched.

#include "state_archive.h"

#include <cerrno>
#include <cstring>

#include "state_alloc.h"

namespace {

constexpr char kVersion[] = "1.0";
constexpr size_t kVersionLen = 3;

constexpr char kDspTar[] = "dsp.tar";
constexpr char kVersionMember[] = "version";
constexpr char kInfoMember[] = "info.map";
constexpr char kParametersMember[] = "parameters.map";

bool same_name(const void* name, size_t len, const char* wanted) {
    return len == std::strlen(wanted) && std::memcmp(name, wanted, len) == 0;
}

const void* find_member(const kv_map* archive, const char* name, size_t* len) {
    return kv_map_find(archive, name, std::strlen(name), len);
}

// "1.0", then nothing but white space (tab to carriage return, and space).
bool version_ok(const void* text, size_t len) {
    const auto* p = static_cast<const unsigned char*>(text);
    if (len < kVersionLen || std::memcmp(p, kVersion, kVersionLen) != 0) return false;
    for (size_t i = kVersionLen; i < len; ++i)
        if (!(p[i] == ' ' || (p[i] >= 9 && p[i] <= 13))) return false;
    return true;
}

int add_member(kv_map* archive, const char* name, const void* data, size_t len) {
    return kv_map_insert(archive, name, std::strlen(name), data, len);
}

int insert_entry(const void* key, size_t key_len, const void* value, size_t value_len, void* user) {
    return kv_map_insert(static_cast<kv_map*>(user), key, key_len, value, value_len) != 0;
}

struct CopyExcept {
    kv_map* to;
    const char* const* skip; // null-terminated list of names left out
};

int insert_unless_known(const void* key, size_t key_len, const void* value, size_t value_len,
                        void* user) {
    auto* c = static_cast<CopyExcept*>(user);
    for (const char* const* s = c->skip; *s; ++s)
        if (same_name(key, key_len, *s)) return 0;
    return kv_map_insert(c->to, key, key_len, value, value_len) != 0;
}

// A new map of the members of `archive` other than those named in `skip`.
kv_map* copy_unknown(const kv_map* archive, const char* const* skip) {
    kv_map* map = kv_map_new();
    if (!map) return nullptr;
    CopyExcept c{map, skip};
    if (kv_map_foreach(archive, insert_unless_known, &c) != 0) {
        kv_map_free(map);
        return nullptr;
    }
    return map;
}

void clear(state_archive* s) {
    *s = {nullptr, nullptr, nullptr, nullptr, nullptr};
}

// Releases every map made so far by a load, leaves errno = reason, returns -1.
int fail_load(state_archive* s, kv_map* outer, kv_map* inner, int reason) {
    kv_map_free(outer);
    kv_map_free(inner);
    state_archive_free(s);
    errno = reason;
    return -1;
}

} // namespace

int state_archive_init(state_archive* state) {
    if (!state) {
        errno = EINVAL;
        return -1;
    }
    clear(state);
    state->version = kVersion;
    if (!(state->extra_outer = kv_map_new()) || !(state->info = kv_map_new()) ||
        !(state->parameters = kv_map_new()) || !(state->extra_inner = kv_map_new())) {
        state_archive_free(state);
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

int state_archive_load(state_archive* state, const void* bytes, size_t len) {
    if (!state) {
        errno = EINVAL;
        return -1;
    }
    clear(state);
    kv_map* outer = tar_parse(bytes, len);
    if (!outer) return fail_load(state, nullptr, nullptr, errno);

    size_t dsp_len = 0;
    const void* dsp = find_member(outer, kDspTar, &dsp_len);
    if (!dsp) return fail_load(state, outer, nullptr, EINVAL);
    kv_map* inner = tar_parse(dsp, dsp_len);
    if (!inner) return fail_load(state, outer, nullptr, errno);

    size_t version_len = 0;
    const void* version = find_member(inner, kVersionMember, &version_len);
    if (!version || !version_ok(version, version_len))
        return fail_load(state, outer, inner, EINVAL);

    size_t info_len = 0, params_len = 0;
    const void* info = find_member(inner, kInfoMember, &info_len);
    if (!info) return fail_load(state, outer, inner, EINVAL);
    if (!(state->info = map_parse(info, info_len))) return fail_load(state, outer, inner, errno);
    const void* params = find_member(inner, kParametersMember, &params_len);
    if (!params) return fail_load(state, outer, inner, EINVAL);
    if (!(state->parameters = map_parse(params, params_len)))
        return fail_load(state, outer, inner, errno);
    state->version = kVersion;

    static const char* const inner_known[] = {kParametersMember, kInfoMember, kVersionMember,
                                              nullptr};
    static const char* const outer_known[] = {kDspTar, nullptr};
    if (!(state->extra_inner = copy_unknown(inner, inner_known)) ||
        !(state->extra_outer = copy_unknown(outer, outer_known)))
        return fail_load(state, outer, inner, ENOMEM);

    kv_map_free(inner);
    kv_map_free(outer);
    return 0;
}

uint8_t* state_archive_save(const state_archive* state, size_t* out_len) {
    if (!state || !out_len || !state->info || !state->parameters || !state->extra_inner ||
        !state->extra_outer) {
        errno = EINVAL;
        return nullptr;
    }
    uint8_t* info = nullptr;
    uint8_t* params = nullptr;
    uint8_t* inner = nullptr;
    uint8_t* outer = nullptr;
    size_t info_len = 0, params_len = 0, inner_len = 0, outer_len = 0;

    // Inner archive: "version", the two .map members and the unknown inner members.
    kv_map* members = kv_map_new();
    if (members && add_member(members, kVersionMember, kVersion, kVersionLen) == 0 &&
        (info = map_build(state->info, &info_len)) &&
        add_member(members, kInfoMember, info, info_len) == 0 &&
        (params = map_build(state->parameters, &params_len)) &&
        add_member(members, kParametersMember, params, params_len) == 0 &&
        kv_map_foreach(state->extra_inner, insert_entry, members) == 0)
        inner = tar_build(members, &inner_len);
    kv_map_free(members);
    state_free(info);
    state_free(params);
    if (!inner) return nullptr;

    // Outer archive: "dsp.tar" and the unknown outer members.
    members = kv_map_new();
    if (members && add_member(members, kDspTar, inner, inner_len) == 0 &&
        kv_map_foreach(state->extra_outer, insert_entry, members) == 0)
        outer = tar_build(members, &outer_len);
    kv_map_free(members);
    state_free(inner);
    if (outer) *out_len = outer_len;
    return outer;
}

void state_archive_free(state_archive* state) {
    if (!state) return;
    kv_map_free(state->info);
    kv_map_free(state->parameters);
    kv_map_free(state->extra_inner);
    kv_map_free(state->extra_outer);
    clear(state);
}
