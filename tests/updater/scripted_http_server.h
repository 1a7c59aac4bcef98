// Test support: a one-thread HTTP server on 127.0.0.1 whose answers can be cut, stalled or unsized.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// How a scripted answer goes out.
enum class delivery {
    whole,          // head with Content-Length, then the whole body
    without_length, // head without Content-Length; the body ends with the connection
    cut_short,      // Content-Length of the whole body, then half of it, then close
    stalled,        // Content-Length, half of the body, then nothing until the server stops
};

// Answers GET requests one connection at a time. Paths without an answer get a 404.
class scripted_http_server {
  public:
    explicit scripted_http_server(int port = 80);
    ~scripted_http_server();
    scripted_http_server(const scripted_http_server &) = delete;
    scripted_http_server &operator=(const scripted_http_server &) = delete;

    bool running() const { return listen_fd_ >= 0; }
    void answer(const std::string &path, const std::string &body, delivery how = delivery::whole);
    // The request paths received so far, in order.
    std::vector<std::string> requests();

  private:
    struct script {
        std::string body;
        delivery how;
    };
    void serve();
    void handle(int fd);

    int listen_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::map<std::string, script> scripts_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// The text compressed in gzip format.
std::string gzip_text(const std::string &text);
