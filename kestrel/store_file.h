// What each platform supplies to the store's file operations: where a file of the
// store is, and how it is opened, locked, read and replaced (store_win32.cpp,
// store_posix.cpp). The rules of reading, writing and swapping are kestrel_files.cpp's.
#pragma once

#include <initializer_list>
#include <memory>

// An open store file; closing releases its lock, if held, then the file.
struct StoreFile;
void store_file_close(StoreFile* file);

struct CloseStoreFile {
    void operator()(StoreFile* file) const { store_file_close(file); }
};
using StoreFilePtr = std::unique_ptr<StoreFile, CloseStoreFile>;

// Files opened to be written are created when missing; their content stays until
// it is replaced.
enum class StoreAccess {
    read,    // an existing file, read only
    replace, // written only
    swap,    // read, then perhaps replaced
};

// Opens the file named by the components under the store folder. Null when it
// cannot, with *missing set when the cause is that the file or a folder on its way
// does not exist.
StoreFile* store_file_open(StoreAccess access, std::initializer_list<const char*> components,
                           bool* missing);

// Takes the exclusive lock on every byte the file can ever have, waiting for it
// without time-out. False on failure.
bool store_file_lock(StoreFile* file);

// The bytes the file holds, or -1 when they cannot be told.
long store_file_size(StoreFile* file);

// The whole content from the start as read back, NUL-terminated, on the heap; null
// when it cannot be read.
char* store_file_read_all(StoreFile* file);

// Replaces the whole content. False on failure.
bool store_file_replace(StoreFile* file, const char* content);
