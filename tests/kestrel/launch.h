// Runs the emberpress-news tool as a child process (which inherits this process's
// APPDATA) and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct Launch {
    unsigned long exit_code = 0;
    std::string out, err;
    bool timed_out = false;
};

// Arguments are UTF-8; each reaches the tool as one argument, whatever it holds.
// A launch that Wine failed to start (exit status 1 before the program printed
// anything; the tool itself never exits with 1) is repeated, up to 5 times.
Launch run_news(const std::vector<std::string>& args);

// How many launches Wine failed to start so far.
int wine_start_failures();
