// Heap texts of the news store: C heap memory owned by a unique_ptr while in use.
#pragma once

#include <cstdlib>
#include <memory>

struct ReleaseToHeap {
    void operator()(void* p) const { free(p); }
};

template <class T>
using HeapPtr = std::unique_ptr<T, ReleaseToHeap>;
