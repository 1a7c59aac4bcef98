// Test support: fork/exec with output capture and bounded waits.
#include "tests/support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

std::vector<std::string> merged_environment(const std::vector<std::string> &extra) {
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string &x : extra)
            if (x.substr(0, x.find('=')) == name || x == name)
                replaced = true;
        if (!replaced)
            env.push_back(entry);
    }
    for (const std::string &x : extra)
        if (x.find('=') != std::string::npos) // "NAME" alone removes the variable
            env.push_back(x);
    return env;
}

// In the child: no leak checks (toolkit libraries leak by design), then exec.
[[noreturn]] void exec_child(const std::vector<std::string> &argv,
                             const std::vector<std::string> &extra_env) {
    std::vector<std::string> env = merged_environment(extra_env);
    std::vector<char *> envp;
    for (std::string &e : env) {
        if (e.rfind("ASAN_OPTIONS=", 0) == 0)
            e += ":detect_leaks=0";
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execve(args[0], args.data(), envp.data());
    _exit(127);
}

long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

void decode_status(int status, int *exit_code, int *sig) {
    if (exit_code)
        *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (sig)
        *sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

} // namespace

process_result run_process(const std::vector<std::string> &argv,
                           const std::vector<std::string> &extra_env, int timeout_ms) {
    process_result result;
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0)
        return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipefd[1], 1);
        dup2(pipefd[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        exec_child(argv, extra_env);
    }
    close(pipefd[1]);
    long deadline = now_ms() + timeout_ms;
    char buffer[4096];
    for (;;) {
        long left = deadline - now_ms();
        if (left <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd p{pipefd[0], POLLIN, 0};
        int r = poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            continue;
        ssize_t n = read(pipefd[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.output.append(buffer, size_t(n));
    }
    close(pipefd[0]);
    int status = 0;
    // After EOF the process may still run briefly (or hold no pipe): bound that wait too.
    for (;;) {
        pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid)
            break;
        if (now_ms() > deadline + 5000 || result.timed_out) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timed_out = true;
            break;
        }
        usleep(10000);
    }
    decode_status(status, &result.exit_code, &result.signal);
    return result;
}

background_process::background_process(const std::vector<std::string> &argv,
                                       const std::vector<std::string> &extra_env,
                                       const std::string &output_path) {
    pid_ = fork();
    if (pid_ == 0) {
        int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        exec_child(argv, extra_env);
    }
}

background_process::~background_process() {
    kill_now();
}

void background_process::kill_now(int sig) {
    if (pid_ > 0) {
        kill(pid_, sig);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

bool background_process::wait(int timeout_ms, int *exit_code, int *sig) {
    if (pid_ <= 0)
        return false;
    long deadline = now_ms() + timeout_ms;
    for (;;) {
        int status = 0;
        pid_t w = waitpid(pid_, &status, WNOHANG);
        if (w == pid_) {
            decode_status(status, exit_code, sig);
            pid_ = -1;
            return true;
        }
        if (now_ms() >= deadline)
            return false;
        usleep(10000);
    }
}

std::string launcher_path() {
    return DUSKMERE_LAUNCHER;
}
