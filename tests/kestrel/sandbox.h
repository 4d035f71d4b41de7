// Test folders for the news store: each test case gets a fresh folder in the build
// tree, and the variable that names the store's base folder (inside this process, so
// children inherit it) points into it.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

// Every file and folder below a folder: relative UTF-8 path -> content ("<folder>" for
// folders). Two snapshots are equal when nothing was created, removed or changed.
using Tree = std::map<std::string, std::string>;
Tree snapshot(const fs::path& folder);

std::string read_bytes(const fs::path& file);
void write_bytes(const fs::path& file, const std::string& bytes); // makes the folders
fs::path utf8_path(const std::string& utf8);

// A text as the store keeps it on disk (its line feeds as kStoredLineFeed).
std::string stored(const std::string& text);

// --- Per platform ------------------------------------------------------------------

// The folder holding this test executable.
fs::path executable_folder();

// The variable that names the folder the store folder is in.
extern const char kStoreVariable[];

// A line feed as the store keeps it on disk.
extern const char kStoredLineFeed[];

// Sets kStoreVariable to the value. Null leaves no store folder at all: the variable
// and any the store falls back on are unset.
void set_store_variable(const char* value);

// Saves the variables the store reads; the function returned puts them back.
std::function<void()> keep_store_variables();

// Changes the working folder.
void change_folder(const fs::path& folder);

// Another holder of a store file's whole-file lock, as a second editor of this process
// would hold it: its own open file and a lock of the kind the store takes.
class LockHolder {
  public:
    explicit LockHolder(const fs::path& file); // waits for the lock
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool locked() const { return locked_; }
    void release();
    // Replaces the file's bytes through the holder's own open file.
    bool replace(const std::string& bytes);
    // The file's bytes, read through the holder's own open file.
    std::string content();

  private:
    void* file_; // per platform
    bool locked_ = false;
};

// root:  <executable folder>/kestrel-sandbox/<suite>.<case>, emptied at SetUp
// base:  root/base (the value of kStoreVariable during the test)
// store: base/Fernwood
class SandboxTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    fs::path root, base, store;

  private:
    std::function<void()> restore_;
};
