// The store on Linux: paths under the user's data folder, files opened with open(2)
// and locked with flock(2). A flock lock belongs to the open file, not to the
// process, so two editors in one host exclude each other just as two hosts do
// (a classic fcntl record lock would let them both in). Files hold exactly the bytes
// written; there is no line feed translation.
#include "kestrel/store_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kestrel/kestrel.h"
#include "kestrel/kestrel_heap.h"
#include "kestrel/store_file.h"

namespace {

constexpr char kVendorFolder[] = "/Fernwood";
constexpr char kDefaultDataFolder[] = "/.local/share"; // below HOME
constexpr mode_t kFolderMode = 0700;                   // as the data folder itself
constexpr mode_t kFileMode = 0666;                     // less the umask

// Whether a variable holds an absolute path; relative ones are ignored.
const char* absolute(const char* value) {
    return value && value[0] == '/' ? value : nullptr;
}

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool is_utf8(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        unsigned code = *p;
        int more;
        unsigned least;
        if (code < 0x80) {
            ++p;
            continue;
        } else if ((code & 0xE0) == 0xC0) {
            more = 1, least = 0x80, code &= 0x1F;
        } else if ((code & 0xF0) == 0xE0) {
            more = 2, least = 0x800, code &= 0x0F;
        } else if ((code & 0xF8) == 0xF0) {
            more = 3, least = 0x10000, code &= 0x07;
        } else {
            return false;
        }
        for (int i = 1; i <= more; ++i) { // stops at the terminating NUL
            if ((p[i] & 0xC0) != 0x80) return false;
            code = code << 6 | (p[i] & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        p += 1 + more;
    }
    return true;
}

// Retries a call that a signal interrupted.
template <class Call>
auto retrying(Call call) {
    decltype(call()) r;
    do r = call();
    while (r == -1 && errno == EINTR);
    return r;
}

} // namespace

char* kestrel_build_path(bool directory_only, std::initializer_list<const char*> components) {
    const char* data = absolute(getenv("XDG_DATA_HOME"));
    const char* home = data ? nullptr : absolute(getenv("HOME"));
    if (!data && !home) return nullptr;
    const char* below = data ? "" : kDefaultDataFolder;

    size_t total = strlen(data ? data : home) + strlen(below) + strlen(kVendorFolder);
    size_t used = components.size() - (directory_only && components.size() > 0 ? 1 : 0);
    size_t index = 0;
    for (const char* component : components) {
        if (!component || !component[0] || !is_utf8(component)) return nullptr;
        if (index++ < used) total += 1 + strlen(component);
    }

    char* path = static_cast<char*>(malloc(total + 1));
    if (!path) return nullptr;
    char* end = stpcpy(stpcpy(stpcpy(path, data ? data : home), below), kVendorFolder);
    index = 0;
    for (const char* component : components) {
        if (index++ == used) break;
        *end++ = '/';
        end = stpcpy(end, component);
    }
    return path;
}

int kestrel_make_directories(bool directory_only, std::initializer_list<const char*> components) {
    HeapPtr<char> path(kestrel_build_path(directory_only, components));
    if (!path) return -1;
    char* p = path.get();
    // One level ends at each run of slashes and at the end; the root needs none.
    for (size_t i = 1;; ++i) {
        bool level_ends = (p[i] == '/' || p[i] == '\0') && p[i - 1] != '/';
        if (level_ends) {
            char kept = p[i];
            p[i] = '\0';
            // Some file systems refuse before they look: an existing folder is fine.
            struct stat s;
            bool ok = mkdir(p, kFolderMode) == 0 || errno == EEXIST ||
                      (stat(p, &s) == 0 && S_ISDIR(s.st_mode));
            p[i] = kept;
            if (!ok) return -1;
        }
        if (p[i] == '\0') return 0;
    }
}

// --- Files ---------------------------------------------------------------------------

struct StoreFile {
    int fd;
};

void store_file_close(StoreFile* f) {
    flock(f->fd, LOCK_UN); // before closing, as the lock is not ours once it is closed
    close(f->fd);
    delete f;
}

StoreFile* store_file_open(StoreAccess access, std::initializer_list<const char*> components,
                           bool* missing) {
    HeapPtr<char> path(kestrel_build_path(false, components));
    *missing = !path; // a file that cannot be named does not exist
    if (!path) return nullptr;
    // Not inherited by programs the host starts: they would keep the lock alive.
    int flags = O_CLOEXEC | (access == StoreAccess::read      ? O_RDONLY
                             : access == StoreAccess::replace ? O_WRONLY | O_CREAT
                                                              : O_RDWR | O_CREAT);
    int fd = retrying([&] { return open(path.get(), flags, kFileMode); });
    // A missing file, or a missing folder on its way (or a file in place of one).
    *missing = fd < 0 && (errno == ENOENT || errno == ENOTDIR);
    if (fd < 0) return nullptr;
    StoreFile* f = new (std::nothrow) StoreFile{fd};
    if (!f) close(fd);
    return f;
}

bool store_file_lock(StoreFile* f) {
    return retrying([&] { return flock(f->fd, LOCK_EX); }) == 0;
}

long store_file_size(StoreFile* f) {
    struct stat s;
    return fstat(f->fd, &s) == 0 ? long(s.st_size) : -1;
}

char* store_file_read_all(StoreFile* f) {
    long size = store_file_size(f);
    if (size < 0) return nullptr;
    HeapPtr<char> content(static_cast<char*>(malloc(size_t(size) + 1)));
    if (!content) return nullptr;
    size_t got = 0;
    while (got < size_t(size)) {
        ssize_t n = retrying(
            [&] { return pread(f->fd, content.get() + got, size_t(size) - got, off_t(got)); });
        if (n < 0) return nullptr;
        if (n == 0) break; // the lock keeps the size; nothing more to read
        got += size_t(n);
    }
    content.get()[got] = '\0';
    return content.release();
}

bool store_file_replace(StoreFile* f, const char* content) {
    if (retrying([&] { return ftruncate(f->fd, 0); }) != 0) return false;
    size_t length = strlen(content), put = 0;
    while (put < length) {
        ssize_t n =
            retrying([&] { return pwrite(f->fd, content + put, length - put, off_t(put)); });
        if (n < 0) return false;
        put += size_t(n);
    }
    return true;
}
