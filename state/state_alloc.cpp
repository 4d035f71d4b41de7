#include "state_alloc.h"

#include <cerrno>
#include <cstdlib>

namespace {
// Per thread: plug-in instances save and restore on any host thread at once, and a
// test's failure injection must not reach another thread's allocations.
thread_local long allowed = -1; // allocations left before refusing; negative: unlimited
thread_local long live = 0;

bool may_allocate() {
    if (allowed < 0) return true;
    if (allowed == 0) {
        errno = ENOMEM;
        return false;
    }
    --allowed;
    return true;
}
} // namespace

void* state_malloc(size_t size) {
    if (!may_allocate()) return nullptr;
    void* block = std::malloc(size ? size : 1);
    if (block)
        ++live;
    else
        errno = ENOMEM;
    return block;
}

void* state_realloc(void* block, size_t size) {
    if (!may_allocate()) return nullptr;
    void* grown = std::realloc(block, size ? size : 1);
    if (!grown)
        errno = ENOMEM;
    else if (!block)
        ++live;
    return grown;
}

void state_free(void* block) {
    if (!block) return;
    const int saved = errno; // callers set errno before cleaning up
    std::free(block);
    --live;
    errno = saved;
}

void state_alloc_fail_after(long count) {
    allowed = count;
}

long state_alloc_live() {
    return live;
}
