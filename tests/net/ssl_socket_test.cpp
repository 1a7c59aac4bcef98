// TCP socket with SSL against a real openssl s_server and against peers that break the
// handshake: data both ways, clean closes, and failures that leave nothing open.
#include "net/ssl_context.h"
#include "net/tcp_socket.h"

#include "tests/net/local_peers.h"
#include "tests/support/log_capture.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace {

const bool sigpipe_ignored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;

// One self-signed certificate and one s_server in reverse-echo mode for the whole suite:
// each line sent comes back reversed, and the line "CLOSE" makes it close the connection.
class SslSocket : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new scratch_dir("ssl-server");
        process_result made = run_process(
            {"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
             *dir / "key.pem", "-out", *dir / "cert.pem", "-days", "2", "-subj", "/CN=localhost"});
        ASSERT_EQ(made.exit_code, 0) << made.output;
        port = unused_port();
        server = new background_process(
            {"/usr/bin/openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port),
             "-cert", *dir / "cert.pem", "-key", *dir / "key.pem", "-rev", "-quiet"},
            {}, *dir / "server.log");
        bool up = wait_until(
            [] {
                qorl_tcp_socket probe;
                sockaddr_in address = loopback_address();
                int result = probe.connect_with_timeout(&address, port, 200);
                probe.close_connection();
                return result == 1;
            },
            10000);
        ASSERT_TRUE(up) << read_file(*dir / "server.log");
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
        delete dir;
        dir = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(sigpipe_ignored);
        ASSERT_EQ(qorl_ssl_startup(), 1);
        descriptors_ = count_open_descriptors();
    }
    void TearDown() override { EXPECT_EQ(count_open_descriptors(), descriptors_); }

    // Reads until want bytes arrived; every read must deliver something.
    static std::string read_exactly(qorl_tcp_socket &s, size_t want, int chunk) {
        std::string got;
        char buffer[256];
        while (got.size() < want) {
            int n = s.read_with_timeout(buffer, chunk, 3000);
            if (n <= 0) {
                ADD_FAILURE() << "read gave " << n << " after '" << got << "'";
                break;
            }
            got.append(buffer, size_t(n));
        }
        return got;
    }

    static scratch_dir *dir;
    static background_process *server;
    static int port;

    log_capture log;
    sockaddr_in peer = loopback_address();

  private:
    int descriptors_ = 0;
};

scratch_dir *SslSocket::dir = nullptr;
background_process *SslSocket::server = nullptr;
int SslSocket::port = 0;

void expect_closed(const qorl_tcp_socket &s) {
    EXPECT_EQ(s.state, tcp_state_unconnected);
    EXPECT_EQ(s.socket.descriptor, -1);
}

TEST_F(SslSocket, HandshakeDataBothWaysAndCleanClose) {
    qorl_tcp_socket s;
    ASSERT_EQ(s.enable_ssl(), 1);
    ASSERT_EQ(s.connect_with_timeout(&peer, port, 5000), 1) << log.text();
    EXPECT_EQ(s.state, tcp_state_connected);
    ASSERT_NE(s.ssl, nullptr);
    EXPECT_EQ(s.enable_ssl(), 0);

    std::string line = "hello over tls\n";
    EXPECT_EQ(s.write_with_timeout(line.data(), int(line.size()), 3000), int(line.size()));
    // Small reads: the rest of a decrypted record is served without the descriptor
    // becoming readable again.
    EXPECT_EQ(read_exactly(s, line.size(), 3), "slt revo olleh\n");

    EXPECT_EQ(s.write_with_timeout("CLOSE\n", 6, 3000), 6);
    char buffer[256];
    int result = 0;
    for (int i = 0; i < 50 && result >= 0; ++i)
        result = s.read_with_timeout(buffer, sizeof buffer, 100);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(s.read_error, 0) << "the server's close is clean";
    expect_closed(s);

    // The same socket connects again, this time by polling, and we close it ourselves.
    ASSERT_GE(s.start_nonblocking_connect(&peer, port), 0);
    EXPECT_TRUE(wait_until(
        [&] {
            return s.update_state() != tcp_state_connecting &&
                   s.update_state() != tcp_state_ssl_handshake;
        },
        5000));
    ASSERT_EQ(s.state, tcp_state_connected) << log.text();
    EXPECT_EQ(s.write_with_timeout("abc\n", 4, 3000), 4);
    EXPECT_EQ(read_exactly(s, 4, 200), "cba\n");
    s.close_connection();
    expect_closed(s);
    EXPECT_EQ(s.disable_ssl(), 1);
    EXPECT_EQ(s.ssl, nullptr);
}

TEST_F(SslSocket, BrokenHandshakesLeaveNothingOpen) {
    struct row {
        const char *name;
        int (*script)(int fd);
        int timeout_ms;
        int error;
    };
    const row rows[] = {
        {"plain HTTP peer",
         [](int fd) {
             const char reply[] = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";
             if (write(fd, reply, sizeof reply - 1) > 0)
                 drain_until_closed(fd, 3000);
             return 0;
         },
         3000, -21},
        {"garbage after the client hello",
         [](int fd) {
             char hello[512];
             if (read(fd, hello, sizeof hello) <= 0)
                 return 0;
             std::string junk(300, '\x16');
             if (write(fd, junk.data(), junk.size()) > 0)
                 drain_until_closed(fd, 3000);
             return 0;
         },
         3000, -21},
        {"close mid-handshake",
         [](int fd) {
             char hello[512];
             return int(read(fd, hello, sizeof hello));
         },
         3000, -21},
        {"reset mid-handshake",
         [](int fd) {
             char hello[512];
             if (read(fd, hello, sizeof hello) > 0)
                 reset_and_close(fd);
             return -1;
         },
         3000, -21},
        {"silent peer", [](int fd) { return drain_until_closed(fd, 3000); }, 300, -41},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        scripted_peer peer_side(r.script);
        qorl_tcp_socket s;
        ASSERT_EQ(s.enable_ssl(), 1);
        auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(s.connect_with_timeout(&peer, peer_side.port(), r.timeout_ms), -1);
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - before)
                        .count();
        EXPECT_LT(took, r.timeout_ms + 1000);
        EXPECT_EQ(s.last_error, r.error) << log.text();
        expect_closed(s);
        char buffer[8];
        EXPECT_EQ(s.nonblocking_read(buffer, 8), -1);
        EXPECT_EQ(s.read_error, -44);
    }
}

} // namespace
