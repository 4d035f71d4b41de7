// The audio path allocates nothing: every operator new and every malloc, calloc and
// realloc call of this executable is counted (operator new is replaced here, the C
// allocation calls are wrapped by the linker), and the count must not move while the
// engine processes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "engine/denormals.h"
#include "engine/engine.h"
#include "engine/handover.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};
void note() {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
}
} // namespace

extern "C" {
void* __real_malloc(size_t n);
void* __real_calloc(size_t n, size_t size);
void* __real_realloc(void* p, size_t n);
void* __wrap_malloc(size_t n) {
    note();
    return __real_malloc(n);
}
void* __wrap_calloc(size_t n, size_t size) {
    note();
    return __real_calloc(n, size);
}
void* __wrap_realloc(void* p, size_t n) {
    note();
    return __real_realloc(p, n);
}
}

void* operator new(size_t n) {
    note();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

namespace {

// Counts the allocations made by f.
template <typename F>
int allocations_in(F&& f) {
    allocations = 0;
    counting = true;
    f();
    counting = false;
    return allocations.load();
}

} // namespace

TEST(NoAllocation, TheCounterSeesEveryKindOfAllocation) {
    void* volatile p = nullptr;
    // A new counts in operator new and again in the malloc it calls.
    EXPECT_GE(allocations_in([&] { p = new int(3); }), 1);
    delete static_cast<int*>(p);
    EXPECT_EQ(allocations_in([&] { p = std::malloc(24); }), 1);
    EXPECT_EQ(allocations_in([&] { p = std::realloc(p, 48); }), 1);
    std::free(p);
    EXPECT_EQ(allocations_in([&] { p = std::calloc(4, 4); }), 1);
    std::free(p);
    EXPECT_GE(allocations_in([] { std::vector<float> v(100); }), 1);
}

TEST(NoAllocation, AudioPathAllocatesNothing) {
    DenormalGuard guard;
    std::vector<float> in(4096), out(4096);
    for (size_t i = 0; i < in.size(); ++i) in[i] = float(int(i % 200) - 100) * 0.01f;
    for (float fs : {8000.0f, 44100.0f, 96000.0f, 176400.0f}) {
        auto e = std::make_unique<Engine>();
        auto h = std::make_unique<ParamHandover>();
        engine_init(*e);
        engine_set_sample_rate(*e, fs);
        engine_reset(*e);
        handover_init(*h, kParamDefaults);
        const int n = allocations_in([&] {
            for (int block = 0; block < 16; ++block) {
                const bool locked = handover_begin_block(*h, *e);
                handover_offer(*h, *e, locked, block % kParamCount, float(block * 6 % 100));
                engine_process(*e, in.data(), out.data(), 256);
                handover_end_block(*h, locked);
            }
            engine_process(*e, out.data(), out.data(), 4096); // in place
        });
        EXPECT_EQ(n, 0) << fs;
    }
}
