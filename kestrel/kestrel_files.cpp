// Whole-file reads, writes and compare-and-swap under exclusive whole-file locks.
//
// The files are opened in text mode with the C library's wide functions; the lock is
// taken on the file's Win32 handle, covers every byte the file can ever have, and is
// waited for without time-out. It is released before the file is closed.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <io.h>

#include "kestrel/kestrel.h"
#include "kestrel/kestrel_heap.h"

namespace {

// An open store file, locked or not; closing releases the lock first.
struct StoreFile {
    FILE* file = nullptr;
    bool locked = false;

    StoreFile(const wchar_t* path, const wchar_t* mode) : file(_wfopen(path, mode)) {}
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;
    ~StoreFile() {
        if (locked) unlock();
        if (file) fclose(file);
    }

    HANDLE handle() const { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

    bool lock() {
        OVERLAPPED at_start = {};
        locked = LockFileEx(handle(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at_start);
        return locked;
    }

    void unlock() {
        OVERLAPPED at_start = {};
        UnlockFileEx(handle(), 0, MAXDWORD, MAXDWORD, &at_start);
        locked = false;
    }

    // The whole content from the start, NUL-terminated; NULL when it cannot be read.
    // Text-mode reading may return fewer bytes than the file holds.
    char* read_all() {
        if (fseek(file, 0, SEEK_END) != 0) return nullptr;
        long size = ftell(file);
        if (size < 0) return nullptr;
        rewind(file);
        char* content = static_cast<char*>(malloc(size_t(size) + 1));
        if (!content) return nullptr;
        size_t got = fread(content, 1, size_t(size), file);
        content[got] = '\0';
        return content;
    }

    // Replaces the content. The file is open for appending, so after truncation the
    // text lands at the start.
    bool replace(const char* content) {
        rewind(file); // a stream that was read must be positioned before it is written
        if (_chsize(_fileno(file), 0) != 0) return false;
        return fputs(content, file) >= 0 && fflush(file) == 0;
    }
};

} // namespace

int kestrel_read_file(char** content, std::initializer_list<const char*> components) {
    *content = nullptr;
    HeapPtr<wchar_t> path(kestrel_build_path(false, components));
    if (!path) return 0; // a file that cannot be named does not exist
    StoreFile f(path.get(), L"r");
    if (!f.file) return errno == ENOENT ? 0 : -1;
    if (!f.lock()) return -1;
    *content = f.read_all();
    return *content ? 0 : -1;
}

int kestrel_write_file(const char* content, std::initializer_list<const char*> components) {
    if (kestrel_make_directories(true, components) != 0) return -1;
    HeapPtr<wchar_t> path(kestrel_build_path(false, components));
    if (!path) return 0;
    // Appending creates the file without emptying it: others may still read the old
    // content until this writer holds the lock.
    StoreFile f(path.get(), L"a");
    if (!f.file || !f.lock()) return -1;
    return f.replace(content) ? 0 : -1;
}

// Whether the payload holds its expectation ("-" or an 8-byte tag) and a separator.
static bool payload_complete(const char* payload) {
    size_t needed = payload[0] == '-' ? 2 : 9;
    return strnlen(payload, needed) == needed;
}

// Whether the file starts with the 8 bytes of the expected tag.
static bool tag_matches(FILE* file, const char* expected) {
    for (int i = 0; i < 8; ++i) {
        int c = fgetc(file);
        if (c == EOF || c != static_cast<unsigned char>(expected[i])) return false;
    }
    return true;
}

void kestrel_sync_file(kestrel_reply_fn reply, void* context, const char* product,
                       const char* file_name, const char* payload, const char* conflict_word) {
    if (!payload_complete(payload)) return;
    std::initializer_list<const char*> product_file = {product, file_name};
    std::initializer_list<const char*> store_file = {file_name};
    std::initializer_list<const char*> components = product ? product_file : store_file;
    if (kestrel_make_directories(true, components) != 0) return;
    HeapPtr<wchar_t> path(kestrel_build_path(false, components));
    if (!path) return;
    StoreFile f(path.get(), L"a+");
    if (!f.file || !f.lock()) return;

    if (fseek(f.file, 0, SEEK_END) != 0) return;
    long size = ftell(f.file);
    if (size < 0) return;
    rewind(f.file);

    bool swap;
    if (payload[0] == '-')
        swap = size == 0;
    else
        swap = size == 0 || tag_matches(f.file, payload); // an empty file has no tag
    if (swap) {
        f.replace(payload + (payload[0] == '-' ? 2 : 9));
        return;
    }

    HeapPtr<char> current(f.read_all());
    f.unlock();
    if (!current) return;
    HeapPtr<char> text(join_texts({"kestrelV1 ", conflict_word, " ", current.get()}));
    if (text) reply(context, text.get());
}
