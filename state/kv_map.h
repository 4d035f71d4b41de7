// An ordered key/value container whose entries point at bytes the caller owns.
//
// Keys and values are byte strings of any content. Inserting copies neither: the
// caller's bytes must stay alive and unchanged while the map is used. Equal keys are
// kept as separate entries. Order (kv_compare): byte order with strncmp semantics
// over the common length, shorter keys first. Backed by an AVL tree.
#pragma once

#include <cstddef>

struct kv_map;

struct kv_entry {
    size_t key_len;
    size_t value_len;
    const void* key;
    const void* value;
};

int kv_compare(const void* a, size_t a_len, const void* b, size_t b_len);

// A new empty map, or null when out of memory.
kv_map* kv_map_new();
// Releases entries, nodes and the header, never the referenced bytes.
void kv_map_free(kv_map* map);
// 0, or -1 when out of memory (the map is then unchanged).
int kv_map_insert(kv_map* map, const void* key, size_t key_len, const void* value,
                  size_t value_len);
// The value of a matching entry (its length in *value_len), or null (*value_len untouched).
const void* kv_map_find(const kv_map* map, const void* key, size_t key_len, size_t* value_len);

using kv_map_callback = int (*)(const void* key, size_t key_len, const void* value,
                                size_t value_len, void* user);
// Calls fn for each entry in ascending order; stops at the first non-zero result and
// returns it; 0 when every call returned 0.
int kv_map_foreach(const kv_map* map, kv_map_callback fn, void* user);
