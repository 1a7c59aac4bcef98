// Test support: a small HTTP server whose faults are chosen per path.
#include "tests/updater/scripted_http_server.h"

#include "tests/support/loopback_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstring>

namespace {

void send_all(int fd, const char *bytes, size_t length) {
    while (length > 0) {
        ssize_t n = send(fd, bytes, length, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        bytes += n;
        length -= size_t(n);
    }
}

} // namespace

scripted_http_server::scripted_http_server(int port) {
    listen_fd_ = listen_on_loopback(port, 8, SOCK_CLOEXEC, nullptr);
    if (listen_fd_ < 0)
        return;
    thread_ = std::thread([this]() { serve(); });
}

scripted_http_server::~scripted_http_server() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listen_fd_ >= 0)
        close(listen_fd_);
}

void scripted_http_server::answer(const std::string &path, const std::string &body, delivery how) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_[path] = script{body, how};
}

std::vector<std::string> scripted_http_server::requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void scripted_http_server::serve() {
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        handle(fd);
        close(fd);
    }
}

void scripted_http_server::handle(int fd) {
    // Read the request head (bounded: 2 s, 16 KiB).
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
        if (std::chrono::steady_clock::now() > deadline)
            return;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        head.append(buffer, size_t(n));
    }
    const size_t start = head.find(' ') + 1;
    const std::string path = head.substr(start, head.find(' ', start) - start);
    script s{"", delivery::whole};
    bool found;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(path);
        auto it = scripts_.find(path);
        found = it != scripts_.end();
        if (found)
            s = it->second;
    }
    if (!found) {
        const char not_found[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n"
                                 "Connection: close\r\n\r\nnot found";
        send_all(fd, not_found, sizeof not_found - 1);
        return;
    }
    std::string out = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    if (s.how != delivery::without_length)
        out += "Content-Length: " + std::to_string(s.body.size()) + "\r\n";
    out += "\r\n";
    const size_t sent = (s.how == delivery::cut_short || s.how == delivery::stalled)
                            ? s.body.size() / 2
                            : s.body.size();
    out.append(s.body, 0, sent);
    send_all(fd, out.data(), out.size());
    if (s.how == delivery::stalled)
        while (!stopping_)
            usleep(20000);
}

std::string gzip_text(const std::string &text) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, uLong(text.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef *>(&out[0]);
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}
