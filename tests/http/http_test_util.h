// Helpers for the HTTP tests: the debug log as evidence, and draining a processor's output.
#pragma once

#include "client/debug_log.h"
#include "http/http_processor.h"
#include "tests/support/files.h"

#include <string>

// Sends report_message output to a private log file and shows what was written after
// the capture began.
class log_capture {
  public:
    log_capture() {
        if (!qorl_client_debug_logfile_is_open()) {
            qorl_client_set_debug_logfile_name(path());
            qorl_client_try_open_debug_logfile();
        }
        start_ = read_file(path()).size();
    }
    std::string text() const { return read_file(path()).substr(start_); }
    int count(const std::string &needle) const {
        std::string t = text();
        int n = 0;
        for (size_t at = t.find(needle); at != std::string::npos; at = t.find(needle, at + 1))
            ++n;
        return n;
    }
    bool contains(const std::string &needle) const { return count(needle) > 0; }

  private:
    static const char *path() { return "/tmp/duskmere-http-test.log"; }
    size_t start_;
};

// Everything the processor has to send now, as one string.
inline std::string drain(qorl_http_data_processor_oline &p) {
    std::string out;
    unsigned char buffer[8192];
    for (;;) {
        int32_t n = p.fetch_outgoing_data(buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(reinterpret_cast<char *>(buffer), size_t(n));
    }
    return out;
}
