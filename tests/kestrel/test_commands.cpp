// The page's commands through kestrel_handle_message, against real files in a test
// store folder: every reply text, what lands on disk, and the refusals. The same
// cases run against the Windows and the Linux store.
#include "reply_sink.h"
#include "sandbox.h"

using Replies = std::vector<std::string>;

class Commands : public SandboxTest {};

TEST_F(Commands, InitOnEmptyStoreOnlySaysDoneAndCreatesNothing) {
    EXPECT_EQ(run("kestrelV1 init emberpress"), Replies{"kestrelV1 initDone "});
    EXPECT_FALSE(fs::exists(store));
}

TEST_F(Commands, InitRepliesForTheFilesThatExistInOrder) {
    EXPECT_EQ(run("kestrelV1 newSid sid-1"), Replies{});
    EXPECT_EQ(run("kestrelV1 init emberpress"),
              (Replies{"kestrelV1 initSid sid-1", "kestrelV1 initDone "}));

    EXPECT_EQ(run("kestrelV1 syncNewsForce 00000001 news"), Replies{});
    EXPECT_EQ(run("kestrelV1 syncLatestForce emberpress 00000007 latest"), Replies{});
    EXPECT_EQ(run("kestrelV1 init emberpress"),
              (Replies{"kestrelV1 initSid sid-1", "kestrelV1 initNews 00000001 news",
                       "kestrelV1 initLatest 00000007 latest", "kestrelV1 initDone "}));

    // Latest records are per product.
    EXPECT_EQ(run("kestrelV1 init other"),
              (Replies{"kestrelV1 initSid sid-1", "kestrelV1 initNews 00000001 news",
                       "kestrelV1 initDone "}));
    EXPECT_EQ(read_bytes(store / "emberpress" / "latest"), "00000007 latest");
}

TEST_F(Commands, GetNewsRepliesWithTheNewsAndIgnoresItsArgument) {
    EXPECT_EQ(run("kestrelV1 getNews "), Replies{"kestrelV1 getNews "});
    write_bytes(store / "kestrel-news", ""); // exists, so init reports it
    EXPECT_EQ(run("kestrelV1 init p"), (Replies{"kestrelV1 initNews ", "kestrelV1 initDone "}));
    write_bytes(store / "kestrel-news", "00000003 hello");
    EXPECT_EQ(run("kestrelV1 getNews anything"), Replies{"kestrelV1 getNews 00000003 hello"});
}

TEST_F(Commands, PlainWritesReplaceTheWholeFile) {
    run("kestrelV1 newSid a-long-first-identifier");
    run("kestrelV1 newSid short");
    EXPECT_EQ(read_bytes(store / "kestrel-system"), "short");

    run("kestrelV1 syncNewsForce 00000001 a long first record");
    run("kestrelV1 syncNewsForce 00000002 b");
    EXPECT_EQ(read_bytes(store / "kestrel-news"), "00000002 b");

    run("kestrelV1 syncLatestForce p 00000001 a long first record");
    run("kestrelV1 syncLatestForce p 00000002 b");
    EXPECT_EQ(read_bytes(store / "p" / "latest"), "00000002 b");

    // The content is everything after the product's space, spaces included.
    run("kestrelV1 syncLatestForce p  two  spaces ");
    EXPECT_EQ(read_bytes(store / "p" / "latest"), " two  spaces ");
}

