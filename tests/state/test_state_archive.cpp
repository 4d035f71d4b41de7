// The nested state archive: exact bytes written, every refusal, and what survives a
// load followed by a save.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "state/plugin_state.h"
#include "state/state_alloc.h"
#include "state_test_support.h"

namespace {

Bytes plugin_bytes(const char* format, const float values[6] = kGoldenValues,
                   float rate = 48000.0f) {
    size_t len = 0;
    uint8_t* out = plugin_state_save(values, format, "windows", rate, &len);
    EXPECT_NE(out, nullptr);
    Bytes b = out ? Bytes(reinterpret_cast<char*>(out), len) : Bytes();
    std::free(out);
    return b;
}

Entries golden_inner() {
    return {{"info.map", info_map_bytes("vst3", "windows", 48000.0f)},
            {"parameters.map", parameters_map_bytes(kGoldenValues)},
            {"version", "1.0"}};
}

Entries without(Entries members, std::string_view name) {
    std::erase_if(members, [&](const auto& m) { return m.first == name; });
    return members;
}

Entries with(Entries members, std::string_view name, std::string_view data) {
    for (auto& m : members)
        if (m.first == name) m.second = data;
    return members;
}

void expect_refused(const Bytes& state, int error, const char* what) {
    const long live = state_alloc_live();
    LoadedState l(state);
    EXPECT_EQ(l.result, -1) << what;
    EXPECT_EQ(l.error, error) << what;
    EXPECT_EQ(l.s.info, nullptr) << what;
    EXPECT_EQ(l.s.parameters, nullptr) << what;
    EXPECT_EQ(l.s.extra_inner, nullptr) << what;
    EXPECT_EQ(l.s.extra_outer, nullptr) << what;
    EXPECT_EQ(state_alloc_live(), live) << what << ": a failed load leaves nothing allocated";
}

// Members of an archive in file order, read with the test's own reading of ustar.
Entries members_in_order(const Bytes& archive) {
    Entries out;
    for (size_t off = 0; off + 512 <= archive.size() && archive[off] != '\0';) {
        const Bytes name = archive.substr(off, archive.substr(off, 100).find('\0'));
        const size_t size = std::strtoull(archive.substr(off + 124, 11).c_str(), nullptr, 8);
        out.emplace_back(name, archive.substr(off + 512, size));
        off += 512 + (size + 511) / 512 * 512;
    }
    return out;
}

} // namespace

TEST(GoldenState, BothLayersWriteExactlyTheExpectedBytes) {
    for (const char* format : {"vst3", "lv2"}) {
        const Bytes expected = golden_state(format);
        const Bytes written = plugin_bytes(format);
        ASSERT_EQ(written.size(), 5632u) << format;
        const auto diff = std::mismatch(written.begin(), written.end(), expected.begin());
        EXPECT_EQ(diff.first, written.end())
            << format << ": first difference at byte " << diff.first - written.begin();
    }
}

TEST(GoldenState, FieldsAndMembersLookAsDocumented) {
    const Bytes vst3 = plugin_bytes("vst3");
    const Bytes lv2 = plugin_bytes("lv2");
    // The outer archive's only member is "dsp.tar" holding 4096 bytes.
    EXPECT_EQ(vst3.substr(0, 8), Bytes("dsp.tar\0", 8));
    EXPECT_EQ(vst3.substr(124, 12), Bytes("00000010000\0", 12));
    EXPECT_EQ(vst3.substr(512 + 4096), Bytes(1024, '\0'));
    // The inner archive: info.map at 0, parameters.map at 1024, version at 2048.
    const Bytes inner = vst3.substr(512, 4096);
    EXPECT_EQ(inner.substr(2048, 8), Bytes("version\0", 8));
    EXPECT_EQ(inner.substr(2048 + 148, 8), Bytes("07346\0\0 ", 8));
    EXPECT_EQ(inner.substr(2048 + 512, 4), Bytes("1.0\0", 4));

    const Entries members = members_in_order(inner);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].first, "info.map");
    EXPECT_EQ(members[1].first, "parameters.map");
    EXPECT_EQ(members[2].first, "version");
    EXPECT_EQ(members[0].second.size(), 196u);
    EXPECT_EQ(members_in_order(lv2.substr(512, 4096))[0].second.size(), 195u);

    const Bytes& params = members[1].second;
    ASSERT_EQ(params.size(), 100u);
    std::vector<Bytes> keys;
    for (size_t off = 0; off < params.size();) {
        const size_t k = uint8_t(params[off]), v = uint8_t(params[off + 4]);
        keys.push_back(params.substr(off + 8, k));
        off += 8 + k + v;
    }
    EXPECT_EQ(keys, (std::vector<Bytes>{"bypass", "drive", "heat", "mix", "tone", "volume"}));
    const Bytes mix_record("\x03\0\0\0\x04\0\0\0mix\0\0\xc8\x42", 15);
    EXPECT_NE(params.find(mix_record), Bytes::npos);
}

