// The store's replies, recorded: where the editor would send them to the page, the
// tests keep them in order.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kestrel/kestrel.h"

struct ReplySink {
    std::mutex guard;
    std::vector<std::string> sent;

    static void record(void* sink, const char* text) {
        ReplySink* s = static_cast<ReplySink*>(sink);
        std::lock_guard<std::mutex> hold(s->guard);
        s->sent.push_back(text);
    }
};

// Runs one command and returns the replies it sent.
inline std::vector<std::string> run(const std::string& command) {
    ReplySink sink;
    kestrel_handle_message(command.c_str(), ReplySink::record, &sink);
    return sink.sent;
}
