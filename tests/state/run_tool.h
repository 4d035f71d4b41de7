// Runs the emberpress-state program built beside these tests (one small file per
// platform does the shell quoting).
#pragma once

#include <string>
#include <vector>

struct ToolRun {
    int status; // the program's exit status
    std::string out, err;
};

ToolRun run_state_tool(const std::vector<std::string>& args);

// Platform parts.
std::string shell_quote(const std::string& arg);
std::string tool_path(); // EMBER_STATE_TOOL as this platform's shell needs it
std::string shell_line(const std::string& command);
int exit_status(int system_result);
