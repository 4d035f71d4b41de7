#include "run_tool.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

} // namespace

ToolRun run_state_tool(const std::vector<std::string>& args) {
    // Named after the running test: CTest runs test cases side by side.
    const std::string base = testing::TempDir() + "emberpress-state-" +
                             testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string out = base + ".out", err = base + ".err";
    std::string command = shell_quote(tool_path());
    for (const std::string& a : args) command.append(" ").append(shell_quote(a));
    command.append(" >").append(shell_quote(out)).append(" 2>").append(shell_quote(err));
    std::fflush(nullptr);
    ToolRun run{exit_status(std::system(shell_line(command).c_str())), slurp(out), slurp(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return run;
}
