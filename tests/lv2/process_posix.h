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

// A JACK server of our own with the dummy backend (no sound hardware), under a name no
// one else uses; stopped by its PID when the object goes.
class JackServer {
  public:
    explicit JackServer(const std::string& log_path);
    // Waits (at most 30 s) until the server takes clients.
    bool wait_ready();
    // The environment entry that sends JACK clients to this server.
    std::string env() const { return "JACK_DEFAULT_SERVER=" + name_; }

  private:
    std::string name_;
    BackgroundProcess process_;
};

// Whether `name` is an executable on PATH.
bool have_program(const std::string& name);
