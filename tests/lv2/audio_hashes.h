// Hashes of the plug-in's output for the renders of test_lv2_plugin.cpp, recorded
// from the native build. The Windows build must produce the same.
#pragma once

#include <cstdint>

struct RecordedAudioHash {
    const char* name;
    uint64_t hash;
};

constexpr RecordedAudioHash kRecordedAudioHashes[] = {
    {"defaults@44100", 0x3978f4ace583105full},   {"settings@44100", 0xbac4adb32bdaa544ull},
    {"automation@44100", 0xf3c3e1d1c36deb30ull}, {"defaults@48000", 0x9b7a4cd35de81002ull},
    {"settings@48000", 0x18c3f2ba6a827f80ull},   {"automation@48000", 0x879448b3a49f49a1ull},
    {"defaults@96000", 0x1a36bec09adf4fedull},   {"settings@96000", 0xcf5587a1e77e42deull},
    {"automation@96000", 0xf1426b42ad8e5c1aull},
};
