// TCP socket against real local peers: connects, timed reads and writes, closes and resets.
#include "net/tcp_socket.h"

#include "tests/net/local_peers.h"
#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

// The launcher ignores SIGPIPE at start-up; so does this program.
const bool sigpipe_ignored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;

int64_t elapsed_ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

// Every test must give back every descriptor it opened, on failure paths too.
class TcpSocket : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sigpipe_ignored);
        descriptors_ = count_open_descriptors();
    }
    void TearDown() override { EXPECT_EQ(count_open_descriptors(), descriptors_); }

    log_capture log;
    sockaddr_in peer = loopback_address();

  private:
    int descriptors_ = 0;
};

void expect_closed(const qorl_tcp_socket &s) {
    EXPECT_EQ(s.state, tcp_state_unconnected);
    EXPECT_EQ(s.socket.descriptor, -1);
}

TEST_F(TcpSocket, NewSocketRefusesEverythingButConnect) {
    qorl_tcp_socket s;
    char buffer[8];
    EXPECT_EQ(s.state, tcp_state_unconnected);
    EXPECT_EQ(s.nonblocking_read(buffer, 8), -1);
    EXPECT_EQ(s.read_error, -44);
    EXPECT_EQ(s.read_with_timeout(buffer, 8, 10), -1);
    EXPECT_EQ(s.nonblocking_write("x", 1), -1);
    EXPECT_EQ(s.last_error, -44);
    s.last_error = 0;
    EXPECT_EQ(s.write_with_timeout("x", 1, 10), -1);
    EXPECT_EQ(s.last_error, -44);
    s.last_error = 0;
    EXPECT_EQ(s.poll_connect(), -1);
    EXPECT_EQ(s.last_error, -44);
    EXPECT_EQ(s.update_state(), tcp_state_unconnected);
    EXPECT_EQ(s.enable_ssl(), 1);
    EXPECT_EQ(s.enable_ssl(), 1);
    EXPECT_EQ(s.disable_ssl(), 1);
    EXPECT_EQ(s.ssl_enabled, 0);
    expect_closed(s);
}

