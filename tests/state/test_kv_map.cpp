#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "state/kv_map_tree.h"
#include "state/state_alloc.h"
#include "state_test_support.h"

namespace {

int cmp(std::string_view a, std::string_view b) {
    return kv_compare(a.data(), a.size(), b.data(), b.size());
}

struct Map {
    kv_map* m = kv_map_new();
    ~Map() { kv_map_free(m); }
    // The map keeps pointers: keys and values must outlive it (literals, or strings
    // that stay put).
    int insert(std::string_view key, std::string_view value) {
        return kv_map_insert(m, key.data(), key.size(), value.data(), value.size());
    }
    const char* find(std::string_view key, size_t* len) const {
        return static_cast<const char*>(kv_map_find(m, key.data(), key.size(), len));
    }
};

// Checks links, stored heights and the balance of every node; returns the height.
int64_t check_subtree(const kv_node* n, const kv_node* parent, size_t* count) {
    if (!n) return 0;
    EXPECT_EQ(n->parent, parent);
    const int64_t hl = check_subtree(n->left, n, count);
    const int64_t hr = check_subtree(n->right, n, count);
    EXPECT_LE(std::llabs(hl - hr), 1);
    EXPECT_EQ(n->height, 1 + std::max(hl, hr));
    ++*count;
    return n->height;
}

// The first node on the search path whose key equals `key`, as lookup and insertion
// meet it.
const kv_node* first_equal_on_path(const kv_map* m, std::string_view key) {
    for (const kv_node* n = m->root; n;) {
        const int c = kv_compare(key.data(), key.size(), n->entry->key, n->entry->key_len);
        if (c == 0) return n;
        n = c < 0 ? n->left : n->right;
    }
    return nullptr;
}

std::vector<const void*> value_pointers(const kv_map* m) {
    std::vector<const void*> out;
    kv_map_foreach(
        m,
        [](const void*, size_t, const void* v, size_t, void* user) {
            static_cast<std::vector<const void*>*>(user)->push_back(v);
            return 0;
        },
        &out);
    return out;
}

} // namespace

TEST(KvCompare, ByteOrderWithShorterPrefixesFirst) {
    EXPECT_LT(cmp("info.map", "parameters.map"), 0);
    EXPECT_LT(cmp("parameters.map", "version"), 0);
    EXPECT_LT(cmp("mi", "mix"), 0);
    EXPECT_GT(cmp("mixer", "mix"), 0);
    EXPECT_EQ(cmp("mix", "mix"), 0);
    EXPECT_EQ(cmp("", ""), 0);
    EXPECT_LT(cmp("", "a"), 0);
    // Bytes are unsigned: 0x80 sorts after 0x7f.
    EXPECT_GT(cmp("\x80", "\x7f"), 0);
    // The common part is compared as strncmp does: it ends at a shared zero byte.
    EXPECT_EQ(cmp(std::string_view("a\0x", 3), std::string_view("a\0y", 3)), 0);
    EXPECT_LT(cmp(std::string_view("a\0x", 3), std::string_view("a\0yz", 4)), 0);
}

TEST(KvMap, FindsByLengthAndBytes) {
    Map map;
    const std::string mixer = "mixer", mi = "mi", v1 = "1", v2 = "22";
    ASSERT_EQ(map.insert(mixer, v1), 0);
    ASSERT_EQ(map.insert(mi, v2), 0);
    size_t len = 77;
    EXPECT_EQ(map.find("mix", &len), nullptr);
    EXPECT_EQ(len, 77u) << "a failed lookup leaves the length alone";
    ASSERT_NE(map.find("mi", &len), nullptr);
    EXPECT_EQ(len, 2u);
    ASSERT_EQ(map.find("mixer", &len), v1.data()) << "entries point at the caller's bytes";
    EXPECT_EQ(len, 1u);
}

TEST(KvMap, ForeachStopsAtTheFirstNonZeroResult) {
    Map map;
    std::vector<std::string> keys = {"c", "a", "d", "b"};
    for (const auto& k : keys) ASSERT_EQ(map.insert(k, k), 0);
    std::string seen;
    auto stop_at_c = [](const void* k, size_t, const void*, size_t, void* user) {
        auto* s = static_cast<std::string*>(user);
        *s += *static_cast<const char*>(k);
        return *static_cast<const char*>(k) == 'c' ? 42 : 0;
    };
    EXPECT_EQ(kv_map_foreach(map.m, stop_at_c, &seen), 42);
    EXPECT_EQ(seen, "abc");
    Map empty;
    EXPECT_EQ(kv_map_foreach(empty.m, stop_at_c, &seen), 0);
}

