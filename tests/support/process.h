// Test support: start real processes with bounded waits and collect what they print.
#pragma once

#include <string>
#include <vector>

struct process_result {
    int exit_code = -1; // exit status, or -1 when the process was killed by a signal
    int signal = 0;     // the signal that ended it, or 0
    bool timed_out = false;
    std::string output; // standard output and standard error together
};

// Runs argv[0] with the given arguments; extra_env entries ("NAME=value") are added to
// (or replace in) the environment. Kills the process after timeout_ms.
process_result run_process(const std::vector<std::string> &argv,
                           const std::vector<std::string> &extra_env = {}, int timeout_ms = 20000);

// A started process that is ended (SIGKILL) when the handle goes out of scope.
class background_process {
  public:
    background_process(const std::vector<std::string> &argv,
                       const std::vector<std::string> &extra_env = {},
                       const std::string &output_path = "/dev/null");
    ~background_process();
    background_process(const background_process &) = delete;
    background_process &operator=(const background_process &) = delete;

    int pid() const { return pid_; }
    // Waits up to timeout_ms for the process to end; true with its status when it did.
    bool wait(int timeout_ms, int *exit_code = nullptr, int *signal = nullptr);
    void kill_now(int sig = 9);

  private:
    int pid_ = -1;
};

// The launcher built with this tree.
std::string launcher_path();
