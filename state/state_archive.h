// The saved-state byte format shared by both plug-in formats.
//
// Saved state is a ustar archive whose member "dsp.tar" is itself a ustar archive
// holding "version" ("1.0"), "info.map" (facts about the writer) and
// "parameters.map" (the parameter values). The .map members are length-prefixed
// key/value records. Members the reader does not know are carried through a load
// and a save. Failures return null or -1 with errno EINVAL (malformed input) or
// ENOMEM; a failed load leaves nothing allocated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kv_map.h"

struct state_archive {
    const char* version; // "1.0" after a successful load
    kv_map* info;
    kv_map* parameters;
    kv_map* extra_inner; // other members of "dsp.tar"
    kv_map* extra_outer; // other members of the outer archive
};

// .map records: u32 key length (>= 1), u32 value length, key, value; little-endian.
kv_map* map_parse(const void* bytes, size_t len);
uint8_t* map_build(const kv_map* map, size_t* out_len);

// POSIX ustar: member name to member data.
kv_map* tar_parse(const void* bytes, size_t len);
uint8_t* tar_build(const kv_map* map, size_t* out_len);

int state_archive_init(state_archive* state);
// On success the four maps are new and point into `bytes`, which must outlive them.
int state_archive_load(state_archive* state, const void* bytes, size_t len);
// A heap buffer (release with free) holding the state bytes, or null.
uint8_t* state_archive_save(const state_archive* state, size_t* out_len);
void state_archive_free(state_archive* state);
