// A one-connection TCP server thread that answers with scripted bytes, for the replies
// real servers rarely give: chunks, early closes, stalls and garbage.
#pragma once

#include "tests/support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class scripted_server {
  public:
    struct step {
        std::string bytes;
        int pause_ms; // before these bytes
    };

    // Serves one connection: reads the request head, sends the steps, then closes, or
    // with hold_ms > 0 keeps the connection open that long (or until the client closes).
    explicit scripted_server(std::vector<step> steps, int hold_ms = 0)
        : steps_(std::move(steps)), hold_ms_(hold_ms) {
        listener_ = listen_on_loopback(0, 4, SOCK_CLOEXEC, &port_);
        if (listener_ < 0)
            return;
        thread_ = std::thread([this]() { serve(); });
    }
    ~scripted_server() {
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
    }
    int port() const { return port_; }
    // The request head as received (valid once the client is done).
    std::string request() {
        if (thread_.joinable())
            thread_.join();
        return request_;
    }

  private:
    void serve() {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1)
            return;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        char buffer[4096];
        while (request_.find("\r\n\r\n") == std::string::npos) {
            pollfd c{fd, POLLIN, 0};
            if (poll(&c, 1, 5000) != 1)
                break;
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request_.append(buffer, size_t(n));
        }
        for (const step &s : steps_) {
            if (s.pause_ms > 0)
                usleep(useconds_t(s.pause_ms) * 1000);
            if (send(fd, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL) < 0)
                break;
        }
        if (hold_ms_ > 0) {
            pollfd c{fd, POLLIN, 0};
            while (poll(&c, 1, hold_ms_) == 1 && read(fd, buffer, sizeof buffer) > 0) {
            }
        }
        close(fd);
    }

    std::vector<step> steps_;
    int hold_ms_;
    int listener_ = -1;
    int port_ = 0;
    std::string request_;
    std::thread thread_;
};
