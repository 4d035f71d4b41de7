#include "thread_yield.h"

#include <windows.h>

void thread_yield() {
    SwitchToThread();
}
