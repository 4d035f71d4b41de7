// Whole-file reads, writes and compare-and-swap, each under the file's exclusive lock.
// The platform files say where a file is and how it is opened and locked.
#include <cstring>

#include "kestrel/kestrel.h"
#include "kestrel/kestrel_heap.h"
#include "kestrel/store_file.h"

// A record's version tag: its first bytes, which a swap compares.
constexpr size_t kTagLength = 8;

// Opens a store file and waits for its lock. 0 with *file locked; for reading, 0 with
// *file null when the file is missing or cannot be named; -1 on any other failure.
static int open_locked(StoreAccess access, std::initializer_list<const char*> components,
                       StoreFilePtr* file) {
    bool missing = false;
    StoreFilePtr opened(store_file_open(access, components, &missing));
    if (!opened) return access == StoreAccess::read && missing ? 0 : -1;
    if (!store_file_lock(opened.get())) return -1;
    *file = std::move(opened);
    return 0;
}

int kestrel_read_file(char** content, std::initializer_list<const char*> components) {
    *content = nullptr;
    StoreFilePtr file;
    if (open_locked(StoreAccess::read, components, &file) != 0) return -1;
    if (!file) return 0; // missing
    *content = store_file_read_all(file.get());
    return *content ? 0 : -1;
}

int kestrel_write_file(const char* content, std::initializer_list<const char*> components) {
    if (kestrel_make_directories(true, components) != 0) return -1;
    // The file is opened without being emptied: others may still read the old
    // content until this writer holds the lock.
    StoreFilePtr file;
    if (open_locked(StoreAccess::replace, components, &file) != 0) return -1;
    return store_file_replace(file.get(), content) ? 0 : -1;
}

int kestrel_sync_file(char** current, const char* payload,
                      std::initializer_list<const char*> components) {
    *current = nullptr;
    // "-" or a tag, then one separator that is skipped without being examined.
    bool expects_empty = payload[0] == '-';
    size_t content_start = expects_empty ? 2 : kTagLength + 1;
    if (strnlen(payload, content_start) != content_start) return -1;
    const char* content = payload + content_start;

    if (kestrel_make_directories(true, components) != 0) return -1;
    StoreFilePtr file;
    if (open_locked(StoreAccess::swap, components, &file) != 0) return -1;
    long size = store_file_size(file.get());
    if (size < 0) return -1;
    // An empty file is what "-" expects, and has no tag to compare.
    if (size == 0) return store_file_replace(file.get(), content) ? 0 : -1;

    HeapPtr<char> now(store_file_read_all(file.get()));
    if (!now) return -1;
    // The tag is compared with the content as read back (on Windows, after the line
    // feed translation), byte for byte; a shorter content is a conflict.
    bool tag_matches = !expects_empty && strnlen(now.get(), kTagLength) == kTagLength &&
                       memcmp(now.get(), payload, kTagLength) == 0;
    if (tag_matches) return store_file_replace(file.get(), content) ? 0 : -1;
    *current = now.release();
    return 1;
}
