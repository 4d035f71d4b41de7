// The file operations under the commands: paths, folders and locking.
#include <windows.h>

#include <cstdlib>
#include <functional>

#include "kestrel/kestrel_heap.h"
#include "recording_editor.h"
#include "sandbox.h"

// --- Paths ------------------------------------------------------------------------

class Paths : public SandboxTest {
  protected:
    std::wstring built(bool directory_only, std::initializer_list<const char*> components) {
        HeapPtr<wchar_t> path(kestrel_build_path(directory_only, components));
        return path ? std::wstring(path.get()) : L"<null>";
    }
};

TEST_F(Paths, BuildsUnderTheVendorFolder) {
    std::wstring base = appdata.wstring() + L"\\Fernwood";
    EXPECT_EQ(built(false, {}), base);
    EXPECT_EQ(built(true, {"kestrel-news"}), base);
    EXPECT_EQ(built(false, {"kestrel-news"}), base + L"\\kestrel-news");
    EXPECT_EQ(built(false, {"p", "latest"}), base + L"\\p\\latest");
    EXPECT_EQ(built(true, {"p", "latest"}), base + L"\\p");
    // UTF-8 becomes UTF-16, including characters outside the basic plane.
    EXPECT_EQ(built(false, {"\xc3\xa9", "\xf0\x9f\x94\xa5"}), base + L"\\\u00e9\\\U0001F525");
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
    std::wstring plain = appdata.wstring();
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

TEST_F(Folders, FileInTheWayFailsAndStaysIntact) {
    write_bytes(store / "p", "a file");
    EXPECT_EQ(kestrel_make_directories(false, {"p", "latest"}), -1);
    EXPECT_EQ(kestrel_write_file("x", {"p", "latest"}), -1);
    EXPECT_EQ(run("kestrelV1 syncLatest p - x"), std::vector<std::string>{});
    EXPECT_EQ(read_bytes(store / "p"), "a file");
}

// --- Locks ------------------------------------------------------------------------

// Runs work on a thread of its own. A wait that runs out ends the whole test program
// with a failure: the work may still use the caller's frame, which cannot be left.
class Worker {
  public:
    explicit Worker(std::function<void()> work) : work_(std::move(work)) {
        thread_ = CreateThread(nullptr, 0, &Worker::main, this, 0, nullptr);
    }
    ~Worker() {
        finished(60000);
        CloseHandle(thread_);
    }
    bool finished(DWORD limit_ms) {
        DWORD r = WaitForSingleObject(thread_, limit_ms);
        if (r == WAIT_OBJECT_0) return true;
        if (limit_ms >= 60000) {
            fprintf(stderr, "FAILED: a worker did not finish within %lu ms\n", limit_ms);
            fflush(stderr);
            _exit(1);
        }
        return false;
    }

  private:
    static DWORD WINAPI main(void* self) {
        static_cast<Worker*>(self)->work_();
        return 0;
    }
    std::function<void()> work_;
    HANDLE thread_;
};

// Another holder of a store file's whole-file lock, as a second editor would hold it.
class LockHolder {
  public:
    explicit LockHolder(const fs::path& file) {
        handle_ =
            CreateFileW(file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        OVERLAPPED at_start = {};
        locked_ = handle_ != INVALID_HANDLE_VALUE &&
                  LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at_start);
    }
    ~LockHolder() {
        release();
        CloseHandle(handle_);
    }
    bool locked() const { return locked_; }
    void release() {
        OVERLAPPED at_start = {};
        if (locked_) UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &at_start);
        locked_ = false;
    }
    // Replaces the file's bytes through the lock holder's own handle.
    bool replace(const std::string& bytes) {
        OVERLAPPED at_start = {};
        DWORD put = 0;
        return WriteFile(handle_, bytes.data(), DWORD(bytes.size()), &put, &at_start) &&
               SetFilePointer(handle_, LONG(bytes.size()), nullptr, FILE_BEGIN) ==
                   DWORD(bytes.size()) &&
               SetEndOfFile(handle_);
    }
    // The file's bytes, read through the lock holder's own handle.
    std::string content() {
        std::string bytes(1 << 16, '\0');
        OVERLAPPED at_start = {};
        DWORD got = 0;
        if (!ReadFile(handle_, bytes.data(), DWORD(bytes.size()), &got, &at_start))
            return "<error>";
        bytes.resize(got);
        return bytes;
    }

  private:
    HANDLE handle_;
    bool locked_ = false;
};

// How long a worker is given to show that it does NOT finish while the lock is held.
// Not a speed goal: a waiting worker passes however slow the machine is.
constexpr DWORD kWhileLocked = 300;

class Locks : public SandboxTest {};

TEST_F(Locks, ReadWaitsForTheLock) {
    write_bytes(store / "kestrel-news", "00000001 news");
    LockHolder other(store / "kestrel-news");
    ASSERT_TRUE(other.locked());
    char* content = nullptr;
    int status = 1;
    Worker reader([&] { status = kestrel_read_file(&content, {"kestrel-news"}); });
    EXPECT_FALSE(reader.finished(kWhileLocked));
    other.release();
    ASSERT_TRUE(reader.finished(60000));
    HeapPtr<char> owned(content);
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(content, "00000001 news");
}

TEST_F(Locks, WriteLeavesTheOldContentUntilItHoldsTheLock) {
    const struct {
        const char* command;
        fs::path file;
    } cases[] = {
        {"kestrelV1 newSid 00000002 new", store / "kestrel-system"},
        {"kestrelV1 syncNewsForce 00000002 new", store / "kestrel-news"},
        {"kestrelV1 syncLatestForce p 00000002 new", store / "p" / "latest"},
    };
    for (const auto& c : cases) {
        write_bytes(c.file, "00000001 old record");
        LockHolder other(c.file);
        ASSERT_TRUE(other.locked());
        Worker writer([&] { run(c.command); });
        EXPECT_FALSE(writer.finished(kWhileLocked)) << c.command;
        EXPECT_EQ(other.content(), "00000001 old record") << c.command;
        other.release();
        ASSERT_TRUE(writer.finished(60000));
        EXPECT_EQ(read_bytes(c.file), "00000002 new") << c.command;
    }
}

TEST_F(Locks, SyncComparesOnlyOnceItHoldsTheLock) {
    write_bytes(store / "kestrel-news", "00000001 old");
    LockHolder other(store / "kestrel-news");
    ASSERT_TRUE(other.locked());
    std::vector<std::string> replies;
    Worker syncer([&] { replies = run("kestrelV1 syncNews 00000002 00000003 mine"); });
    EXPECT_FALSE(syncer.finished(kWhileLocked));
    // The holder moves the record on before it lets go; the waiting swap expected
    // exactly that record.
    ASSERT_TRUE(other.replace("00000002 moved on"));
    other.release();
    ASSERT_TRUE(syncer.finished(60000));
    EXPECT_EQ(replies, std::vector<std::string>{});
    EXPECT_EQ(read_bytes(store / "kestrel-news"), "00000003 mine");
}
