// Test support: a real nginx serving a folder on 127.0.0.1, stopped with its handle.
#pragma once

#include <string>

// Starts nginx (one process, as root, daemon off) that serves web_root on 127.0.0.1:port
// with sendfile, logging each request to access_log (empty: a file in its own prefix
// folder, see access_log_path). The constructor waits up to 5 s for the port to accept
// connections; running() tells whether it did. The destructor ends nginx and removes
// the prefix folder (never web_root or a given access log).
class nginx_server {
  public:
    nginx_server(const std::string &web_root, int port = 80, const std::string &access_log = "");
    ~nginx_server();
    nginx_server(const nginx_server &) = delete;
    nginx_server &operator=(const nginx_server &) = delete;

    bool running() const { return running_; }
    int pid() const { return pid_; }
    int port() const { return port_; }
    const std::string &access_log_path() const { return access_log_; }
    // nginx's own error log, for a failing test to print.
    std::string error_log() const;
    // Ends nginx now (also done by the destructor); waits at most 5 s.
    void stop();

  private:
    std::string prefix_;
    std::string access_log_;
    int port_;
    int pid_ = -1;
    bool running_ = false;
};

// 1 when something accepts TCP connections on 127.0.0.1:port within timeout_ms.
bool wait_for_local_port(int port, int timeout_ms);
