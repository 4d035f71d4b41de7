#include "state_test_support.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

const float kGoldenValues[6] = {50, 50, 50, 100, 100, 0};

Bytes le32(uint32_t v) {
    Bytes b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = char((v >> (8 * i)) & 0xff);
    return b;
}

Bytes le32f(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return le32(u);
}

Bytes map_record(std::string_view key, std::string_view value) {
    return le32(uint32_t(key.size())) + le32(uint32_t(value.size())) + Bytes(key) + Bytes(value);
}

namespace {

// `width` octal digits of v, leading zeros.
Bytes octal(uint64_t v, int width) {
    Bytes digits(width, '0');
    for (int i = width - 1; i >= 0; --i, v >>= 3) digits[i] = char('0' + (v & 7));
    return digits;
}

void put(Bytes& h, size_t offset, std::string_view text) {
    h.replace(offset, text.size(), text);
}

} // namespace

void tar_fix_checksum(Bytes& archive, size_t offset) {
    Bytes h = archive.substr(offset, 512);
    put(h, 148, "        ");
    unsigned sum = 0;
    for (unsigned char c : h) sum += c;
    put(h, 148, (sum < 32768 ? octal(sum, 5) : octal(sum, 6)) + Bytes(1, '\0'));
    h[154] = '\0';
    h[155] = ' ';
    archive.replace(offset, 512, h);
}

Bytes tar_header(std::string_view name, uint64_t size) {
    Bytes h(512, '\0');
    put(h, 0, name);
    put(h, 100, Bytes("0000644") + '\0');
    put(h, 108, Bytes("0000000") + '\0');
    put(h, 116, Bytes("0000000") + '\0');
    put(h, 124, octal(size, 11) + '\0');
    put(h, 136, Bytes("00000000000") + '\0');
    h[156] = '0';
    put(h, 257, Bytes("ustar") + '\0');
    put(h, 263, "00");
    tar_fix_checksum(h, 0);
    return h;
}

Bytes tar_member(std::string_view name, std::string_view data) {
    Bytes m = tar_header(name, data.size()) + Bytes(data);
    m.resize((m.size() + 511) / 512 * 512, '\0');
    return m;
}

Bytes tar_archive(const Entries& members) {
    Bytes a;
    for (const auto& [name, data] : members) a += tar_member(name, data);
    return a + Bytes(1024, '\0');
}

Bytes info_map_bytes(std::string_view format, std::string_view platform, float sample_rate) {
    return map_record("format", format) + map_record("id", "fernwood-emberpress") +
           map_record("platform", platform) + map_record("sample_rate", le32f(sample_rate)) +
           map_record("version_build", le32(1)) + map_record("version_major", le32(1)) +
           map_record("version_minor", le32(2)) + map_record("version_revision", le32(1));
}

Bytes parameters_map_bytes(const float v[6]) {
    return map_record("bypass", le32f(v[5])) + map_record("drive", le32f(v[0])) +
           map_record("heat", le32f(v[2])) + map_record("mix", le32f(v[3])) +
           map_record("tone", le32f(v[1])) + map_record("volume", le32f(v[4]));
}

Bytes state_bytes(const Entries& inner_members, const Entries& outer_before,
                  const Entries& outer_after) {
    Entries outer = outer_before;
    outer.emplace_back("dsp.tar", tar_archive(inner_members));
    outer.insert(outer.end(), outer_after.begin(), outer_after.end());
    return tar_archive(outer);
}

Bytes golden_state(std::string_view format, std::string_view platform, float sample_rate) {
    return state_bytes({{"info.map", info_map_bytes(format, platform, sample_rate)},
                        {"parameters.map", parameters_map_bytes(kGoldenValues)},
                        {"version", "1.0"}});
}

Entries entries(const kv_map* map) {
    Entries out;
    kv_map_foreach(
        map,
        [](const void* k, size_t kl, const void* v, size_t vl, void* user) {
            static_cast<Entries*>(user)->emplace_back(Bytes(static_cast<const char*>(k), kl),
                                                      Bytes(static_cast<const char*>(v), vl));
            return 0;
        },
        &out);
    return out;
}

LoadedState::LoadedState(const void* bytes, size_t len) {
    errno = 0;
    result = state_archive_load(&s, bytes, len);
    error = errno;
}

Bytes save_state(const state_archive& s, bool* ok) {
    size_t len = 0;
    uint8_t* out = state_archive_save(&s, &len);
    if (ok) *ok = out != nullptr;
    Bytes b = out ? Bytes(reinterpret_cast<char*>(out), len) : Bytes();
    std::free(out);
    return b;
}
