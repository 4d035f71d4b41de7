// The parameter hand-over between a host thread (state restore and save) and the
// audio thread, with the real engine and real threads. Also built with
// ThreadSanitizer natively.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "engine/denormals.h"
#include "engine/engine.h"
#include "engine/handover.h"

namespace {

struct Instance {
    Engine engine;
    ParamHandover h;
    float buf[32] = {};
    Instance() {
        engine_init(engine);
        engine_set_sample_rate(engine, 48000.0f);
        engine_reset(engine);
        handover_init(h, kParamDefaults);
    }
};

void fill(float v[kParamCount], float x) {
    for (int i = 0; i < kParamCount; ++i) v[i] = x;
}

} // namespace

TEST(Handover, AudioThreadSkipsAHeldLockAndCatchesUpLater) {
    auto in = std::make_unique<Instance>();
    handover_lock(in->h); // a save or restore in progress
    bool locked = handover_begin_block(in->h, in->engine);
    EXPECT_FALSE(locked);
    handover_offer(in->h, in->engine, locked, PARAM_DRIVE, 90.0f);
    handover_end_block(in->h, locked);
    EXPECT_EQ(in->engine.values[PARAM_DRIVE], 50.0f); // waits in `received`
    EXPECT_EQ(in->h.param_lock.load(), 1);            // still the other thread's

    handover_unlock(in->h);
    locked = handover_begin_block(in->h, in->engine);
    EXPECT_TRUE(locked);
    EXPECT_EQ(in->engine.values[PARAM_DRIVE], 90.0f);
    EXPECT_EQ(in->h.applied[PARAM_DRIVE], 90.0f);
    handover_end_block(in->h, locked);
    EXPECT_EQ(in->h.param_lock.load(), 0);
}

TEST(Handover, RestoreOverwritesHostValuesReceivedInBetween) {
    auto in = std::make_unique<Instance>();
    handover_lock(in->h);
    bool locked = handover_begin_block(in->h, in->engine);
    handover_offer(in->h, in->engine, locked, PARAM_TONE, 12.0f);
    handover_end_block(in->h, locked);
    handover_unlock(in->h);

    const float restored[kParamCount] = {10, 20, 30, 40, 50, 1};
    std::thread([&] { handover_restore(in->h, restored); }).join();
    locked = handover_begin_block(in->h, in->engine);
    ASSERT_TRUE(locked);
    for (int i = 0; i < kParamCount; ++i) {
        EXPECT_EQ(in->engine.values[i], restored[i]) << i;
        EXPECT_EQ(in->h.received[i], restored[i]) << i;
    }
    EXPECT_EQ(in->engine.bypass.target, 0.0f);
    handover_end_block(in->h, locked);
}

TEST(Handover, BadHostValuesAreRefusedAndChangeNothing) {
    auto in = std::make_unique<Instance>();
    const bool locked = handover_begin_block(in->h, in->engine);
    ASSERT_TRUE(locked);
    handover_offer(in->h, in->engine, locked, PARAM_MIX, NAN);
    handover_offer(in->h, in->engine, locked, PARAM_MIX, INFINITY);
    handover_offer(in->h, in->engine, locked, -1, 5.0f);
    handover_offer(in->h, in->engine, locked, kParamCount, 5.0f);
    handover_end_block(in->h, locked);
    for (int i = 0; i < kParamCount; ++i) {
        EXPECT_EQ(in->engine.values[i], kParamDefaults[i]) << i;
        EXPECT_EQ(in->h.received[i], kParamDefaults[i]) << i;
        EXPECT_EQ(in->h.applied[i], kParamDefaults[i]) << i;
    }
    EXPECT_EQ(in->engine.mix.target, in->engine.mix.y);
}

namespace {

// Restored sets have all six values equal to restore_value(g) for generation g; host
// values offered by the audio thread sit halfway between two restore values, so every
// value in the engine tells where it came from.
float restore_value(int g) {
    return float(g) * 1e-5f;
}
float offer_value(uint32_t block) {
    return float(block % 40000) * 1e-5f + 5e-6f;
}
int restore_generation(float v) { // -1 for a host value
    const int g = int(std::lround(v * 1e5f));
    return restore_value(g) == v ? g : -1;
}

} // namespace

TEST(Handover, RestoresArriveWholeInTheNextLockedBlockUnderRealThreads) {
    constexpr int kRestores = 10000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto in = std::make_unique<Instance>();
    // Start from restore 0, so that the defaults never show up in the checks.
    float restored0[kParamCount];
    fill(restored0, restore_value(0));
    for (int i = 0; i < kParamCount; ++i) engine_set_param(in->engine, i, restored0[i]);
    handover_init(in->h, restored0);

    std::atomic<int> completed{0}; // last restore whose handover_restore returned
    std::atomic<int> seen{-1};     // last restore the audio thread found in the engine
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, late{0}, torn_snapshots{0}, timeouts{0};
    std::atomic<uint32_t> unlocked_blocks{0};

    std::thread audio([&] {
        DenormalGuard guard;
        int last = -1;
        for (uint32_t block = 0; !stop.load(); ++block) {
            const int done = completed.load(std::memory_order_acquire);
            const bool locked = handover_begin_block(in->h, in->engine);
            if (locked) {
                int newest = -1;
                for (float v : in->engine.values) newest = std::max(newest, restore_generation(v));
                if (newest > last) {
                    for (float v : in->engine.values)
                        if (v != restore_value(newest)) ++torn;
                    last = newest;
                    seen.store(last, std::memory_order_release);
                }
                if (done > last) ++late; // a finished restore missed this block
            } else {
                ++unlocked_blocks;
            }
            handover_offer(in->h, in->engine, locked, int(block % kParamCount), offer_value(block));
            engine_process(in->engine, in->buf, in->buf, 32);
            handover_end_block(in->h, locked);
            // A host calls back once per period and is idle in between.
            const auto next = std::chrono::steady_clock::now() + std::chrono::microseconds(10);
            std::this_thread::yield();
            while (std::chrono::steady_clock::now() < next) {
            }
        }
    });

    for (int g = 1; g <= kRestores; ++g) {
        float values[kParamCount];
        fill(values, restore_value(g));
        handover_restore(in->h, values);
        completed.store(g, std::memory_order_release);
        // Until the audio thread has it, save state over and over, sometimes slowly
        // (holding the lock for a few microseconds), so that blocks find the lock taken
        // and go on without it. A save reads one consistent set: whatever came from a
        // restore is from one restore.
        for (int round = 0; seen.load(std::memory_order_acquire) < g; ++round) {
            if (round % 2) {
                handover_lock(in->h);
                const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(4);
                while (std::chrono::steady_clock::now() < until) {
                }
                handover_unlock(in->h);
            }
            float snap[kParamCount];
            handover_snapshot(in->h, in->engine, snap);
            int gen = -1;
            for (float v : snap) {
                const int r = restore_generation(v);
                if (r >= 0 && gen >= 0 && r != gen) ++torn_snapshots;
                if (r >= 0) gen = r;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ++timeouts;
                break;
            }
            std::this_thread::yield();
        }
        if (timeouts) break;
    }
    stop = true;
    audio.join();

    EXPECT_EQ(timeouts.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(late.load(), 0);
    EXPECT_EQ(torn_snapshots.load(), 0);
    EXPECT_EQ(seen.load(), kRestores);
    EXPECT_EQ(in->h.param_lock.load(), 0);
    // How often a block found the lock taken depends on the scheduler (never when both
    // threads share one core); the held-lock case itself is tested deterministically
    // above.
    RecordProperty("unlocked_blocks", int(unlocked_blocks.load()));
}
