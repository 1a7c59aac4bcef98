// Test helper: local TCP peers on 127.0.0.1 (a listener, a scripted peer on its own thread).
#pragma once

#include <netinet/in.h>

#include <functional>
#include <thread>

// 127.0.0.1 with port 0; the socket under test sets the port itself.
sockaddr_in loopback_address();
// A port on 127.0.0.1 that nothing listens on.
int unused_port();

// A listening socket on 127.0.0.1 with a port chosen by the system.
class local_listener {
  public:
    explicit local_listener(int backlog = 8);
    ~local_listener();
    local_listener(const local_listener &) = delete;
    local_listener &operator=(const local_listener &) = delete;

    int port() const { return port_; }
    int descriptor() const { return fd_; }
    // Accepts one connection, waiting at most timeout_ms; the descriptor or -1.
    int accept_one(int timeout_ms);

  private:
    int fd_ = -1;
    int port_ = 0;
};

// Reads from fd until the peer closes or timeout_ms pass; returns the bytes read.
int drain_until_closed(int fd, int timeout_ms);
// Closes fd with a reset (SO_LINGER 0) instead of an orderly close.
void reset_and_close(int fd);

// Accepts one connection on its own thread and runs script on it; the descriptor is
// closed afterwards unless the script returns -1 (it closed it itself).
class scripted_peer {
  public:
    explicit scripted_peer(std::function<int(int fd)> script);
    ~scripted_peer();
    scripted_peer(const scripted_peer &) = delete;
    scripted_peer &operator=(const scripted_peer &) = delete;
    int port() const { return listener_.port(); }

  private:
    local_listener listener_;
    std::thread thread_;
};
