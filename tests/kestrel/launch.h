// Runs the emberpress-news tool as a child process (which inherits this process's
// store variables) and collects what it printed. One implementation per platform.
#pragma once

#include <string>
#include <vector>

struct Launch {
    unsigned long exit_code = 0;
    std::string out, err;
    bool timed_out = false;
};

// Arguments are UTF-8; each reaches the tool as one argument, whatever it holds.
// Under Wine, a launch that failed to start (exit status 1 before the program printed
// anything; the tool itself never exits with 1) is repeated, up to 5 times.
Launch run_news(const std::vector<std::string>& args);

// How many launches failed to start and were repeated so far (only Wine's do).
int start_failures();