TEST(GoldenState, CommittedSeedFilesAreTheGoldenStates) {
    const struct {
        const char* file;
        Bytes expected;
    } seeds[] = {{"vst3-state.bin", golden_state("vst3")}, {"lv2-state.bin", golden_state("lv2")}};
    for (const auto& seed : seeds) {
        const std::string path = std::string(EMBER_STATE_CORPUS_DIR) + "/" + seed.file;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr) << path;
        Bytes content;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) content.append(buf, n);
        std::fclose(f);
        EXPECT_TRUE(content == seed.expected) << path;
    }
}

TEST(StateArchive, LoadGivesTheMapsAndPointsIntoTheInput) {
    const Bytes state = golden_state("vst3");
    LoadedState l(state);
    ASSERT_EQ(l.result, 0);
    EXPECT_STREQ(l.s.version, "1.0");
    EXPECT_EQ(entries(l.s.parameters).size(), 6u);
    EXPECT_EQ(entries(l.s.info).size(), 8u);
    EXPECT_TRUE(entries(l.s.extra_inner).empty());
    EXPECT_TRUE(entries(l.s.extra_outer).empty());
    size_t len = 0;
    const char* mix = static_cast<const char*>(kv_map_find(l.s.parameters, "mix", 3, &len));
    ASSERT_NE(mix, nullptr);
    EXPECT_GE(mix, state.data());
    EXPECT_LT(mix, state.data() + state.size());
    EXPECT_EQ(Bytes(mix, len), le32f(100));
    EXPECT_EQ(save_state(l.s), state);
}

TEST(StateArchive, RefusesMalformedStatesWithEinval) {
    const Entries inner = golden_inner();
    expect_refused("", EINVAL, "empty input");
    expect_refused(Bytes(1, '\0') + golden_state("vst3"), EINVAL, "starts with a zero byte");
    expect_refused(tar_archive({{"other.tar", tar_archive(inner)}}), EINVAL, "no dsp.tar");
    expect_refused(state_bytes(without(inner, "version")), EINVAL, "no version");
    expect_refused(state_bytes(without(inner, "info.map")), EINVAL, "no info.map");
    expect_refused(state_bytes(without(inner, "parameters.map")), EINVAL, "no parameters.map");
    for (const char* version : {"1.1", "1.0.1", "1.00", "1.", "", "1.0x", " 1.0"})
        expect_refused(state_bytes(with(inner, "version", version)), EINVAL, version);
    expect_refused(state_bytes(with(inner, "parameters.map",
                                    map_record("drive", le32f(1)) + le32(0) + le32(0))),
                   EINVAL, "key length 0");
    expect_refused(state_bytes(with(inner, "info.map", le32(3) + le32(0) + "id")), EINVAL,
                   "record past the end of its member");
    expect_refused(tar_archive({{"dsp.tar", "not an archive at all"}}), EINVAL,
                   "dsp.tar is no archive");

    Bytes bad_size = golden_state("vst3");
    bad_size[124 + 10] = '8';
    expect_refused(bad_size, EINVAL, "digit 8 in the outer size");
    Bytes bad_inner = golden_state("vst3");
    bad_inner[512 + 1024 + 135] = ' ';
    expect_refused(bad_inner, EINVAL, "inner size ending in a space");
    Bytes huge = golden_state("vst3");
    huge.replace(124, 11, "20000000000");
    expect_refused(huge, EINVAL, "size of 2^31");
}

TEST(StateArchive, AcceptsVersionFollowedByWhiteSpaceAndEmptyMaps) {
    for (const char* version : {"1.0\n", "1.0  ", "1.0\r\n", "1.0\t\v\f "}) {
        LoadedState l(state_bytes(with(golden_inner(), "version", version)));
        EXPECT_EQ(l.result, 0) << version;
        EXPECT_STREQ(l.s.version, "1.0");
    }
    LoadedState l(state_bytes({{"info.map", ""}, {"parameters.map", ""}, {"version", "1.0"}}));
    ASSERT_EQ(l.result, 0);
    EXPECT_TRUE(entries(l.s.info).empty());
    EXPECT_TRUE(entries(l.s.parameters).empty());
    // Written back, the empty maps stay empty members.
    const Bytes saved = save_state(l.s);
    EXPECT_EQ(saved, state_bytes({{"info.map", ""}, {"parameters.map", ""}, {"version", "1.0"}}));
}

