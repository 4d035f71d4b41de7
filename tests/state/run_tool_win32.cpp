#include "run_tool.h"

std::string shell_quote(const std::string& arg) {
    return "\"" + arg + "\"";
}

// The build tree is on the Unix side; Wine shows it as drive Z:.
std::string tool_path() {
    std::string path = "Z:" + std::string(EMBER_STATE_TOOL);
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// cmd /c drops the first and the last quote of a line that holds several.
std::string shell_line(const std::string& command) {
    return "\"" + command + "\"";
}

int exit_status(int r) {
    return r;
}
