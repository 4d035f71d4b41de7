// Test-side view of the state format: archives assembled field by field here,
// independently of the library's writer, and helpers to read maps back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "state/kv_map.h"
#include "state/state_archive.h"

using Bytes = std::string; // byte strings; may hold zero bytes
using Entries = std::vector<std::pair<Bytes, Bytes>>;

// Little-endian fields of the .map values.
Bytes le32(uint32_t v);
Bytes le32f(float f);

// One .map record: u32 key length, u32 value length, key, value.
Bytes map_record(std::string_view key, std::string_view value);

// A ustar header for `name` holding `size` bytes, every field filled as the writer
// must fill it, with its checksum.
Bytes tar_header(std::string_view name, uint64_t size);
// Header, data, zero padding to the next 512.
Bytes tar_member(std::string_view name, std::string_view data);
// Members in the given order, then the two zero end blocks.
Bytes tar_archive(const Entries& members);
// Recomputes the checksum field of the header at `offset` after a test edited it.
void tar_fix_checksum(Bytes& archive, size_t offset);

// The info and parameters maps of a saved state, records in the written order.
Bytes info_map_bytes(std::string_view format, std::string_view platform, float sample_rate);
Bytes parameters_map_bytes(const float values[6]);
// A whole state with the given inner members (plus "dsp.tar" in the outer archive).
Bytes state_bytes(const Entries& inner_members, const Entries& outer_before = {},
                  const Entries& outer_after = {});
// The state the VST3 or LV2 layer writes: info and parameters maps and "version".
Bytes golden_state(std::string_view format, std::string_view platform = "windows",
                   float sample_rate = 48000.0f);

extern const float kGoldenValues[6]; // drive, tone, heat, mix, volume, bypass

// Every entry of a map in iteration order.
Entries entries(const kv_map* map);

// A loaded (or failed) state_archive released at the end of the scope.
struct LoadedState {
    state_archive s{};
    int result = -1;
    int error = 0;
    LoadedState(const void* bytes, size_t len);
    explicit LoadedState(const Bytes& b) : LoadedState(b.data(), b.size()) {}
    ~LoadedState() { state_archive_free(&s); }
    LoadedState(const LoadedState&) = delete;
    LoadedState& operator=(const LoadedState&) = delete;
};

// state_archive_save into a byte string; `ok` tells whether it produced bytes.
Bytes save_state(const state_archive& s, bool* ok = nullptr);