// Windows stores a line feed as CR LF, Linux as it is; both read back a line feed.
TEST_F(Commands, LineBreaksAreStoredAsThePlatformKeepsThemAndReadBackAsLf) {
    run("kestrelV1 newSid s\n1\n");
    run("kestrelV1 syncNewsForce 0000000\nA\nB\n");
    run("kestrelV1 syncLatestForce p x\ny");
    EXPECT_EQ(read_bytes(store / "kestrel-system"), stored("s\n1\n"));
    EXPECT_EQ(read_bytes(store / "kestrel-news"), stored("0000000\nA\nB\n"));
    EXPECT_EQ(read_bytes(store / "p" / "latest"), stored("x\ny"));
    EXPECT_EQ(run("kestrelV1 init p"),
              (Replies{"kestrelV1 initSid s\n1\n", "kestrelV1 initNews 0000000\nA\nB\n",
                       "kestrelV1 initLatest x\ny", "kestrelV1 initDone "}));

    // The tag is compared as read back, so a tag holding a line feed still matches,
    // and a swapped record with line breaks is stored the same way.
    EXPECT_EQ(run("kestrelV1 syncNews 0000000\n 00000001\nC"), Replies{});
    EXPECT_EQ(read_bytes(store / "kestrel-news"), stored("00000001\nC"));
    EXPECT_EQ(run("kestrelV1 syncNews 0000000\n 00000002"),
              Replies{"kestrelV1 syncNewsConflict 00000001\nC"});
}

TEST_F(Commands, SyncWithMinusCreatesTheFileOnceThenConflicts) {
    EXPECT_EQ(run("kestrelV1 syncNews - 00000001 first"), Replies{});
    EXPECT_EQ(read_bytes(store / "kestrel-news"), "00000001 first");
    EXPECT_EQ(run("kestrelV1 syncNews - 00000001 second"),
              Replies{"kestrelV1 syncNewsConflict 00000001 first"});
    EXPECT_EQ(read_bytes(store / "kestrel-news"), "00000001 first");
}

TEST_F(Commands, SyncSwapsTheWholeFileWhenItsTagMatches) {
    const struct {
        const char* file; // bytes on disk before; nullptr: no file
        const char* payload;
        const char* after;
    } cases[] = {
        {"00000001 a much longer old record\r\nline two", "00000001 00000002 new", "00000002 new"},
        {"00000002", "00000002 00000003", "00000003"}, // exactly the tag
        {"\xc3\xa9\xc3\xa9\xff\x80zz rest", "\xc3\xa9\xc3\xa9\xff\x80zz new", "new"},
        {nullptr, "00000009 00000010 fresh", "00000010 fresh"}, // no tag to compare
        {"", "00000009_x", "x"},                                // the separator is not examined
        {"", "-_00000005 x", "00000005 x"},
        {nullptr, "- ", ""}, // the shortest complete payloads
        {"00000001", "00000001 ", ""},
    };
    for (const auto& c : cases) {
        fs::remove(store / "kestrel-news");
        if (c.file) write_bytes(store / "kestrel-news", c.file);
        EXPECT_EQ(run(std::string("kestrelV1 syncNews ") + c.payload), Replies{}) << c.payload;
        EXPECT_TRUE(fs::exists(store / "kestrel-news")) << c.payload;
        EXPECT_EQ(read_bytes(store / "kestrel-news"), c.after) << c.payload;
    }
}

TEST_F(Commands, SyncLeavesTheFileAndRepliesWithItWhenItsTagDiffers) {
    const struct {
        std::string file;
        const char* payload;
        const char* reply;
    } cases[] = {
        {stored("00000004 current\nrecord"), "00000003 00000004 mine", "00000004 current\nrecord"},
        {"00000004 current", "0000000x 00000005", "00000004 current"},
        {"00000004 current", "x0000004 00000005", "00000004 current"},
        {"00000004 current", "- 00000001", "00000004 current"},
        {"0000", "0000 xyz 00000001", "0000"}, // shorter than a tag
        {"\xc3\xa9\xc3\xa9\xff\x80zz rest", "\xc3\xa9\xc3\xa9\xff\x81zz new",
         "\xc3\xa9\xc3\xa9\xff\x80zz rest"},
    };
    for (const auto& c : cases) {
        write_bytes(store / "kestrel-news", c.file);
        EXPECT_EQ(run(std::string("kestrelV1 syncNews ") + c.payload),
                  Replies{std::string("kestrelV1 syncNewsConflict ") + c.reply})
            << c.payload;
        EXPECT_EQ(read_bytes(store / "kestrel-news"), c.file) << c.payload;
    }
}

