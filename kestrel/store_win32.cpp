// The store on Windows: paths "%APPDATA%\Fernwood\component\..." in UTF-16, the
// folders along them, and files opened in text mode with the C library's wide
// functions and locked with Win32 calls on their handles.
#include "kestrel/store_win32.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <io.h>
#include <new>

#include "kestrel/kestrel.h"
#include "kestrel/kestrel_heap.h"
#include "kestrel/store_file.h"

static const wchar_t kVendorFolder[] = L"\\Fernwood";

// UTF-16 length of a UTF-8 component; 0 when it is empty or not valid UTF-8.
static int wide_length(const char* utf8) {
    if (!utf8) return 0;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    return n > 1 ? n - 1 : 0;
}

wchar_t* kestrel_build_path(bool directory_only, std::initializer_list<const char*> components) {
    wchar_t probe[1];
    DWORD needed = GetEnvironmentVariableW(L"APPDATA", probe, 1); // size with its NUL
    if (needed == 0) return nullptr;                              // unset or empty: no store folder
    HeapPtr<wchar_t> appdata(static_cast<wchar_t*>(malloc(needed * sizeof(wchar_t))));
    if (!appdata) return nullptr;
    DWORD folder_length = GetEnvironmentVariableW(L"APPDATA", appdata.get(), needed);
    if (folder_length == 0 || folder_length >= needed) return nullptr;

    size_t total = folder_length + wcslen(kVendorFolder);
    size_t used = components.size() - (directory_only && components.size() > 0 ? 1 : 0);
    size_t index = 0;
    for (const char* component : components) {
        int n = wide_length(component);
        if (n == 0) return nullptr;
        if (index++ < used) total += 1 + n;
    }

    wchar_t* path = static_cast<wchar_t*>(malloc((total + 1) * sizeof(wchar_t)));
    if (!path) return nullptr;
    wchar_t* end = path;
    wmemcpy(end, appdata.get(), folder_length);
    end += folder_length;
    wmemcpy(end, kVendorFolder, wcslen(kVendorFolder));
    end += wcslen(kVendorFolder);
    index = 0;
    for (const char* component : components) {
        if (index++ == used) break;
        *end++ = L'\\';
        int n = wide_length(component);
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, component, -1, end, n + 1);
        end += n;
    }
    *end = L'\0';
    return path;
}

static bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

static bool is_drive(const wchar_t* p) {
    wchar_t lower = p[0] | 0x20;
    return lower >= L'a' && lower <= L'z' && p[1] == L':';
}

// End of the component that starts at i.
static size_t component_end(const wchar_t* path, size_t i) {
    while (path[i] && !is_separator(path[i])) ++i;
    return i;
}

// End of "server\share" starting at i.
static size_t server_and_share_end(const wchar_t* path, size_t i) {
    i = component_end(path, i);
    if (is_separator(path[i])) i = component_end(path, i + 1);
    return i;
}

size_t kestrel_path_root_length(const wchar_t* path) {
    if (is_drive(path)) return 2;
    if (!is_separator(path[0]) || !is_separator(path[1])) return 0;
    if ((path[2] == L'?' || path[2] == L'.') && is_separator(path[3])) {
        const wchar_t* rest = path + 4;
        if (is_drive(rest)) return 6;
        if (_wcsnicmp(rest, L"UNC", 3) == 0 && is_separator(rest[3]))
            return server_and_share_end(path, 8);
        return component_end(path, 4); // a volume or device name is a root too
    }
    return server_and_share_end(path, 2);
}

// Creates the folder named by path[0, end); an existing one is fine.
static bool create_level(wchar_t* path, size_t end) {
    wchar_t kept = path[end];
    path[end] = L'\0';
    bool ok = CreateDirectoryW(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    path[end] = kept;
    return ok;
}

int kestrel_make_directories(bool directory_only, std::initializer_list<const char*> components) {
    HeapPtr<wchar_t> path(kestrel_build_path(directory_only, components));
    if (!path) return -1;
    wchar_t* p = path.get();
    size_t start = kestrel_path_root_length(p);
    while (is_separator(p[start])) ++start;
    size_t i = start;
    for (; p[i]; ++i) {
        // One level ends at each run of separators.
        if (is_separator(p[i]) && !is_separator(p[i - 1]) && !create_level(p, i)) return -1;
    }
    if (i > start && !is_separator(p[i - 1]) && !create_level(p, i)) return -1;
    return 0;
}

// --- Files ---------------------------------------------------------------------------
struct StoreFile {
    FILE* file;
    bool locked = false;

    HANDLE handle() const { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }
};

void store_file_close(StoreFile* f) {
    if (f->locked) {
        OVERLAPPED at_start = {};
        UnlockFileEx(f->handle(), 0, MAXDWORD, MAXDWORD, &at_start);
    }
    fclose(f->file);
    delete f;
}

StoreFile* store_file_open(StoreAccess access, std::initializer_list<const char*> components,
                           bool* missing) {
    HeapPtr<wchar_t> path(kestrel_build_path(false, components));
    *missing = !path; // a file that cannot be named does not exist
    if (!path) return nullptr;
    // Appending creates the file without emptying it.
    const wchar_t* mode = access == StoreAccess::read      ? L"r"
                          : access == StoreAccess::replace ? L"a"
                                                           : L"a+";
    FILE* opened = _wfopen(path.get(), mode);
    *missing = !opened && errno == ENOENT;
    if (!opened) return nullptr;
    StoreFile* f = new (std::nothrow) StoreFile{opened};
    if (!f) fclose(opened);
    return f;
}

// The lock is released before the file is closed.
bool store_file_lock(StoreFile* f) {
    OVERLAPPED at_start = {};
    f->locked = LockFileEx(f->handle(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at_start);
    return f->locked;
}

long store_file_size(StoreFile* f) {
    if (fseek(f->file, 0, SEEK_END) != 0) return -1;
    return ftell(f->file);
}

// Text-mode reading may return fewer bytes than the file holds.
char* store_file_read_all(StoreFile* f) {
    long size = store_file_size(f);
    if (size < 0) return nullptr;
    rewind(f->file);
    char* content = static_cast<char*>(malloc(size_t(size) + 1));
    if (!content) return nullptr;
    size_t got = fread(content, 1, size_t(size), f->file);
    content[got] = '\0';
    return content;
}

// The file is open for appending, so after truncation the text lands at the start.
bool store_file_replace(StoreFile* f, const char* content) {
    rewind(f->file); // a stream that was read must be positioned before it is written
    if (_chsize(_fileno(f->file), 0) != 0) return false;
    return fputs(content, f->file) >= 0 && fflush(f->file) == 0;
}
