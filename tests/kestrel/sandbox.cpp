#include "sandbox.h"

#include <fstream>
#include <iterator>

Tree snapshot(const fs::path& folder) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::u8string name = entry.path().lexically_relative(folder).generic_u8string();
        tree[std::string(name.begin(), name.end())] =
            entry.is_directory() ? "<folder>" : read_bytes(entry.path());
    }
    return tree;
}

std::string read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

fs::path utf8_path(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string stored(const std::string& text) {
    std::string bytes;
    for (char c : text) bytes += c == '\n' ? std::string(kStoredLineFeed) : std::string(1, c);
    return bytes;
}

void SandboxTest::SetUp() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/') c = '-'; // parameterised suites
    root = executable_folder() / "kestrel-sandbox" / name;
    base = root / "base";
    store = base / "Fernwood";
    fs::remove_all(root);
    fs::create_directories(base);
    restore_ = keep_store_variables();
    std::u8string named = base.u8string();
    set_store_variable(std::string(named.begin(), named.end()).c_str());
}

void SandboxTest::TearDown() {
    restore_();
    change_folder(executable_folder());
}
