// Gives up the rest of the calling thread's time slice (the lock back-off of the
// parameter hand-over). One small file per platform implements it.
#pragma once

void thread_yield();
