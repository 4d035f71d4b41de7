// with_time_limit: runs a test scenario on a thread of its own (which becomes the
// editor's creating thread); a scenario still running after `seconds` fails and ends
// the process, so that a deadlock fails the test instead of hanging the suite.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

inline void with_time_limit(const std::function<void()>& scenario, int seconds = 60) {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread worker([&] {
        scenario();
        std::lock_guard lock(mutex);
        done = true;
        ended.notify_one();
    });
    std::unique_lock lock(mutex);
    if (!ended.wait_for(lock, std::chrono::seconds(seconds), [&] { return done; })) {
        std::fprintf(stderr, "FAILED: the scenario did not end within %d s (deadlock?)\n", seconds);
        std::fflush(stderr);
#ifdef _WIN32
        // Not ExitProcess: the deadlocked threads may hold what its clean-up waits for.
        TerminateProcess(GetCurrentProcess(), 3);
#endif
        std::_Exit(3);
    }
    lock.unlock();
    worker.join();
}