TEST_F(TcpSocket, ConnectsAndMovesDataBothWays) {
    local_listener listener;
    qorl_tcp_socket s;
    int started = s.start_nonblocking_connect(&peer, listener.port());
    ASSERT_GE(started, 0);
    EXPECT_TRUE(wait_until([&] { return (s.update_state() & tcp_state_connected) != 0; }, 3000));
    EXPECT_EQ(ntohs(s.peer_address.sin_port), listener.port());
    int server = listener.accept_one(3000);
    ASSERT_GE(server, 0);

    EXPECT_EQ(s.write_with_timeout("ping", 4, 1000), 4);
    char buffer[16];
    ASSERT_EQ(read(server, buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(buffer, 4), "ping");

    EXPECT_EQ(s.nonblocking_read(buffer, sizeof buffer), 0) << "nothing there yet";
    EXPECT_EQ(s.read_error, -30);
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(s.read_with_timeout(buffer, sizeof buffer, 100), 0);
    EXPECT_GE(elapsed_ms(before), 90);
    EXPECT_EQ(s.read_with_timeout(nullptr, 16, 100), 0);

    ASSERT_EQ(write(server, "pong", 4), 4);
    EXPECT_EQ(s.read_with_timeout(buffer, sizeof buffer, 1000), 4);
    EXPECT_EQ(std::string(buffer, 4), "pong");

    // A connected socket refuses a second connect and SSL changes, and stays up.
    EXPECT_EQ(s.start_nonblocking_connect(&peer, listener.port()), -1);
    EXPECT_EQ(s.last_error, -43);
    EXPECT_EQ(s.poll_connect(), -1);
    EXPECT_EQ(s.enable_ssl(), 0);
    EXPECT_EQ(s.disable_ssl(), 0);
    EXPECT_TRUE(
        log.contains("Error in qorl_tcp_socket::enable_ssl(), socket not in unconnected state.\n"));
    EXPECT_EQ(s.update_state(), tcp_state_connected);
    EXPECT_EQ(s.nonblocking_write("ok", 2), 2);

    s.close_connection();
    expect_closed(s);
    EXPECT_EQ(s.enable_ssl(), 1);
    close(server);
}

TEST_F(TcpSocket, PeerClosesAfterTenBytes) {
    scripted_peer peer_side([](int fd) { return int(write(fd, "0123456789", 10)); });
    qorl_tcp_socket s;
    ASSERT_EQ(s.connect_with_timeout(&peer, peer_side.port(), 3000), 1);
    char buffer[100];
    int got = 0;
    for (int i = 0; i < 50 && got < 10; ++i) {
        int n = s.read_with_timeout(buffer + got, sizeof buffer - size_t(got), 100);
        ASSERT_GE(n, 0);
        got += n;
    }
    EXPECT_EQ(std::string(buffer, size_t(got)), "0123456789");
    int result = 0;
    for (int i = 0; i < 50 && result == 0; ++i)
        result = s.read_with_timeout(buffer, sizeof buffer, 100);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(s.read_error, 0) << "a clean close is not an error";
    EXPECT_EQ(s.update_state(), tcp_state_unconnected);
    expect_closed(s);
    EXPECT_EQ(s.nonblocking_read(buffer, sizeof buffer), -1);
    EXPECT_EQ(s.read_error, -44);
}

TEST_F(TcpSocket, RefusedConnectionFails) {
    int port = unused_port();
    {
        qorl_tcp_socket s;
        EXPECT_EQ(s.connect_with_timeout(&peer, port, 2000), -1);
        EXPECT_EQ(s.last_error, -40);
        expect_closed(s);
    }
    {
        // Polled to its end, a refused connect is a failure, never "connected".
        qorl_tcp_socket s;
        int result = s.start_nonblocking_connect(&peer, port);
        for (int i = 0; i < 200 && result == 0; ++i) {
            result = s.poll_connect();
            if (result == 0)
                sleep_ms(10);
        }
        EXPECT_LT(result, 0);
        EXPECT_EQ(s.last_error, -40);
        expect_closed(s);
    }
}

TEST_F(TcpSocket, ConnectToSilentPeerStopsAtItsTimeout) {
    // A listener whose accept queue is full leaves further connects unanswered.
    local_listener listener(0);
    std::vector<int> fillers;
    bool full = false;
    for (int i = 0; i < 8 && !full; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address = loopback_address();
        address.sin_port = htons(uint16_t(listener.port()));
        connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        fillers.push_back(fd);
        sleep_ms(50);
        full = send(fd, "", 0, 0) < 0 && errno == EAGAIN; // still connecting
    }
    ASSERT_TRUE(full) << "could not fill the accept queue";
    {
        qorl_tcp_socket s;
        auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(s.connect_with_timeout(&peer, listener.port(), 100), -1);
        int64_t took = elapsed_ms(before);
        EXPECT_GE(took, 90);
        EXPECT_LT(took, 2000);
        EXPECT_EQ(s.last_error, -41);
        expect_closed(s);
    }
    for (int fd : fillers)
        close(fd);
}

TEST_F(TcpSocket, WriteWaitsForRoomAtMostItsTimeout) {
    local_listener listener;
    qorl_tcp_socket s;
    ASSERT_EQ(s.connect_with_timeout(&peer, listener.port(), 3000), 1);
    int server = listener.accept_one(3000);
    ASSERT_GE(server, 0);
    std::vector<char> block(65536, 'w');
    int written = 0;
    for (int i = 0; i < 4096; ++i) {
        written = s.nonblocking_write(block.data(), int(block.size()));
        if (written <= 0)
            break;
    }
    ASSERT_EQ(written, 0) << "the peer never reads, so the send buffer fills";
    EXPECT_EQ(s.last_error, -30);
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(s.write_with_timeout(block.data(), int(block.size()), 100), 0);
    EXPECT_GE(elapsed_ms(before), 90);
    EXPECT_EQ(s.update_state(), tcp_state_connected);
    s.close_connection();
    close(server);
}

TEST_F(TcpSocket, PeerResetClosesTheSocket) {
    {
        scripted_peer peer_side([](int fd) {
            reset_and_close(fd);
            return -1;
        });
        qorl_tcp_socket s;
        ASSERT_EQ(s.connect_with_timeout(&peer, peer_side.port(), 3000), 1);
        char buffer[16];
        int result = 0;
        for (int i = 0; i < 50 && result == 0; ++i)
            result = s.read_with_timeout(buffer, sizeof buffer, 100);
        EXPECT_EQ(result, -1);
        EXPECT_EQ(s.read_error, -21);
        expect_closed(s);
    }
    {
        scripted_peer peer_side([](int fd) {
            reset_and_close(fd);
            return -1;
        });
        qorl_tcp_socket s;
        ASSERT_EQ(s.connect_with_timeout(&peer, peer_side.port(), 3000), 1);
        int result = 0;
        for (int i = 0; i < 50 && result >= 0; ++i) {
            result = s.write_with_timeout("data", 4, 100);
            sleep_ms(10);
        }
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(s.last_error == -21 || s.last_error == -20) << s.last_error;
        expect_closed(s);
    }
}

TEST_F(TcpSocket, DestructionClosesAnOpenSocket) {
    local_listener listener;
    {
        qorl_tcp_socket s;
        ASSERT_EQ(s.connect_with_timeout(&peer, listener.port(), 3000), 1);
    }
    EXPECT_TRUE(log.contains("Error in ~qorl_tcp_socket(), socket not closed.\n"));
}

} // namespace
