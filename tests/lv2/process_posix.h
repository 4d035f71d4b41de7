// Running the LV2 hosts and tools of the system (lv2_validate, lv2apply, jackd,
// jalv) from the tests. Every wait has a time limit, so a stuck host fails the test
// instead of hanging it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct CommandResult {
    int status = -1; // exit status; -1 when it could not run or was stopped
    bool timed_out = false;
    std::string output; // stdout and stderr together
};

// Runs argv[0] (looked up in PATH) with extra environment entries ("NAME=value"),
// feeding `input` to its standard input, and waits at most `timeout_s` seconds.
CommandResult run_command(const std::vector<std::string>& argv, const std::string& input = "",
                          const std::vector<std::string>& env = {}, double timeout_s = 60);

// A process started in the background; stopped by its PID when the object goes.
class BackgroundProcess {
  public:
    BackgroundProcess(const std::vector<std::string>& argv, const std::string& log_path,
                      const std::vector<std::string>& env = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;
    pid_t pid() const { return pid_; }
    bool running();

  private:
    pid_t pid_ = -1;
};

// Whether `name` is an executable on PATH.
bool have_program(const std::string& name);
