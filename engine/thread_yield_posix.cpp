#include "thread_yield.h"

#include <sched.h>

void thread_yield() {
    sched_yield();
}
