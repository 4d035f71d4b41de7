// Test folders for the news store: each test case gets a fresh folder in the build
// tree, and APPDATA (inside this process, so children inherit it) points into it.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

// Every file and folder below a folder: relative path -> content ("<folder>" for
// folders). Two snapshots are equal when nothing was created, removed or changed.
using Tree = std::map<std::wstring, std::string>;
Tree snapshot(const fs::path& folder);

std::string read_bytes(const fs::path& file);
void write_bytes(const fs::path& file, const std::string& bytes); // makes the folders
std::wstring widen(const std::string& utf8);

// The folder holding this test executable.
fs::path executable_folder();

// root:    <executable folder>\kestrel-sandbox\<suite>.<case>, emptied at SetUp
// appdata: root\roaming (the value of APPDATA during the test)
// store:   appdata\Fernwood
class SandboxTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    fs::path root, appdata, store;

  private:
    std::wstring saved_appdata_;
    bool had_appdata_ = false;
};