TEST_F(Commands, SyncLatestIsPerProductWithItsOwnConflictWord) {
    EXPECT_EQ(run("kestrelV1 syncLatest alpha - 00000001 a"), Replies{});
    EXPECT_EQ(run("kestrelV1 syncLatest beta - 00000001 b"), Replies{});
    EXPECT_EQ(run("kestrelV1 syncLatest alpha 00000001 00000002 a2"), Replies{});
    EXPECT_EQ(run("kestrelV1 syncLatest beta 00000002 00000003 b3"),
              Replies{"kestrelV1 syncLatestConflict 00000001 b"});
    EXPECT_EQ(read_bytes(store / "alpha" / "latest"), "00000002 a2");
    EXPECT_EQ(read_bytes(store / "beta" / "latest"), "00000001 b");
    EXPECT_FALSE(fs::exists(store / "kestrel-news"));
}

TEST_F(Commands, ProductNamesThatAreOneFolderAreAccepted) {
    const char* names[] = {"a.b", ".p", "..p", "prod\xc3\xa9", "-", "9"};
    for (const char* name : names) {
        std::string n = name;
        EXPECT_EQ(run("kestrelV1 syncLatestForce " + n + " v-" + n), Replies{}) << name;
        EXPECT_EQ(read_bytes(store / utf8_path(n) / "latest"), "v-" + n) << name;
        EXPECT_EQ(run("kestrelV1 init " + n),
                  (Replies{"kestrelV1 initLatest v-" + n, "kestrelV1 initDone "}))
            << name;
    }
}

TEST_F(Commands, TextsThatAreNoCommandAreIgnored) {
    write_bytes(store / "kestrel-news", "00000001 news");
    Tree before = snapshot(root);
    const char* texts[] = {
        "",
        "kestrelV1",
        "kestrelV1 ",
        "kestrelV1 init", // no space after the command word
        "kestrelV1 getNews",
        "kestrelV1 syncNews",
        "kestrelV2 init p",
        "kestrelv1 init p",
        " kestrelV1 init p",
        "kestrelV1 unknown x",
        "kestrelV1  init p",
    };
    for (const char* text : texts) EXPECT_EQ(run(text), Replies{}) << '"' << text << '"';
    EXPECT_EQ(snapshot(root), before);
}

// Every text here must be refused: no reply, and nothing in the whole test folder
// (inside or outside the store) created, removed or changed.
class Refused : public SandboxTest, public testing::WithParamInterface<const char*> {};

TEST_P(Refused, DoesNothingAndSendsNothing) {
    // Records inside the store, and one outside it that "..\..\outside" would reach.
    write_bytes(store / "kestrel-news", "00000001 news");
    write_bytes(store / "kestrel-system", "sid");
    write_bytes(store / "p" / "latest", "00000001 latest");
    write_bytes(root / "outside" / "latest", "00000001 not the store's");
    Tree before = snapshot(root);

    EXPECT_EQ(run(GetParam()), Replies{});
    EXPECT_EQ(snapshot(root), before);
}

