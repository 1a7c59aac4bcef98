// Test helpers for client tests: a forked child with a bounded wait, a captured debug log,
// and a read-only bind mount (tests run as root, so permission bits alone stop nothing).
#pragma once

#include "client/debug_log.h"
#include "tests/support/files.h"

#include <csignal>
#include <functional>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs body in a forked child and returns its exit status, or -1 when it was killed
// or did not end within timeout_ms. The child leaves with _exit, skipping test teardown.
inline int run_in_child(const std::function<int()> &body, int timeout_ms = 10000) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int code = body();
        fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    bool ended = wait_until([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout_ms);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Sends the debug log to a file of its own for the life of the object.
class log_capture {
  public:
    explicit log_capture(const std::string &path) : path_(path) {
        if (qorl_client_debug_logfile_is_open())
            qorl_client_debug_logfile_close();
        unlink(path.c_str());
        qorl_client_set_debug_logfile_name(path.c_str());
        qorl_client_try_open_debug_logfile(); // now, so a later trace level adds no "opened" line
    }
    ~log_capture() {
        if (qorl_client_debug_logfile_is_open())
            qorl_client_debug_logfile_close();
    }
    std::string text() const { return read_file(path_); }

  private:
    std::string path_;
};

// A read-only view of a directory, undone with the object.
class read_only_mount {
  public:
    explicit read_only_mount(const std::string &dir) : dir_(dir) {
        ok_ = mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) == 0;
        if (ok_ &&
            mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            umount2(dir.c_str(), MNT_DETACH);
            ok_ = false;
        }
    }
    ~read_only_mount() {
        if (ok_)
            umount2(dir_.c_str(), MNT_DETACH);
    }
    bool ok() const { return ok_; }

  private:
    std::string dir_;
    bool ok_ = false;
};

// Changes the working directory for the life of the object.
class working_directory {
  public:
    explicit working_directory(const std::string &dir) {
        char *old = getcwd(nullptr, 0);
        old_ = old ? old : "/";
        free(old);
        ok_ = chdir(dir.c_str()) == 0;
    }
    ~working_directory() {
        if (chdir(old_.c_str()) != 0) {
        }
    }
    bool ok() const { return ok_; }

  private:
    std::string old_;
    bool ok_ = false;
};
