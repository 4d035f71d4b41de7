// What only a probe build of the plug-in can show: how often run calls into the
// engine, and what run does while a state call holds the parameter lock.

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "engine/handover.h"
#include "lv2_host.h"
#include "lv2_probe.h"

namespace {

struct Probed {
    HostFeatures host;
    Plugin plugin{48000, host};
    const EmberpressProbe* probe = nullptr;

    Probed() {
        EXPECT_TRUE(plugin.ok());
        probe = static_cast<const EmberpressProbe*>(
            plugin.descriptor()->extension_data(EMBERPRESS_PROBE_URI));
        EXPECT_NE(probe, nullptr) << "not a probe build";
        plugin.in.assign(64, 0.0f);
        plugin.out.assign(64, 0.0f);
        plugin.connect_all();
        plugin.activate();
    }
    uint64_t calls() const { return probe->engine_set_param_calls(); }
    // Engine calls made by one block of 64 frames.
    uint64_t calls_in_block() {
        const uint64_t before = calls();
        plugin.run(64);
        return calls() - before;
    }
};

TEST(Lv2EngineCalls, OnlyAPortValueThatChangesReachesTheEngine) {
    Probed p;
    EXPECT_EQ(p.calls_in_block(), 0u) << "values as at activate";
    for (int block = 0; block < 10; ++block) EXPECT_EQ(p.calls_in_block(), 0u);

    p.plugin.controls[PARAM_TONE] = 61;
    EXPECT_EQ(p.calls_in_block(), 1u);
    EXPECT_EQ(p.calls_in_block(), 0u);

    // A new port value that clamps or converts to the value in force is no change.
    p.plugin.controls[PARAM_VOLUME] = 200;
    EXPECT_EQ(p.calls_in_block(), 1u);
    p.plugin.controls[PARAM_VOLUME] = 250;
    EXPECT_EQ(p.calls_in_block(), 0u);
    p.plugin.controls[PARAM_BYPASS] = 0.7f; // still enabled
    EXPECT_EQ(p.calls_in_block(), 0u);
    p.plugin.controls[PARAM_DRIVE] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(p.calls_in_block(), 0u);

    // Every port at once.
    for (int i = 0; i < kParamCount; ++i) p.plugin.controls[i] = 1;
    p.plugin.controls[PARAM_BYPASS] = 0;
    EXPECT_EQ(p.calls_in_block(), 6u);
    EXPECT_EQ(p.calls_in_block(), 0u);
}

TEST(Lv2EngineCalls, ARestoreGivesTheEngineAllSixValuesOnce) {
    Probed p;
    for (int i = 0; i < kParamCount; ++i) p.plugin.connect(control_port(i), nullptr);
    MemoryState saved;
    ASSERT_EQ(p.plugin.save(saved), LV2_STATE_SUCCESS);
    ASSERT_EQ(p.plugin.restore(saved), LV2_STATE_SUCCESS);
    EXPECT_EQ(p.calls_in_block(), 6u);
    EXPECT_EQ(p.calls_in_block(), 0u);
}

// While a state call holds the lock, run neither waits nor touches the engine's
// values; the port changes it saw arrive at the first block after the lock is free.
TEST(Lv2EngineCalls, RunKeepsProcessingWhileTheLockIsHeldAndCatchesUpAfter) {
    Probed p, twin;
    const auto input = test_signal(4096, 48000);
    ParamHandover* handover = p.probe->handover(p.plugin.handle());
    handover_lock(*handover);

    p.plugin.controls[PARAM_DRIVE] = 95;
    p.plugin.controls[PARAM_MIX] = 20;
    const uint64_t before = p.calls();
    auto held = std::async(std::launch::async, [&] { return p.plugin.process(input, 64); });
    if (held.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        handover_unlock(*handover);
        held.wait();
        FAIL() << "run waited for the parameter lock";
    }
    // The same sound as an instance whose ports never changed.
    EXPECT_TRUE(bit_equal(held.get(), twin.plugin.process(input, 64)));
    EXPECT_EQ(p.calls(), before);

    handover_unlock(*handover);
    EXPECT_EQ(p.calls_in_block(), 2u);
    EXPECT_EQ(p.calls_in_block(), 0u);
    float values[kParamCount];
    ASSERT_TRUE(p.plugin.engine_values(values));
    EXPECT_EQ(values[PARAM_DRIVE], 95);
    EXPECT_EQ(values[PARAM_MIX], 20);
}

} // namespace
