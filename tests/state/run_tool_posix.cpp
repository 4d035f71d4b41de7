#include <sys/wait.h>

#include "run_tool.h"

std::string shell_quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string tool_path() {
    return EMBER_STATE_TOOL;
}

std::string shell_line(const std::string& command) {
    return command;
}

int exit_status(int r) {
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}
