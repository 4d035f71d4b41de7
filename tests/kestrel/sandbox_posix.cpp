#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <optional>

#include "sandbox.h"

const char kStoreVariable[] = "XDG_DATA_HOME";
const char kStoredLineFeed[] = "\n";

fs::path executable_folder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

void set_store_variable(const char* value) {
    if (value) {
        setenv("XDG_DATA_HOME", value, 1);
    } else {
        unsetenv("XDG_DATA_HOME");
        unsetenv("HOME");
    }
}

std::function<void()> keep_store_variables() {
    auto kept = [](const char* name) -> std::optional<std::string> {
        const char* value = getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    return [data = kept("XDG_DATA_HOME"), home = kept("HOME")] {
        auto put = [](const char* name, const std::optional<std::string>& value) {
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        };
        put("XDG_DATA_HOME", data);
        put("HOME", home);
    };
}

void change_folder(const fs::path& folder) {
    if (chdir(folder.c_str()) != 0) ADD_FAILURE() << "cannot enter " << folder;
}

// The store's kind of lock: flock, which belongs to this open file.
LockHolder::LockHolder(const fs::path& file) {
    int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
    file_ = reinterpret_cast<void*>(intptr_t(fd));
    locked_ = fd >= 0 && flock(fd, LOCK_EX) == 0;
}

static int fd_of(void* file) {
    return int(reinterpret_cast<intptr_t>(file));
}

LockHolder::~LockHolder() {
    release();
    if (fd_of(file_) >= 0) close(fd_of(file_));
}

void LockHolder::release() {
    if (locked_) flock(fd_of(file_), LOCK_UN);
    locked_ = false;
}

bool LockHolder::replace(const std::string& bytes) {
    int fd = fd_of(file_);
    return pwrite(fd, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size()) &&
           ftruncate(fd, off_t(bytes.size())) == 0;
}

std::string LockHolder::content() {
    std::string bytes(1 << 16, '\0');
    ssize_t got = pread(fd_of(file_), bytes.data(), bytes.size(), 0);
    if (got < 0) return "<error>";
    bytes.resize(size_t(got));
    return bytes;
}