TEST(StateArchive, HeadersWithOtherChecksumMagicOrTypeflagStillLoad) {
    Bytes state = golden_state("vst3");
    state[148] = '1';                     // outer checksum wrong
    state.replace(512 + 257, 5, "gnutr"); // inner info.map magic
    state[512 + 1024 + 156] = '5';        // inner parameters.map typeflag
    LoadedState l(state);
    ASSERT_EQ(l.result, 0);
    EXPECT_EQ(entries(l.s.parameters).size(), 6u);
}

TEST(StateArchive, IgnoresBytesAfterTheEndOfTheArchive) {
    LoadedState l(golden_state("vst3") + tar_member("late", "never read") + "junk");
    ASSERT_EQ(l.result, 0);
    EXPECT_TRUE(entries(l.s.extra_outer).empty());
}

TEST(StateArchive, UnknownMembersSurviveLoadAndSaveInSortedPosition) {
    Entries inner = golden_inner();
    inner.emplace_back("notes", "between info.map and parameters.map");
    inner.emplace_back("aardvark", "first");
    inner.emplace_back("zz", Bytes(700, 'z'));
    const Bytes state = state_bytes(inner, {{"zebra", "after"}}, {{"a.txt", "before"}});
    LoadedState l(state);
    ASSERT_EQ(l.result, 0);
    EXPECT_EQ(entries(l.s.extra_inner), (Entries{{"aardvark", "first"},
                                                 {"notes", "between info.map and parameters.map"},
                                                 {"zz", Bytes(700, 'z')}}));
    EXPECT_EQ(entries(l.s.extra_outer), (Entries{{"a.txt", "before"}, {"zebra", "after"}}));

    const Bytes sorted = state_bytes({{"aardvark", "first"},
                                      golden_inner()[0],
                                      {"notes", "between info.map and parameters.map"},
                                      golden_inner()[1],
                                      golden_inner()[2],
                                      {"zz", Bytes(700, 'z')}},
                                     {{"a.txt", "before"}}, {{"zebra", "after"}});
    EXPECT_TRUE(save_state(l.s) == sorted);
}

TEST(StateArchive, DuplicateMembersAreBothKeptAndWrittenBack) {
    const Bytes state = state_bytes(golden_inner(), {}, {{"extra", "one"}, {"extra", "two"}});
    LoadedState l(state);
    ASSERT_EQ(l.result, 0);
    Entries extra = entries(l.s.extra_outer);
    std::sort(extra.begin(), extra.end());
    EXPECT_EQ(extra, (Entries{{"extra", "one"}, {"extra", "two"}}));
    size_t len = 0;
    const void* found = kv_map_find(l.s.extra_outer, "extra", 5, &len);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(Bytes(static_cast<const char*>(found), len) == "one" ||
                Bytes(static_cast<const char*>(found), len) == "two");

    Entries written = members_in_order(save_state(l.s));
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[0].first, "dsp.tar");
    written.erase(written.begin());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (Entries{{"extra", "one"}, {"extra", "two"}}));
}

TEST(StateArchive, HundredByteNameLoadsButTheWriterRefusesIt) {
    Bytes state = golden_state("vst3");
    const Bytes long_name(100, 'L');
    state = state.substr(0, 512 + 4096) + tar_member("placeholder", "x") + Bytes(1024, '\0');
    state.replace(512 + 4096, 100, long_name);
    LoadedState l(state);
    ASSERT_EQ(l.result, 0);
    EXPECT_EQ(entries(l.s.extra_outer), (Entries{{long_name, "x"}}));
    bool ok = true;
    save_state(l.s, &ok);
    EXPECT_FALSE(ok);
}

TEST(StateArchive, InitMakesFourEmptyMapsThatSaveToAValidState) {
    state_archive s;
    ASSERT_EQ(state_archive_init(&s), 0);
    const Bytes saved = save_state(s);
    state_archive_free(&s);
    EXPECT_EQ(saved, state_bytes({{"info.map", ""}, {"parameters.map", ""}, {"version", "1.0"}}));
    EXPECT_EQ(s.info, nullptr) << "free leaves no dangling maps behind";
}

TEST(StateArchive, SaveRefusesAnObjectWithoutMaps) {
    const Bytes nothing;
    LoadedState failed(nothing);
    ASSERT_EQ(failed.result, -1);
    bool ok = true;
    save_state(failed.s, &ok);
    EXPECT_FALSE(ok);
}

