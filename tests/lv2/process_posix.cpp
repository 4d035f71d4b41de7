#include "process_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

struct Argv {
    std::vector<std::string> storage;
    std::vector<char*> pointers;
    explicit Argv(const std::vector<std::string>& items) : storage(items) {
        for (auto& s : storage) pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
    char** data() { return pointers.data(); }
};

std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const auto& x : extra) {
            const size_t eq = x.find('=');
            if (!std::strncmp(*e, x.c_str(), eq + 1)) replaced = true;
        }
        if (!replaced) env.push_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

CommandResult run_command(const std::vector<std::string>& argv, const std::string& input,
                          const std::vector<std::string>& env, double timeout_s) {
    CommandResult result;
    int in_pipe[2], out_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe)) return result;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, in_pipe[1]);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    Argv args(argv), envp(environment_with(env));
    pid_t pid = -1;
    const int spawned =
        posix_spawnp(&pid, args.data()[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in_pipe[0]);
    close(out_pipe[1]);
    if (spawned != 0) {
        close(in_pipe[1]);
        close(out_pipe[0]);
        result.output = std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned);
        return result;
    }

    // Feed stdin in the background (a host may read it slowly), collect the output here.
    signal(SIGPIPE, SIG_IGN);
    std::thread feeder([fd = in_pipe[1], input] {
        size_t done = 0;
        while (done < input.size()) {
            const ssize_t n = write(fd, input.data() + done, input.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(fd);
    });

    const auto t0 = std::chrono::steady_clock::now();
    char buf[4096];
    for (;;) {
        pollfd p{out_pipe[0], POLLIN, 0};
        const double left = timeout_s - seconds_since(t0);
        if (left <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        const int ready = poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        const ssize_t n = read(out_pipe[0], buf, sizeof buf);
        if (n <= 0) break;
        result.output.append(buf, static_cast<size_t>(n));
    }
    close(out_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    feeder.join();
    if (!result.timed_out && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::string& log_path,
                                     const std::vector<std::string>& env) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    Argv args(argv), envp(environment_with(env));
    if (posix_spawnp(&pid_, args.data()[0], &actions, nullptr, args.data(), envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

bool BackgroundProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

BackgroundProcess::~BackgroundProcess() {
    if (!running()) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

JackServer::JackServer(const std::string& log_path)
    : name_("emberpress-jack-" + std::to_string(getpid())),
      process_({"jackd", "--no-realtime", "-n", name_, "-d", "dummy", "-r", "48000", "-p", "256"},
               log_path) {}

bool JackServer::wait_ready() {
    const CommandResult r = run_command({"jack_wait", "-s", name_, "-w", "-t", "20"}, "", {}, 30);
    return r.status == 0 && process_.running();
}

bool have_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}
