// The two byte codecs on their own: .map records and ustar archives.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <vector>

#include "state/state_alloc.h"
#include "state_test_support.h"

namespace {

// Parses from an exactly sized heap copy, so a read past the end is caught by the
// sanitizer build.
struct Parsed {
    std::vector<char> copy;
    kv_map* map = nullptr;
    int error = 0;
    Parsed(kv_map* (*parse)(const void*, size_t), const Bytes& b) : copy(b.begin(), b.end()) {
        errno = 0;
        map = parse(copy.data(), copy.size());
        error = errno;
    }
    ~Parsed() { kv_map_free(map); }
};

Bytes built(uint8_t* (*build)(const kv_map*, size_t*), const kv_map* map, bool* ok) {
    size_t len = 12345;
    uint8_t* out = build(map, &len);
    *ok = out != nullptr;
    Bytes b = out ? Bytes(reinterpret_cast<char*>(out), len) : Bytes();
    std::free(out);
    return b;
}

// A map that keeps its own copies of the bytes its entries point at.
struct Map {
    kv_map* m = kv_map_new();
    std::deque<Bytes> bytes;
    ~Map() { kv_map_free(m); }
    void add(const Bytes& k, const Bytes& v) {
        const Bytes& key = bytes.emplace_back(k);
        const Bytes& value = bytes.emplace_back(v);
        ASSERT_EQ(kv_map_insert(m, key.data(), key.size(), value.data(), value.size()), 0);
    }
};

Bytes with_size_field(Bytes archive, std::string_view field12) {
    archive.replace(124, 12, field12);
    return archive;
}

} // namespace