// Every prefix of a valid state is either refused with EINVAL or, once "dsp.tar" is
// whole (the end blocks may be cut), loads to exactly the full state's content.
// Each prefix sits in a buffer of its own length, so the sanitizer build catches a
// read past the end.
TEST(Truncation, EveryPrefixOfAStateIsRefusedOrLoadsWhole) {
    const Bytes full = golden_state("vst3");
    ASSERT_EQ(full.size(), 5632u);
    LoadedState whole(full);
    ASSERT_EQ(whole.result, 0);
    const long live = state_alloc_live();
    for (size_t n = 0; n <= full.size(); ++n) {
        std::vector<char> prefix(full.begin(), full.begin() + n);
        LoadedState l(prefix.data(), prefix.size());
        if (n < 512 + 4096) {
            ASSERT_EQ(l.result, -1) << n;
            ASSERT_EQ(l.error, EINVAL) << n;
            ASSERT_EQ(state_alloc_live(), live) << n;
        } else {
            ASSERT_EQ(l.result, 0) << n;
            ASSERT_EQ(entries(l.s.info), entries(whole.s.info)) << n;
            ASSERT_EQ(entries(l.s.parameters), entries(whole.s.parameters)) << n;
            ASSERT_TRUE(entries(l.s.extra_inner).empty() && entries(l.s.extra_outer).empty());
        }
    }
}

// Every prefix of the inner archive, read on its own: refused when it cuts a header or
// a member's data, else exactly the members that lie wholly inside it.
TEST(Truncation, EveryPrefixOfTheInnerArchiveIsRefusedOrHoldsItsWholeMembers) {
    const Entries inner = golden_inner();
    const Bytes full = tar_archive(inner);
    for (size_t n = 0; n <= full.size(); ++n) {
        std::vector<char> prefix(full.begin(), full.begin() + n);
        errno = 0;
        kv_map* map = tar_parse(prefix.data(), prefix.size());
        const int error = errno;
        bool cut = false;
        Entries expected;
        for (size_t i = 0; i < inner.size(); ++i) {
            const size_t start = 1024 * i, end = start + 512 + inner[i].second.size();
            if (n > start && n < end) cut = true;
            if (n >= end) expected.push_back(inner[i]);
        }
        if (cut) {
            EXPECT_EQ(map, nullptr) << n;
            EXPECT_EQ(error, EINVAL) << n;
        } else {
            EXPECT_NE(map, nullptr) << n;
            EXPECT_EQ(entries(map), expected) << n;
        }
        kv_map_free(map);
    }
}

TEST(OutOfMemory, FailedLoadOrSaveLeavesNothingAllocatedAndTheStateUnchanged) {
    const Bytes state =
        state_bytes(golden_inner(), {{"aa", "outer extra"}}, {{"zz", "outer extra 2"}});
    const long live = state_alloc_live();
    long allowed = 0;
    for (;; ++allowed) {
        state_alloc_fail_after(allowed);
        LoadedState l(state);
        state_alloc_fail_after(-1);
        if (l.result == 0) break;
        ASSERT_EQ(l.error, ENOMEM) << allowed;
        ASSERT_EQ(l.s.info, nullptr);
        ASSERT_EQ(state_alloc_live(), live) << allowed;
    }
    EXPECT_GT(allowed, 30) << "every map and entry of the load was tried";

    LoadedState l(state);
    ASSERT_EQ(l.result, 0);
    const Entries info = entries(l.s.info), params = entries(l.s.parameters);
    const long loaded = state_alloc_live();
    for (allowed = 0;; ++allowed) {
        state_alloc_fail_after(allowed);
        size_t len = 0;
        uint8_t* out = state_archive_save(&l.s, &len);
        state_alloc_fail_after(-1);
        if (out) {
            EXPECT_TRUE(Bytes(reinterpret_cast<char*>(out), len) == state);
            std::free(out);
            break;
        }
        ASSERT_EQ(state_alloc_live(), loaded) << allowed;
        ASSERT_EQ(entries(l.s.info), info);
        ASSERT_EQ(entries(l.s.parameters), params);
    }
    EXPECT_GT(allowed, 10);

    const long before_init = state_alloc_live(); // the saved buffer went to free()
    for (allowed = 0; allowed < 4; ++allowed) {
        state_archive s;
        state_alloc_fail_after(allowed);
        const int r = state_archive_init(&s);
        state_alloc_fail_after(-1);
        EXPECT_EQ(r, -1);
        EXPECT_EQ(errno, ENOMEM);
        EXPECT_EQ(state_alloc_live(), before_init);
    }
}
