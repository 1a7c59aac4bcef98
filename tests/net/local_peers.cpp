// Test helper: local TCP peers, every wait bounded.
#include "tests/net/local_peers.h"

#include "tests/support/loopback_listener.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

sockaddr_in loopback_address() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int unused_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback_address();
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

local_listener::local_listener(int backlog) {
    fd_ = listen_on_loopback(0, backlog, 0, &port_);
}

local_listener::~local_listener() {
    if (fd_ >= 0)
        close(fd_);
}

int local_listener::accept_one(int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1)
        return -1;
    return accept(fd_, nullptr, nullptr);
}

int drain_until_closed(int fd, int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int total = 0;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1)
            continue;
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        total += int(got);
    }
    return total;
}

void reset_and_close(int fd) {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

scripted_peer::scripted_peer(std::function<int(int fd)> script) {
    thread_ = std::thread([this, script] {
        int fd = listener_.accept_one(5000);
        if (fd < 0)
            return;
        if (script(fd) != -1)
            close(fd);
    });
}

scripted_peer::~scripted_peer() {
    if (thread_.joinable())
        thread_.join();
}