TEST(MapCodec, RecordsRoundTripInKeyOrder) {
    Map map;
    map.add("volume", le32f(100));
    map.add("bypass", "");
    map.add("a", Bytes("\0\x01\xff", 3));
    bool ok = false;
    const Bytes out = built(map_build, map.m, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(out, map_record("a", Bytes("\0\x01\xff", 3)) + map_record("bypass", "") +
                       map_record("volume", le32f(100)));
    Parsed back(map_parse, out);
    ASSERT_NE(back.map, nullptr);
    EXPECT_EQ(entries(back.map), entries(map.m));
}

TEST(MapCodec, EmptyInputIsAnEmptyMapAndAnEmptyMapWritesNothing) {
    Parsed empty(map_parse, "");
    ASSERT_NE(empty.map, nullptr);
    EXPECT_TRUE(entries(empty.map).empty());
    Map map;
    bool ok = false;
    EXPECT_EQ(built(map_build, map.m, &ok), "");
    EXPECT_TRUE(ok);
}

// Every prefix of a .map member either ends on a record boundary and holds exactly
// the whole records before it, or is refused: no record is read past the end.
TEST(MapCodec, EveryPrefixIsRefusedOrHoldsItsWholeRecords) {
    const Bytes full = parameters_map_bytes(kGoldenValues);
    std::vector<size_t> ends = {0};
    Entries records;
    Parsed whole(map_parse, full);
    const Entries all = entries(whole.map);
    for (const auto& [k, v] : all) ends.push_back(ends.back() + 8 + k.size() + v.size());
    ASSERT_EQ(ends.back(), full.size());
    for (size_t n = 0; n <= full.size(); ++n) {
        Parsed p(map_parse, full.substr(0, n));
        const auto at = std::find(ends.begin(), ends.end(), n);
        if (at == ends.end()) {
            ASSERT_EQ(p.map, nullptr) << n;
            ASSERT_EQ(p.error, EINVAL) << n;
        } else {
            ASSERT_NE(p.map, nullptr) << n;
            ASSERT_EQ(entries(p.map), Entries(all.begin(), all.begin() + (at - ends.begin())));
        }
    }
}

TEST(MapCodec, RefusesLengthsThatReachPastTheEnd) {
    for (const Bytes& bad : {le32(3) + le32(0) + "ab", le32(1) + le32(0xffffffffu) + "k",
                             le32(0xffffffffu) + le32(0xffffffffu) + "k", Bytes("\x01\0\0", 3)}) {
        Parsed p(map_parse, bad);
        EXPECT_EQ(p.map, nullptr);
        EXPECT_EQ(p.error, EINVAL);
    }
}

TEST(MapCodec, WriterRefusesAnEmptyKeyTheReaderWouldRefuse) {
    Map map;
    map.add("drive", le32f(1));
    map.add("", "x");
    bool ok = true;
    built(map_build, map.m, &ok);
    EXPECT_FALSE(ok);
}

TEST(TarCodec, ChecksumCountsBytesAsUnsigned) {
    const Bytes name(99, '\xff');
    Map map;
    map.add(name, "x");
    bool ok = false;
    const Bytes out = built(tar_build, map.m, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(out.substr(0, 512), tar_header(name, 1));
    EXPECT_EQ(out.substr(148, 8), Bytes("67173\0\0 ", 8));
}

TEST(TarCodec, EmptyMapIsTwoZeroBlocksAndReadsBackEmpty) {
    Map map;
    bool ok = false;
    const Bytes out = built(tar_build, map.m, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, Bytes(1024, '\0'));
    for (const Bytes& empty : {Bytes(), Bytes(1, '\0'), out}) {
        Parsed p(tar_parse, empty);
        ASSERT_NE(p.map, nullptr);
        EXPECT_TRUE(entries(p.map).empty());
    }
}

TEST(TarCodec, RefusesBadSizeFields) {
    const Bytes good = tar_archive({{"m", "abc"}});
    const char* bad_fields[] = {
        "00000000003 ",   // ends in a space instead of a zero byte
        "00000000008\0",  // digit 8
        "00000000090\0",  // digit 9
        " 0000000003\0",  // space padding
        "0000000000\0\0", // only ten digits
        "20000000000\0",  // 2^31
        "77777777777\0",  // far above
    };
    for (const char* field : bad_fields) {
        Parsed p(tar_parse, with_size_field(good, Bytes(field, 12)));
        EXPECT_EQ(p.map, nullptr) << field;
        EXPECT_EQ(p.error, EINVAL) << field;
    }
    // Just below 2^31 is a size the reader takes, but the data is not there.
    Parsed p(tar_parse, with_size_field(good, Bytes("17777777777\0", 12)));
    EXPECT_EQ(p.map, nullptr);
    EXPECT_EQ(p.error, EINVAL);
}

TEST(TarCodec, ReadsMembersWhateverTheirChecksumMagicOrTypeflag) {
    Bytes a = tar_archive({{"one", "1"}, {"two", "22"}});
    a[148] = '7';                                     // wrong checksum
    a.replace(512 * 2 + 257, 6, Bytes("xxxxx\0", 6)); // another magic
    a[512 * 2 + 156] = '5';                           // a directory's typeflag
    Parsed p(tar_parse, a);
    ASSERT_NE(p.map, nullptr);
    EXPECT_EQ(entries(p.map), (Entries{{"one", "1"}, {"two", "22"}}));
}

TEST(TarCodec, StopsAtTheFirstHeaderThatBeginsWithAZeroByte) {
    const Bytes garbage = Bytes(1, '\0') + "this is no header, and not even 512 bytes long";
    Parsed p(tar_parse, tar_member("one", "1") + garbage + tar_member("two", "2"));
    ASSERT_NE(p.map, nullptr);
    EXPECT_EQ(entries(p.map), (Entries{{"one", "1"}}));
}

TEST(TarCodec, HundredByteNameIsReadWholeButNotWritten) {
    const Bytes name(100, 'n');
    Bytes a = tar_archive({{"x", "data"}});
    a.replace(0, 100, name);
    Parsed p(tar_parse, a);
    ASSERT_NE(p.map, nullptr);
    EXPECT_EQ(entries(p.map), (Entries{{name, "data"}}));
    bool ok = true;
    built(tar_build, p.map, &ok);
    EXPECT_FALSE(ok);
    Map ninety_nine;
    ninety_nine.add(Bytes(99, 'n'), "data");
    built(tar_build, ninety_nine.m, &ok);
    EXPECT_TRUE(ok);
}

TEST(TarCodec, WriterRefusesNamesTheReaderWouldNotGiveBack) {
    // An empty name would read as the end of the archive; a zero byte would cut it.
    for (const Bytes& name : {Bytes(), Bytes("a\0b", 3)}) {
        Map map;
        map.add("first", "1");
        map.add(name, "lost?");
        bool ok = true;
        built(tar_build, map.m, &ok);
        EXPECT_FALSE(ok);
    }
}

TEST(TarCodec, DuplicateNamesAreBothKept) {
    Parsed p(tar_parse, tar_archive({{"same", "A"}, {"same", "B"}}));
    ASSERT_NE(p.map, nullptr);
    Entries got = entries(p.map);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (Entries{{"same", "A"}, {"same", "B"}}));
}

TEST(Codecs, OutOfMemoryWhileReadingOrWritingLeavesNothingAllocated) {
    const Bytes archive = tar_archive({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    const Bytes records = map_record("a", "1") + map_record("b", "2") + map_record("c", "3");
    const long live = state_alloc_live();
    // Each parse makes the map and then an entry and a node per member or record.
    for (auto parse : {tar_parse, map_parse}) {
        const Bytes& input = parse == tar_parse ? archive : records;
        for (long allowed = 0; allowed < 7; ++allowed) {
            state_alloc_fail_after(allowed);
            Parsed p(parse, input);
            state_alloc_fail_after(-1);
            EXPECT_EQ(p.map, nullptr);
            EXPECT_EQ(p.error, ENOMEM);
            EXPECT_EQ(state_alloc_live(), live) << allowed;
        }
    }
    Parsed t(tar_parse, archive);
    ASSERT_NE(t.map, nullptr);
    for (auto build : {tar_build, map_build}) {
        // A built buffer goes to the caller's free(), so count from here.
        const long with_map = state_alloc_live();
        for (long allowed = 0; allowed < 4; ++allowed) {
            state_alloc_fail_after(allowed);
            bool ok = true;
            built(build, t.map, &ok);
            state_alloc_fail_after(-1);
            EXPECT_FALSE(ok);
            EXPECT_EQ(state_alloc_live(), with_map) << allowed;
        }
        bool ok = false;
        built(build, t.map, &ok);
        EXPECT_TRUE(ok);
    }
}
