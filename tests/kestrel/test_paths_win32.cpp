// The Windows store's paths: UTF-16 under APPDATA, every form of root, and the
// folders made along them.
#include <windows.h>

#include "kestrel/kestrel.h"
#include "kestrel/kestrel_heap.h"
#include "kestrel/store_win32.h"
#include "sandbox.h"

class Paths : public SandboxTest {
  protected:
    std::wstring built(bool directory_only, std::initializer_list<const char*> components) {
        HeapPtr<wchar_t> path(kestrel_build_path(directory_only, components));
        return path ? std::wstring(path.get()) : L"<null>";
    }
};

TEST_F(Paths, BuildsUnderTheVendorFolder) {
    std::wstring folder = base.wstring() + L"\\Fernwood";
    EXPECT_EQ(built(false, {}), folder);
    EXPECT_EQ(built(true, {"kestrel-news"}), folder);
    EXPECT_EQ(built(false, {"kestrel-news"}), folder + L"\\kestrel-news");
    EXPECT_EQ(built(false, {"p", "latest"}), folder + L"\\p\\latest");
    EXPECT_EQ(built(true, {"p", "latest"}), folder + L"\\p");
    // UTF-8 becomes UTF-16, including characters outside the basic plane.
    EXPECT_EQ(built(false, {"\xc3\xa9", "\xf0\x9f\x94\xa5"}), folder + L"\\\u00e9\\\U0001F525");
    // A component left out of the directory-only form must still be a name.
    EXPECT_EQ(built(true, {"p", ""}), L"<null>");
    EXPECT_EQ(built(true, {"p", "\xc3"}), L"<null>");
}

TEST(PathRoots, AreRecognisedInEveryForm) {
    struct Case {
        const wchar_t* path;
        const wchar_t* root;
    } cases[] = {
        {L"C:\\Users\\x", L"C:"},
        {L"z:/x", L"z:"},
        {L"\\\\server\\share\\x", L"\\\\server\\share"},
        {L"//server/share/x", L"//server/share"},
        {L"\\\\server", L"\\\\server"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:"},
        {L"\\\\.\\D:\\x", L"\\\\.\\D:"},
        {L"\\\\?\\UNC\\server\\share\\x", L"\\\\?\\UNC\\server\\share"},
        {L"\\\\?\\unc\\server\\share\\x", L"\\\\?\\unc\\server\\share"},
        {L"\\\\.\\UNC\\server\\share", L"\\\\.\\UNC\\server\\share"},
        {L"\\\\?\\Volume{0-1}\\x", L"\\\\?\\Volume{0-1}"},
        {L"\\\\?\\UNCLE\\x", L"\\\\?\\UNCLE"},
        {L"\\rooted\\x", L""},
        {L"relative\\x", L""},
        {L"1:\\x", L""},
        {L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::wstring(c.path, kestrel_path_root_length(c.path)), c.root)
            << fs::path(c.path).string();
}

class Folders : public SandboxTest {};

TEST_F(Folders, AreMadeUnderEveryRootForm) {
    std::wstring plain = base.wstring();
    std::wstring doubled = plain;
    for (size_t i = doubled.find(L'\\', 3); i != std::wstring::npos; i = doubled.find(L'\\', i + 2))
        doubled.insert(i, L"\\");
    std::wstring forward = plain;
    for (wchar_t& c : forward)
        if (c == L'\\') c = L'/';
    const std::wstring forms[] = {plain,   L"\\\\?\\" + plain, L"\\\\.\\" + plain, doubled,
                                  forward, plain + L"\\\\"};
    int n = 0;
    for (const std::wstring& form : forms) {
        SetEnvironmentVariableW(L"APPDATA", form.c_str());
        std::string leaf = "level" + std::to_string(n++);
        EXPECT_EQ(kestrel_make_directories(false, {"a", leaf.c_str()}), 0)
            << fs::path(form).string();
        EXPECT_TRUE(fs::is_directory(store / "a" / leaf)) << fs::path(form).string();
        EXPECT_EQ(kestrel_make_directories(true, {"b", leaf.c_str()}), 0);
        EXPECT_TRUE(fs::is_directory(store / "b"));
        EXPECT_FALSE(fs::exists(store / "b" / leaf));
    }
}
