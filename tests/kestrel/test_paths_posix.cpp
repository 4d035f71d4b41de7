// The Linux store's paths: where the store folder is under the XDG rules, names that
// are not UTF-8, and base folders that cannot be written.
#include <cstdlib>

#include "kestrel/kestrel.h"
#include "kestrel/kestrel_heap.h"
#include "kestrel/store_posix.h"
#include "reply_sink.h"
#include "sandbox.h"

using Replies = std::vector<std::string>;

class Paths : public SandboxTest {
  protected:
    std::string built(bool directory_only, std::initializer_list<const char*> components) {
        HeapPtr<char> path(kestrel_build_path(directory_only, components));
        return path ? std::string(path.get()) : "<null>";
    }
};

TEST_F(Paths, BuildsUnderTheDataFolder) {
    std::string folder = base.string() + "/Fernwood";
    EXPECT_EQ(built(false, {}), folder);
    EXPECT_EQ(built(true, {"kestrel-news"}), folder);
    EXPECT_EQ(built(false, {"p", "latest"}), folder + "/p/latest");
    EXPECT_EQ(built(true, {"p", "latest"}), folder + "/p");
    EXPECT_EQ(built(false, {"\xc3\xa9", "\xf0\x9f\x94\xa5"}),
              folder + "/\xc3\xa9/\xf0\x9f\x94\xa5");
    // Names Windows could not convert are refused here too: the store names the same
    // files on both.
    for (const char* bad : {"", "\xc3", "\xff", "\xc0\xaf" /* an overlong "/" */,
                            "\xed\xa0\x80" /* a surrogate */, "\xf4\x90\x80\x80" /* too large */})
        EXPECT_EQ(built(false, {"p", bad}), "<null>") << bad;
}

// XDG_DATA_HOME counts only when it is an absolute path; otherwise the store is in
// HOME's .local/share, and nothing is made relative to the working folder.
TEST_F(Paths, FallBackOnHomeWhenTheDataVariableIsUnsetEmptyOrRelative) {
    const fs::path home = root / "home";
    setenv("HOME", home.c_str(), 1);
    change_folder(root);
    const fs::path fallback = home / ".local" / "share" / "Fernwood";
    const char* values[] = {nullptr, "", "relative", "./dot", "~/tilde"};
    int n = 0;
    for (const char* value : values) {
        if (value)
            setenv("XDG_DATA_HOME", value, 1);
        else
            unsetenv("XDG_DATA_HOME");
        std::string sid = "sid-" + std::to_string(n++);
        EXPECT_EQ(run("kestrelV1 newSid " + sid), Replies{});
        EXPECT_EQ(read_bytes(fallback / "kestrel-system"), sid) << (value ? value : "unset");
        EXPECT_EQ(run("kestrelV1 init p"),
                  (Replies{"kestrelV1 initSid " + sid, "kestrelV1 initDone "}));
    }
    for (const char* made : {"relative", "dot", "~"}) EXPECT_FALSE(fs::exists(root / made)) << made;
    // Without an absolute HOME there is no store either.
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", "home", 1);
    EXPECT_EQ(run("kestrelV1 init p"), Replies{"kestrelV1 initDone "});
    EXPECT_EQ(run("kestrelV1 newSid other"), Replies{});
    EXPECT_EQ(read_bytes(fallback / "kestrel-system"), "sid-4");
}

// A base folder nobody may write into (not even root: /proc makes no folders) or one
// that is missing beneath it: reads find nothing, writes and swaps do nothing.
TEST_F(Paths, UnwritableOrMissingBaseFolderReadsAsMissing) {
    for (const char* folder : {"/proc/self", "/proc/self/missing/deeper"}) {
        setenv("XDG_DATA_HOME", folder, 1);
        EXPECT_EQ(run("kestrelV1 init p"), Replies{"kestrelV1 initDone "}) << folder;
        EXPECT_EQ(run("kestrelV1 getNews "), Replies{"kestrelV1 getNews "}) << folder;
        for (const char* text : {"kestrelV1 newSid s", "kestrelV1 syncNews - 00000001",
                                 "kestrelV1 syncLatest p 00000001 x", "kestrelV1 syncNewsForce x",
                                 "kestrelV1 syncLatestForce p x"})
            EXPECT_EQ(run(text), Replies{}) << folder << ": " << text;
        EXPECT_EQ(kestrel_make_directories(false, {"p"}), -1) << folder;
        EXPECT_FALSE(fs::exists(fs::path(folder) / "Fernwood")) << folder;
    }
}
