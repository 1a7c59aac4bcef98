// curl as a real client against a small server built on the processor's server side.
#include "http/http_processor.h"
#include "tests/support/files.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Serves connections one at a time until stopped: GET answers 200 with a cookie and a
// short text, POST answers 200 with the number of body bytes it received.
class test_server {
  public:
    test_server() {
        listener_ = listen_on_loopback(0, 4, SOCK_CLOEXEC, &port_);
        if (listener_ < 0)
            return;
        thread_ = std::thread([this]() {
            while (!stop_) {
                pollfd p{listener_, POLLIN, 0};
                if (poll(&p, 1, 100) == 1) {
                    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                    if (fd >= 0)
                        serve(fd);
                }
            }
        });
    }
    ~test_server() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
    }
    std::string url(const std::string &path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    struct connection {
        int fd = -1;
        bool closed = false;
        std::string body_in, body_out;
        size_t sent = 0;
    };

    static int on_complete(qorl_http_data_processor_oline *p, void *u) {
        auto *c = static_cast<connection *>(u);
        if (word_equals_method(p, "POST")) {
            c->body_out = "received " + std::to_string(c->body_in.size()) + " bytes\n";
        } else {
            c->body_out = "hello " + std::string(p->request_path) + "\n";
            p->set_cookie("sid", "42", "127.0.0.1", 300, 0);
        }
        return p->send_response(200, content_type_text_plain, int32_t(c->body_out.size()), "OK");
    }
    static bool word_equals_method(qorl_http_data_processor_oline *p, const char *m) {
        return std::string(p->request_method) == m;
    }

    void serve(int fd) {
        qorl_http_data_processor_oline p;
        connection c;
        c.fd = fd;
        p.user_data = &c;
        p.on_message_received = [](qorl_http_data_processor_oline *, void *) { return 1; };
        p.on_content_complete = on_complete;
        p.on_content_data_received = [](qorl_http_data_processor_oline *, void *u,
                                        const unsigned char *b, int32_t n) {
            static_cast<connection *>(u)->body_in.append(reinterpret_cast<const char *>(b),
                                                         size_t(n));
            return 1;
        };
        p.on_close_connection = [](qorl_http_data_processor_oline *, void *u) {
            static_cast<connection *>(u)->closed = true;
        };
        p.on_content_body_get_tx_data = [](qorl_http_data_processor_oline *, void *u,
                                           unsigned char *buffer, int32_t capacity) {
            auto *conn = static_cast<connection *>(u);
            size_t left = conn->body_out.size() - conn->sent;
            if (left == 0)
                return -1;
            size_t n = left < size_t(capacity) ? left : size_t(capacity);
            memcpy(buffer, conn->body_out.data() + conn->sent, n);
            conn->sent += n;
            return int(n);
        };
        unsigned char buffer[8192];
        for (int rounds = 0; rounds < 1000 && !c.closed && !stop_; ++rounds) {
            // Send whatever is queued, then wait for more input.
            for (;;) {
                int32_t n = p.fetch_outgoing_data(buffer, sizeof buffer);
                if (n <= 0)
                    break;
                if (send(fd, buffer, size_t(n), MSG_NOSIGNAL) != n)
                    c.closed = true;
            }
            if (c.closed || p.failed)
                break;
            pollfd pf{fd, POLLIN, 0};
            if (poll(&pf, 1, 100) != 1)
                continue;
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            int r = p.process_incoming_data(buffer, int32_t(n));
            if (r < 0)
                break;
        }
        close(fd);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

process_result curl(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {"/usr/bin/curl", "-sS", "-v", "--max-time", "10"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, {}, 20000);
}

TEST(CurlAgainstServerSide, GetPostAndBadRequest) {
    const int fds = count_open_descriptors();
    {
        test_server server;
        process_result get = curl({server.url("/hello")});
        EXPECT_EQ(get.exit_code, 0) << get.output;
        EXPECT_NE(get.output.find("< HTTP/1.1 200 OK"), std::string::npos) << get.output;
        EXPECT_NE(get.output.find("< Set-Cookie: sid=42; Domain=127.0.0.1; Path=/; "
                                  "Max-Age=300; HttpOnly"),
                  std::string::npos)
            << get.output;
        EXPECT_NE(get.output.find("hello hello\n"), std::string::npos) << get.output;

        scratch_dir dir("curl-post");
        std::string payload(100000, 'p');
        ASSERT_TRUE(write_file(dir / "payload", payload));
        process_result post = curl({"-H", "Expect: 100-continue", "--data-binary",
                                    "@" + dir / "payload", server.url("/upload")});
        EXPECT_EQ(post.exit_code, 0) << post.output;
        EXPECT_NE(post.output.find("< HTTP/1.1 100 continue"), std::string::npos) << post.output;
        EXPECT_NE(post.output.find("received 100000 bytes\n"), std::string::npos) << post.output;

        process_result bad = curl({"-H", "Expect: nothing-i-know", server.url("/x")});
        EXPECT_NE(bad.output.find("< HTTP/1.1 400 Bad Request"), std::string::npos) << bad.output;
    }
    EXPECT_EQ(count_open_descriptors(), fds);
}

} // namespace
