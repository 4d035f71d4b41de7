// State calls on one thread while the audio thread processes: every saved state is one
// consistent set of values, every change arrives, and the audio thread keeps running.
// Also built with ThreadSanitizer (test_vst3_tsan) against an instrumented module.
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "host.h"
#include "state/plugin_state.h"

namespace {

constexpr ParamID kDriveId = 1955105482u;
constexpr int kStateCalls = 2000;

std::vector<uint8_t> saved(const std::vector<float>& values) {
    size_t len = 0;
    uint8_t* bytes = plugin_state_save(values.data(), "vst3", kPluginPlatform, 48000.0f, &len);
    std::vector<uint8_t> out(bytes, bytes + len);
    std::free(bytes);
    return out;
}

// Runs `process` blocks on its own thread until stopped.
struct AudioThread {
    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::thread thread;
    template <class Block>
    explicit AudioThread(Block block)
        : thread([this, block]() mutable {
              while (!stop.load()) {
                  block(blocks.load());
                  blocks.fetch_add(1);
              }
          }) {}
    ~AudioThread() {
        stop = true;
        thread.join();
    }
    // Waits until the audio thread has finished `count` more blocks.
    void wait_blocks(long count) {
        const long target = blocks.load() + count;
        while (blocks.load() < target) std::this_thread::yield();
    }
};

} // namespace

TEST(Vst3Concurrency, StateCallsNeverTearAndNeverStopTheAudioThread) {
    ActiveProcessor p;
    const std::vector<float> defaults(kParamDefaults, kParamDefaults + kParamCount);
    const std::vector<float> a = {10, 20, 30, 40, 50, 0}, b = {90, 80, 70, 60, 190, 1};
    const std::vector<uint8_t> state_a = saved(a), state_b = saved(b);
    AudioThread audio([&p](long) {
        float in[64] = {}, out[64];
        in[0] = 0.5f;
        p.process(in, out, 64);
    });

    const long blocks_before = audio.blocks.load();
    for (int i = 0; i < kStateCalls; ++i) {
        ASSERT_EQ(p.set_state(i % 2 ? state_b : state_a), kResultOk);
        const std::vector<float> v = state_values(p.state());
        ASSERT_TRUE(v == defaults || v == a || v == b) << "torn state at call " << i;
    }
    audio.wait_blocks(2);
    EXPECT_GT(audio.blocks.load(), blocks_before) << "the audio thread kept running";
    EXPECT_EQ(state_values(p.state()), b) << "the last restore reached the engine";
}

TEST(Vst3Concurrency, QueueChangesDuringSavesAllArrive) {
    ActiveProcessor p;
    std::atomic<bool> sending{true};
    AudioThread audio([&p, &sending](long block) {
        float in[32] = {}, out[32];
        ParamChanges changes;
        if (sending.load()) changes.add(kDriveId, {{0, block % 2 ? 0.2 : 0.4}});
        p.process(in, out, 32, changes.changes());
    });
    for (int i = 0; i < kStateCalls; ++i) {
        const std::vector<float> v = state_values(p.state());
        ASSERT_TRUE(v[0] == 50.0f || v[0] == 20.0f || v[0] == 40.0f) << v[0];
        for (int k = 1; k < kParamCount; ++k) ASSERT_EQ(v[size_t(k)], kParamDefaults[k]);
    }
    sending = false;
    audio.wait_blocks(2);
    const float last = state_values(p.state())[0];
    audio.wait_blocks(2);
    EXPECT_EQ(state_values(p.state())[0], last) << "settled";
    EXPECT_TRUE(last == 20.0f || last == 40.0f);
}

TEST(Vst3Concurrency, TwoInstancesSaveOnTwoThreadsAtOnce) {
    ActiveProcessor p1, p2;
    auto saver = [](ActiveProcessor* p) {
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(state_values(p->state()).size(), size_t(kParamCount));
    };
    std::thread t1(saver, &p1), t2(saver, &p2);
    t1.join();
    t2.join();
}

// Hosts take and drop references on any thread, through any interface of an object:
// with every thread busy on the same objects at once, no reference is lost or
// counted twice, so each object is freed by exactly its last release.
TEST(Vst3Concurrency, ReferencesTakenOnManyThreadsAllCount) {
    constexpr int kThreads = 4, kRounds = 20000;
    IComponent* c = new_processor();
    IEditController* e = new_controller();
    ASSERT_TRUE(c && e);
    auto* audio = query<IAudioProcessor>(c, kIAudioProcessorIid);
    auto* midi = query<IMidiMapping>(e, kIMidiMappingIid);
    ASSERT_TRUE(audio && midi);
    FUnknown* faces[] = {reinterpret_cast<FUnknown*>(c), reinterpret_cast<FUnknown*>(audio),
                         reinterpret_cast<FUnknown*>(e), reinterpret_cast<FUnknown*>(midi)};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&faces, t] {
            for (int r = 0; r < kRounds; ++r) {
                FUnknown* face = faces[(t + r) % 4];
                face->vtbl->addRef(face);
                face->vtbl->release(face);
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(release(audio), 1u);
    EXPECT_EQ(release(midi), 1u);
    EXPECT_EQ(release(c), 0u);
    EXPECT_EQ(release(e), 0u);
}
