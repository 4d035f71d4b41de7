// The factory presets as VST3 preset files, exactly where the build put them: each read
// by a reader written here from the file format's description (not the generator's
// code), its component state restored through the module's setState.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "engine/presets.h"
#include "host.h"
#include "state/plugin_state.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kHeaderSize = 48; // "VST3", version, class ID, chunk list offset
constexpr size_t kEntrySize = 20;  // chunk ID, offset, size
constexpr size_t kStateSize = 5632;

Bytes read_file(const std::string& path) {
    Bytes out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

uint64_t le(const Bytes& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
    return v;
}

struct Chunk {
    std::string id;
    uint64_t offset, size;
};

struct PresetFile {
    std::string class_id;
    std::vector<Chunk> chunks;
};

// Reads the file's frame, checking every length and offset against the file itself:
// the chunk list ends the file, and every chunk lies in the data area between the
// header and the list without overlapping another.
testing::AssertionResult parse(const Bytes& b, PresetFile& out) {
    if (b.size() < kHeaderSize) return testing::AssertionFailure() << "shorter than a header";
    if (std::memcmp(b.data(), "VST3", 4) != 0) return testing::AssertionFailure() << "no VST3 id";
    if (le(b, 4, 4) != 1) return testing::AssertionFailure() << "version " << le(b, 4, 4);
    out.class_id.assign(b.begin() + 8, b.begin() + 40);
    for (char c : out.class_id)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return testing::AssertionFailure() << "class ID " << out.class_id;
    const uint64_t list = le(b, 40, 8);
    if (list < kHeaderSize || list > b.size() - 8)
        return testing::AssertionFailure() << "chunk list at " << list << " of " << b.size();
    if (std::memcmp(&b[list], "List", 4) != 0) return testing::AssertionFailure() << "no List id";
    const uint64_t count = le(b, size_t(list) + 4, 4);
    if (list + 8 + count * kEntrySize != b.size())
        return testing::AssertionFailure() << count << " entries do not end the file";
    uint64_t data_end = kHeaderSize;
    for (uint64_t i = 0; i < count; ++i) {
        const size_t at = size_t(list + 8 + i * kEntrySize);
        Chunk c{std::string(b.begin() + long(at), b.begin() + long(at) + 4), le(b, at + 4, 8),
                le(b, at + 12, 8)};
        if (c.offset < data_end || c.size > list || c.offset > list - c.size)
            return testing::AssertionFailure() << c.id << " at " << c.offset << ", " << c.size
                                               << " bytes, outside the data area or overlapping";
        data_end = c.offset + c.size;
        out.chunks.push_back(c);
    }
    return testing::AssertionSuccess();
}

// The factory's processor class ID in the written form of VST3 class IDs: its four
// 32-bit words in upper-case hexadecimal. Windows keeps the first two words of an ID in
// memory as a COM GUID does (little-endian word, then two little-endian halves).
std::string written_class_id() {
    PClassInfo info{};
    EXPECT_EQ(test_factory()->vtbl->getClassInfo(test_factory(), 0, &info), kResultOk);
    const auto* u = reinterpret_cast<const uint8_t*>(info.cid);
    uint32_t words[4];
    for (int w = 0; w < 4; ++w)
        words[w] = uint32_t(u[4 * w]) << 24 | uint32_t(u[4 * w + 1]) << 16 |
                   uint32_t(u[4 * w + 2]) << 8 | u[4 * w + 3];
    if (kComCompatible) {
        words[0] = uint32_t(u[3]) << 24 | uint32_t(u[2]) << 16 | uint32_t(u[1]) << 8 | u[0];
        words[1] = uint32_t(u[5]) << 24 | uint32_t(u[4]) << 16 | uint32_t(u[7]) << 8 | u[6];
    }
    char text[33];
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X", words[0], words[1], words[2], words[3]);
    return text;
}

std::string preset_path(const Preset& p) {
    return native_path(std::string(EMBER_VST3_PRESETS) + "/" + p.name + ".vstpreset");
}

void settle(ActiveProcessor& p) {
    float in[8] = {}, out[8];
    p.process(in, out, 8);
}

} // namespace

TEST(Vst3Presets, EachFileParsesAndItsStateRestoresToThePresetsValues) {
    const std::string class_id = written_class_id();
    EXPECT_EQ(class_id, "66AD22C7C20E462CB29447BBA4505C82");
    for (const Preset& preset : kPresets) {
        SCOPED_TRACE(preset.name);
        const Bytes file = read_file(preset_path(preset));
        PresetFile parsed;
        ASSERT_TRUE(parse(file, parsed));
        EXPECT_EQ(parsed.class_id, class_id);
        ASSERT_EQ(parsed.chunks.size(), 1u);
        const Chunk& comp = parsed.chunks[0];
        ASSERT_EQ(comp.id, "Comp");
        const Bytes state(file.begin() + long(comp.offset),
                          file.begin() + long(comp.offset + comp.size));
        EXPECT_EQ(state.size(), kStateSize);
        EXPECT_EQ(state_info_text(state, "format"), "vst3");
        EXPECT_EQ(state_info_text(state, "platform"), kPluginPlatform);

        ActiveProcessor p;
        ASSERT_EQ(p.set_state(state), kResultOk);
        settle(p);
        EXPECT_EQ(state_values(p.state()),
                  std::vector<float>(preset.values, preset.values + kParamCount));

        // The whole file is not a state: a host that hands it over unopened is refused,
        // and the values stay.
        EXPECT_EQ(p.set_state(file), kResultFalse);
        settle(p);
        EXPECT_EQ(state_values(p.state()),
                  std::vector<float>(preset.values, preset.values + kParamCount));
    }
    // Nothing else in the folder: a renamed or dropped preset leaves no stale file.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(native_path(EMBER_VST3_PRESETS))) {
        EXPECT_EQ(entry.path().extension(), ".vstpreset") << entry.path();
        ++files;
    }
    EXPECT_EQ(files, size_t(kPresetCount));
}
