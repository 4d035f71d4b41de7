// The AVL tree behind kv_map, visible to the map's own code and to tests that check
// the tree's shape.
#pragma once

#include <cstdint>

#include "kv_map.h"

struct kv_node {
    kv_node* parent;
    kv_node* left;
    kv_node* right;
    int64_t height; // a leaf is 1; a missing child counts as 0
    kv_entry* entry;
};

struct kv_map {
    kv_node* root;
    int (*compare)(const void* a, size_t a_len, const void* b, size_t b_len);
};
