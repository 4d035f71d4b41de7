// run on one thread, save and restore on another, as a host does them. Built twice:
// plain, and with ThreadSanitizer over the plug-in, the engine and the state code.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "lv2_host.h"
#include "state/plugin_state.h"

namespace {

// Two complete settings the audio thread alternates between every block, and a
// third that the state thread restores. No value is shared between them, so a save
// that mixed two settings would show.
constexpr float kA[kParamCount] = {10, 20, 30, 40, 50, 0};
constexpr float kB[kParamCount] = {60, 70, 80, 90, 150, 1};
constexpr float kRestored[kParamCount] = {11, 21, 31, 41, 51, 0};

bool same(const float* a, const float* b) {
    return std::memcmp(a, b, kParamCount * 4) == 0;
}

TEST(Lv2Concurrency, SavesSeeWholeSettingsWhileRunAndRestoreRaceThem) {
    HostFeatures host;
    Plugin plugin(48000, host);
    ASSERT_TRUE(plugin.ok());
    std::vector<float> in(64), out(64);
    for (size_t i = 0; i < in.size(); ++i) in[i] = 0.3f * static_cast<float>(i % 7) - 0.9f;
    float controls[kParamCount];
    plugin.connect(PORT_INPUT, in.data());
    plugin.connect(PORT_OUTPUT, out.data());
    for (int i = 0; i < kParamCount; ++i) plugin.connect(control_port(i), &controls[i]);
    auto set_ports = [&](const float* plain) {
        for (int i = 0; i < kParamCount; ++i) controls[i] = plain[i];
        controls[PARAM_BYPASS] = plain[PARAM_BYPASS] >= 0.5f ? 0.0f : 1.0f;
    };
    set_ports(kA);
    plugin.activate();

    size_t len = 0;
    uint8_t* restore_bytes = plugin_state_save(kRestored, "lv2", "windows", 48000, &len);
    ASSERT_NE(restore_bytes, nullptr);
    MemoryState to_restore;
    to_restore.properties[host.urids.map(kStateKeyUri)].bytes.assign(restore_bytes,
                                                                     restore_bytes + len);
    free(restore_bytes);

    std::atomic<bool> done{false};
    std::atomic<uint64_t> blocks{0};
    std::thread audio([&] {
        while (!done.load()) {
            set_ports(blocks % 2 ? kB : kA);
            plugin.run(64);
            blocks.fetch_add(1);
        }
    });

    while (blocks.load() == 0) std::this_thread::yield(); // race from the first round
    constexpr int kRounds = 3000;
    int torn = 0, failed = 0;
    const uint32_t key = host.urids.map(kStateKeyUri);
    for (int round = 0; round < kRounds; ++round) {
        MemoryState saved;
        if (plugin.save(saved) != LV2_STATE_SUCCESS) {
            ++failed;
            continue;
        }
        float values[kParamCount];
        const auto& bytes = saved.properties[key].bytes;
        if (plugin_state_load(bytes.data(), bytes.size(), values) != 0) {
            ++failed;
            continue;
        }
        if (!same(values, kA) && !same(values, kB)) ++torn;
        if (plugin.restore(to_restore) != LV2_STATE_SUCCESS) ++failed;
    }
    done.store(true);
    audio.join();

    EXPECT_EQ(failed, 0);
    EXPECT_EQ(torn, 0) << "saves that held no whole setting";
    const uint64_t ran = blocks.load();
    EXPECT_GT(ran, 1u);
    EXPECT_TRUE(host.log.entries().empty());
}

} // namespace
