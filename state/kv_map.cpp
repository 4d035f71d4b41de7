// kv_map: an AVL tree of entries that point at the caller's bytes.

#include "kv_map.h"

#include <algorithm>
#include <cerrno>

#include "kv_map_tree.h"
#include "state_alloc.h"

int kv_compare(const void* a, size_t a_len, const void* b, size_t b_len) {
    // strncmp over the common length (unsigned bytes, stopping at a shared zero
    // byte), then the shorter key first.
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    const size_t common = std::min(a_len, b_len);
    for (size_t i = 0; i < common; ++i) {
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
        if (x[i] == 0) break;
    }
    if (a_len == b_len) return 0;
    return a_len < b_len ? -1 : 1;
}

namespace {

int64_t height(const kv_node* n) {
    return n ? n->height : 0;
}

void update_height(kv_node* n) {
    n->height = 1 + std::max(height(n->left), height(n->right));
}

// Puts `to` where `from` hangs below from's parent.
void replace_child(kv_node* parent, kv_node* from, kv_node* to) {
    if (!parent) return;
    if (parent->left == from)
        parent->left = to;
    else
        parent->right = to;
}

// x's left child takes x's place; returns it.
kv_node* rotate_right(kv_node* x) {
    kv_node* y = x->left;
    x->left = y->right;
    if (y->right) y->right->parent = x;
    y->parent = x->parent;
    replace_child(x->parent, x, y);
    y->right = x;
    x->parent = y;
    update_height(x);
    update_height(y);
    return y;
}

// x's right child takes x's place; returns it.
kv_node* rotate_left(kv_node* x) {
    kv_node* y = x->right;
    x->right = y->left;
    if (y->left) y->left->parent = x;
    y->parent = x->parent;
    replace_child(x->parent, x, y);
    y->left = x;
    x->parent = y;
    update_height(x);
    update_height(y);
    return y;
}

// Hangs n below the tree: smaller keys left, larger right, and an equal key as the
// in-order predecessor of the first node that compares equal.
void attach(kv_map* map, kv_node* n) {
    const kv_entry* e = n->entry;
    kv_node* at = map->root;
    for (;;) {
        const int c = map->compare(e->key, e->key_len, at->entry->key, at->entry->key_len);
        if (c == 0) {
            if (!at->left) {
                at->left = n;
            } else {
                at = at->left;
                while (at->right) at = at->right;
                at->right = n;
            }
            break;
        }
        kv_node*& child = c < 0 ? at->left : at->right;
        if (!child) {
            child = n;
            break;
        }
        at = child;
    }
    n->parent = at;
}

// Restores the height balance from n up to the root, which it stores.
void rebalance(kv_map* map, kv_node* n) {
    kv_node* top = n;
    while (n) {
        const int64_t diff = height(n->left) - height(n->right);
        if (diff == 2) {
            kv_node* l = n->left;
            if (height(l->left) <= height(l->right)) rotate_left(l);
            n = rotate_right(n);
        } else if (diff == -2) {
            kv_node* r = n->right;
            if (height(r->right) <= height(r->left)) rotate_right(r);
            n = rotate_left(n);
        } else {
            update_height(n);
        }
        top = n;
        n = n->parent;
    }
    map->root = top;
}

kv_node* leftmost(kv_node* n) {
    while (n && n->left) n = n->left;
    return n;
}

kv_node* successor(kv_node* n) {
    if (n->right) return leftmost(n->right);
    while (n->parent && n->parent->right == n) n = n->parent;
    return n->parent;
}

} // namespace

kv_map* kv_map_new() {
    auto* map = static_cast<kv_map*>(state_malloc(sizeof(kv_map)));
    if (!map) return nullptr;
    map->root = nullptr;
    map->compare = kv_compare;
    return map;
}

void kv_map_free(kv_map* map) {
    if (!map) return;
    // Post-order walk without a stack: free a node once both children are gone.
    kv_node* n = map->root;
    while (n) {
        if (n->left) {
            n = n->left;
        } else if (n->right) {
            n = n->right;
        } else {
            kv_node* parent = n->parent;
            if (parent) replace_child(parent, n, nullptr);
            state_free(n->entry);
            state_free(n);
            n = parent;
        }
    }
    state_free(map);
}

int kv_map_insert(kv_map* map, const void* key, size_t key_len, const void* value,
                  size_t value_len) {
    if (!map) {
        errno = EINVAL;
        return -1;
    }
    auto* e = static_cast<kv_entry*>(state_malloc(sizeof(kv_entry)));
    if (!e) return -1;
    auto* n = static_cast<kv_node*>(state_malloc(sizeof(kv_node)));
    if (!n) {
        state_free(e);
        return -1;
    }
    *e = {key_len, value_len, key, value};
    *n = {nullptr, nullptr, nullptr, 1, e};
    if (!map->root) {
        map->root = n;
        return 0;
    }
    attach(map, n);
    rebalance(map, n);
    return 0;
}

const void* kv_map_find(const kv_map* map, const void* key, size_t key_len, size_t* value_len) {
    for (const kv_node* n = map ? map->root : nullptr; n;) {
        const kv_entry* e = n->entry;
        const int c = map->compare(key, key_len, e->key, e->key_len);
        if (c == 0) {
            if (value_len) *value_len = e->value_len;
            return e->value;
        }
        n = c < 0 ? n->left : n->right;
    }
    return nullptr;
}

int kv_map_foreach(const kv_map* map, kv_map_callback fn, void* user) {
    if (!map) return 0;
    for (kv_node* n = leftmost(map->root); n; n = successor(n)) {
        const kv_entry* e = n->entry;
        if (int r = fn(e->key, e->key_len, e->value, e->value_len, user)) return r;
    }
    return 0;
}
