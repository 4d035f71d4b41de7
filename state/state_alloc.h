// The heap the state library allocates from: the C heap, through one seam so that
// tests can make allocations fail on purpose and count what is still allocated.
//
// Only tests call state_alloc_fail_after and state_alloc_live. Each archive is used by
// one thread at a time, but several instances may save on several threads at once, so
// the bookkeeping is kept per thread.
#pragma once

#include <cstddef>

// malloc/realloc/free; a refused allocation returns null with errno ENOMEM.
void* state_malloc(size_t size);
void* state_realloc(void* block, size_t size);
void state_free(void* block);

// Test seam: let this thread's next `count` allocations succeed and refuse every one after
// them; a negative count (the default) refuses none.
void state_alloc_fail_after(long count);
// Test seam: blocks obtained through state_malloc/state_realloc and not yet passed to
// state_free (buffers handed to the caller, who releases them with free, stay counted).
long state_alloc_live();