INSTANTIATE_TEST_SUITE_P(
    BadProductNames, Refused,
    testing::Values(
        // init: the whole rest is the name
        "kestrelV1 init ", "kestrelV1 init .", "kestrelV1 init ..",
        "kestrelV1 init ..\\..\\outside", "kestrelV1 init ../../outside", "kestrelV1 init p\\",
        "kestrelV1 init p/x", "kestrelV1 init C:", "kestrelV1 init p:stream",
        "kestrelV1 init p\x01", "kestrelV1 init p\tq", "kestrelV1 init p\x7f", "kestrelV1 init ...",
        "kestrelV1 init p.", "kestrelV1 init p ",
        // sync: the name ends at the first space
        "kestrelV1 syncLatest  - 00000001 x", "kestrelV1 syncLatest . - 00000001 x",
        "kestrelV1 syncLatest .. - 00000001 x",
        "kestrelV1 syncLatest ..\\..\\outside 00000001 00000002 x",
        "kestrelV1 syncLatest ../../outside - 00000002 x",
        "kestrelV1 syncLatest Z:\\elsewhere - 00000002 x",
        "kestrelV1 syncLatest p:stream - 00000002 x", "kestrelV1 syncLatest p\nq - 00000002 x",
        // force: likewise
        "kestrelV1 syncLatestForce  x", "kestrelV1 syncLatestForce . x",
        "kestrelV1 syncLatestForce .. x", "kestrelV1 syncLatestForce ..\\..\\outside x",
        "kestrelV1 syncLatestForce ../../outside x", "kestrelV1 syncLatestForce C:x x",
        "kestrelV1 syncLatestForce \\\\server\\share x", "kestrelV1 syncLatestForce p\rq x",
        "kestrelV1 syncLatestForce ... x", "kestrelV1 syncLatestForce p. x",
        "kestrelV1 syncLatest p.. - 00000002 x"));

INSTANTIATE_TEST_SUITE_P(MissingProductSpace, Refused,
                         testing::Values("kestrelV1 syncLatest p", "kestrelV1 syncLatest p-",
                                         "kestrelV1 syncLatestForce p",
                                         "kestrelV1 syncLatestForce ..\\..\\outside"));

INSTANTIATE_TEST_SUITE_P(
    ShortPayloads, Refused,
    testing::Values("kestrelV1 syncNews ", "kestrelV1 syncNews -", "kestrelV1 syncNews 0000000",
                    "kestrelV1 syncNews 00000001", "kestrelV1 syncLatest p ",
                    "kestrelV1 syncLatest p -", "kestrelV1 syncLatest p 00000001",
                    "kestrelV1 syncLatest q -", "kestrelV1 syncLatest q 0000"));

// Without the store's variable there is no store: reads find nothing, writes do
// nothing, and nothing is created anywhere (the working folder is the test folder).
TEST_F(Commands, WithoutStoreVariableReadsAreMissingAndWritesDoNothing) {
    set_store_variable(nullptr);
    change_folder(root);
    Tree before = snapshot(root);
    EXPECT_EQ(run("kestrelV1 init p"), Replies{"kestrelV1 initDone "});
    EXPECT_EQ(run("kestrelV1 getNews "), Replies{"kestrelV1 getNews "});
    for (const char* text :
         {"kestrelV1 newSid s", "kestrelV1 syncNews - 00000001", "kestrelV1 syncLatest p - x",
          "kestrelV1 syncNewsForce x", "kestrelV1 syncLatestForce p x"})
        EXPECT_EQ(run(text), Replies{}) << text;
    EXPECT_EQ(snapshot(root), before);

    set_store_variable("");
    EXPECT_EQ(run("kestrelV1 syncNewsForce x"), Replies{});
    EXPECT_EQ(run("kestrelV1 init p"), Replies{"kestrelV1 initDone "});
    EXPECT_EQ(snapshot(root), before);
}

// A product name that is not UTF-8 cannot be named: init reads it as missing, the
// writes do nothing.
TEST_F(Commands, ProductNameThatIsNotUtf8ReadsAsMissing) {
    run("kestrelV1 newSid s");
    Tree before = snapshot(root);
    EXPECT_EQ(run("kestrelV1 init p\xff"), (Replies{"kestrelV1 initSid s", "kestrelV1 initDone "}));
    EXPECT_EQ(run("kestrelV1 syncLatestForce p\xc3 x"), Replies{});
    EXPECT_EQ(run("kestrelV1 syncLatest p\xc3 - x"), Replies{});
    EXPECT_EQ(snapshot(root), before);
}