// Thousands of random keys, many repeated: the tree stays a valid AVL tree, each
// duplicate lands just before the equal entry its descent met (which is also what a
// lookup answers), and iteration yields the inserted entries in sorted order.
TEST(KvMap, StaysBalancedAndSortedUnderRandomInsertsWithDuplicates) {
    std::mt19937 rng(1234);
    constexpr int kInserts = 3000;
    std::vector<std::string> keys, values;
    keys.reserve(kInserts);
    values.reserve(kInserts);
    for (int i = 0; i < kInserts; ++i) {
        // Short keys over a small alphabet give many duplicates and shared prefixes.
        std::string k(1 + rng() % 3, 'a');
        for (char& c : k) c = char('a' + rng() % 5);
        keys.push_back(k);
        values.push_back(std::to_string(i));
    }
    Map map;
    for (int i = 0; i < kInserts; ++i) {
        const kv_node* met = first_equal_on_path(map.m, keys[i]);
        if (met) {
            size_t len = 0;
            ASSERT_EQ(kv_map_find(map.m, keys[i].data(), keys[i].size(), &len), met->entry->value)
                << "a lookup answers the first equal entry its descent meets";
        }
        ASSERT_EQ(map.insert(keys[i], values[i]), 0);
        if (met && i % 7 == 0) {
            const auto order = value_pointers(map.m);
            auto at = std::find(order.begin(), order.end(), values[i].data());
            ASSERT_TRUE(at != order.end() && at + 1 != order.end());
            ASSERT_EQ(at[1], met->entry->value) << "insert " << i;
        }
        if (i % 97 == 0 || i == kInserts - 1) {
            size_t count = 0;
            const int64_t h = check_subtree(map.m->root, nullptr, &count);
            ASSERT_EQ(count, size_t(i + 1));
            ASSERT_LE(double(h), 1.45 * std::log2(double(count + 2))) << "after " << count;
        }
    }
    const Entries all = entries(map.m);
    ASSERT_EQ(all.size(), size_t(kInserts));
    for (size_t i = 1; i < all.size(); ++i) ASSERT_LE(cmp(all[i - 1].first, all[i].first), 0);
    Entries expected;
    for (int i = 0; i < kInserts; ++i) expected.emplace_back(keys[i], values[i]);
    Entries got = all;
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected) << "every inserted entry is there once";
}

TEST(KvMap, SortedInputStaysBalanced) {
    // Ascending keys are the classic worst case for an unbalanced tree.
    std::vector<std::string> keys;
    for (int i = 0; i < 5000; ++i)
        keys.push_back(std::string(8 - std::to_string(i).size(), '0') + std::to_string(i));
    Map map;
    for (const auto& k : keys) ASSERT_EQ(map.insert(k, k), 0);
    size_t count = 0;
    const int64_t h = check_subtree(map.m->root, nullptr, &count);
    EXPECT_EQ(count, keys.size());
    EXPECT_LE(double(h), 1.45 * std::log2(double(count + 2)));
}

TEST(KvMap, InsertOutOfMemoryLeavesTheMapUnchanged) {
    Map map;
    std::vector<std::string> keys = {"m", "c", "x", "a", "e", "dup", "dup"};
    for (const auto& k : keys) ASSERT_EQ(map.insert(k, k), 0);
    const Entries before = entries(map.m);
    const kv_node* root = map.m->root;
    const long live = state_alloc_live();

    // The entry allocation fails, then (with the entry made) the node allocation.
    for (long allowed : {0L, 1L}) {
        state_alloc_fail_after(allowed);
        errno = 0;
        EXPECT_EQ(map.insert("dup", "new"), -1);
        state_alloc_fail_after(-1);
        EXPECT_EQ(errno, ENOMEM);
        EXPECT_EQ(entries(map.m), before);
        EXPECT_EQ(map.m->root, root);
        EXPECT_EQ(state_alloc_live(), live) << "nothing half-made is kept";
    }
    EXPECT_EQ(map.insert("dup", "new"), 0);
    EXPECT_EQ(entries(map.m).size(), before.size() + 1);
}
