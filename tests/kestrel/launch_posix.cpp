#include "launch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "sandbox.h"

extern char** environ;

int start_failures() {
    return 0;
}

constexpr auto kLaunchLimit = std::chrono::seconds(60);

// Reads both pipes until both are closed or the time is up.
static bool collect(int out_fd, int err_fd, Launch& result) {
    const auto deadline = std::chrono::steady_clock::now() + kLaunchLimit;
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* into[2] = {&result.out, &result.err};
    int open_pipes = 2;
    while (open_pipes > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (poll(fds, 2, int(left.count())) < 0 && errno != EINTR) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                into[i]->append(buffer, size_t(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    return true;
}

Launch run_news(const std::vector<std::string>& args) {
    Launch result;
    std::string program = (executable_folder() / "emberpress-news").string();
    std::vector<char*> argv = {program.data()};
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    // Closed on exec, so that no other child holds these pipes open.
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return {0xFFFFFFFF, "", "pipe2 failed"};
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]), close(out[1]);
        return {0xFFFFFFFF, "", "pipe2 failed"};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    pid_t child;
    int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        close(out[0]), close(err[0]);
        return {0xFFFFFFFF, "", "posix_spawn failed"};
    }
    if (!collect(out[0], err[0], result)) {
        kill(child, SIGKILL);
        result.timed_out = true;
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? unsigned(WEXITSTATUS(status)) : 0xFFFFFFFF;
    return result;
}
