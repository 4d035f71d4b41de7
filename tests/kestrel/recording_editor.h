// The store's replies, recorded: the tests' stand-in for the editor, whose
// editor_send_text would send them to the page.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kestrel/kestrel.h"

struct editor {
    std::mutex guard;
    std::vector<std::string> sent;
};

// Runs one command and returns the replies it sent.
std::vector<std::string> run(const std::string& command);
