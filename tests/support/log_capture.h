// Test support: routes the library's reports into a scratch file that a test can read.
// The file is opened at once, so descriptor counts taken afterwards already include it.
#pragma once

#include "client/debug_log.h"
#include "tests/support/files.h"

#include <string>

// level: the log level while the capture lasts (the previous one comes back with the
// destructor). text() can be read at any time; the file stays open until the capture ends.
class log_capture {
  public:
    explicit log_capture(int level = 3) {
        if (qorl_client_debug_logfile_is_open())
            qorl_client_debug_logfile_close();
        path_ = dir_ / "log.txt";
        qorl_client_set_debug_logfile_name(path_.c_str());
        saved_level_ = log_level;
        log_level = 1; // the opening trace line stays out of the file
        qorl_client_try_open_debug_logfile();
        log_level = level;
    }
    ~log_capture() {
        if (qorl_client_debug_logfile_is_open())
            qorl_client_debug_logfile_close();
        qorl_client_set_debug_logfile_name(nullptr);
        log_level = saved_level_;
    }
    log_capture(const log_capture &) = delete;
    log_capture &operator=(const log_capture &) = delete;

    std::string text() const { return read_file(path_); }
    bool contains(const std::string &needle) const {
        return text().find(needle) != std::string::npos;
    }

  private:
    scratch_dir dir_{"log-capture"};
    std::string path_;
    int saved_level_ = 1;
};
