// Fuzzes the state reader: any input either loads or is refused with EINVAL; a loaded
// state saves, and the saved bytes load to the same content again.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "state/state_archive.h"

namespace {

using Entry = std::pair<std::string, std::string>;

std::vector<Entry> entries(const kv_map* map) {
    std::vector<Entry> out;
    kv_map_foreach(
        map,
        [](const void* k, size_t kl, const void* v, size_t vl, void* user) {
            static_cast<std::vector<Entry>*>(user)->emplace_back(
                std::string(static_cast<const char*>(k), kl),
                std::string(static_cast<const char*>(v), vl));
            return 0;
        },
        &out);
    return out;
}

// Keys in the same order, entry by entry. Entries whose keys compare equal may come
// in either order (the tree places each new duplicate by the shape it meets), so each
// run of equal keys is compared as a set.
bool same_content(const kv_map* a, const kv_map* b) {
    std::vector<Entry> x = entries(a), y = entries(b);
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size();) {
        size_t j = i + 1;
        while (j < x.size() && kv_compare(x[i].first.data(), x[i].first.size(), x[j].first.data(),
                                          x[j].first.size()) == 0)
            ++j;
        std::vector<Entry> rx(x.begin() + i, x.begin() + j), ry(y.begin() + i, y.begin() + j);
        std::sort(rx.begin(), rx.end());
        std::sort(ry.begin(), ry.end());
        if (rx != ry) return false;
        i = j;
    }
    return true;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz-state-archive: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    state_archive first;
    errno = 0;
    if (state_archive_load(&first, data, size) != 0) {
        if (errno != EINVAL) fail("a refused input must report EINVAL");
        if (first.info || first.parameters || first.extra_inner || first.extra_outer)
            fail("a failed load left maps behind");
        return 0;
    }
    size_t len = 0;
    uint8_t* saved = state_archive_save(&first, &len);
    if (saved) {
        state_archive second;
        if (state_archive_load(&second, saved, len) != 0) fail("saved bytes do not load");
        if (!same_content(first.info, second.info) ||
            !same_content(first.parameters, second.parameters) ||
            !same_content(first.extra_inner, second.extra_inner) ||
            !same_content(first.extra_outer, second.extra_outer))
            fail("a load after a save differs from the first load");
        size_t len2 = 0;
        uint8_t* again = state_archive_save(&second, &len2);
        if (!again || len2 != len) fail("a second save differs in length");
        std::free(again);
        state_archive_free(&second);
        std::free(saved);
    }
    state_archive_free(&first);
    return 0;
}
