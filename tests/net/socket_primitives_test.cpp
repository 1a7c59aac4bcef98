// Socket primitives: the error-name and errno tables, transient codes, descriptor handling.
#include "net/socket_primitives.h"

#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <string>

namespace {

TEST(NetworkErrors, Names) {
    struct row {
        int code;
        const char *text;
    };
    const row rows[] = {
        {-2, "no error"},
        {-3, "unknown error"},
        {-9, "unknown error"},
        {-10, "network socket subsystem uninitialized"},
        {-11, "bad function argument"},
        {-12, "address/segmentation fault"},
        {-13, "out of file descriptors"},
        {-14, "oom or buffer space"},
        {-15, "data too big for operation"},
        {-16, "address in use"},
        {-17, "unknown error"},
        {-20, "broken network pipe"},
        {-21, "connection aborted/reset"},
        {-22, "remote host down"},
        {-23, "remote host unreachable"},
        {-24, "network down"},
        {-25, "network unreachable"},
        {-26, "network was reset"},
        {-29, "unknown error"},
        {-30, "would block"},
        {-31, "in progress"},
        {-32, "interrupted"},
        {-33, "unknown error"},
        {-39, "unknown error"},
        {-40, "connection refused"},
        {-41, "timeout"},
        {-42, "already done"},
        {-43, "already is connected"},
        {-44, "is not connected"},
        {-1, "unknown error"},
        {-45, "unknown error"},
        {0, "unknown error"},
        {5, "unknown error"},
        {-1000000, "unknown error"},
    };
    for (const row &r : rows)
        EXPECT_STREQ(error_name(r.code), r.text) << "code " << r.code;
}

TEST(NetworkErrors, FromErrno) {
    struct row {
        int errno_value;
        int code;
    };
    const row rows[] = {
        {0, -2},
        {EBADF, -11},
        {EINVAL, -11},
        {EBADFD, -11},
        {ENOTSOCK, -11},
        {EFAULT, -12},
        {ENFILE, -13},
        {EMFILE, -13},
        {ENOMEM, -14},
        {ENOBUFS, -14},
        {EMSGSIZE, -15},
        {EADDRINUSE, -16},
        {EPIPE, -20},
        {ESHUTDOWN, -20},
        {ECONNABORTED, -21},
        {ECONNRESET, -21},
        {EHOSTDOWN, -22},
        {EHOSTUNREACH, -23},
        {ENETDOWN, -24},
        {ENETUNREACH, -25},
        {ENETRESET, -26},
        {EAGAIN, -30},
        {EWOULDBLOCK, -30},
        {85 /* ERESTART */, -30},
        {EINPROGRESS, -31},
        {EINTR, -32},
        {ECONNREFUSED, -40},
        {ETIMEDOUT, -41},
        {EALREADY, -42},
        {EISCONN, -43},
        {ENOTCONN, -44},
        {ENOENT, -1},
        {EACCES, -1},
        {115, -31},
        {116, -1},
        {1000, -1},
        {-5, -1},
    };
    for (const row &r : rows) {
        errno = r.errno_value;
        EXPECT_EQ(error_from_errno(), r.code) << "errno " << r.errno_value;
        EXPECT_EQ(error_from_errno_value(r.errno_value), r.code) << "errno " << r.errno_value;
    }
}

TEST(NetworkErrors, Transient) {
    for (int code : {-2, -30, -31, -32})
        EXPECT_EQ(is_transient_error(code), 1) << code;
    for (int code : {-1, 0, 1, -20, -21, -40, -41, -42, -43, -44})
        EXPECT_EQ(is_transient_error(code), 0) << code;
}

struct loopback_listener {
    qorl_network_socket socket;
    sockaddr_in address{};

    bool open() {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        return socket.create_stream(AF_INET, SOCK_STREAM, 0) && socket.set_reuse_address() &&
               socket.bind_to(reinterpret_cast<sockaddr *>(&address), sizeof address) &&
               getsockname(socket.descriptor, reinterpret_cast<sockaddr *>(&address), &length) ==
                   0 &&
               socket.listen_for_connections();
    }
};

TEST(NetworkSocket, ConnectAcceptReadWrite) {
    int descriptors = count_open_descriptors();
    {
        loopback_listener listener;
        ASSERT_TRUE(listener.open());
        ASSERT_EQ(listener.socket.set_nonblocking(), 1);
        qorl_network_socket none;
        EXPECT_EQ(listener.socket.accept_connection(none, nullptr, nullptr), -30);
        EXPECT_EQ(none.descriptor, -1);

        qorl_network_socket client;
        ASSERT_EQ(client.create_stream(AF_INET, SOCK_STREAM, 0), 1);
        ASSERT_EQ(client.connect_to(reinterpret_cast<sockaddr *>(&listener.address),
                                    sizeof listener.address),
                  0);
        EXPECT_EQ(client.connect_to(reinterpret_cast<sockaddr *>(&listener.address),
                                    sizeof listener.address),
                  -43);
        qorl_network_socket server;
        sockaddr_in peer{};
        socklen_t peer_length = sizeof peer;
        ASSERT_EQ(listener.socket.accept_connection(server, reinterpret_cast<sockaddr *>(&peer),
                                                    &peer_length),
                  1);
        EXPECT_GE(server.descriptor, 0);

        EXPECT_EQ(client.write_bytes("hello", 5), 5);
        char buffer[16];
        EXPECT_EQ(server.read_bytes(buffer, sizeof buffer), 5);
        EXPECT_EQ(std::string(buffer, 5), "hello");

        ASSERT_EQ(server.set_nonblocking(), 1);
        EXPECT_EQ(server.read_bytes(buffer, sizeof buffer), -30);
        EXPECT_EQ(server.set_blocking(), 1);
        EXPECT_EQ(fcntl(server.descriptor, F_GETFL) & O_NONBLOCK, 0);

        EXPECT_EQ(client.shutdown_both(), 0);
        EXPECT_EQ(server.read_bytes(buffer, sizeof buffer), 0) << "end of stream, not an error";
        client.close_socket();
        server.close_socket();
        listener.socket.close_socket();
    }
    EXPECT_EQ(count_open_descriptors(), descriptors);
}

TEST(NetworkSocket, ClosedSocket) {
    log_capture log;
    qorl_network_socket s;
    EXPECT_EQ(s.shutdown_both(), -1);
    EXPECT_EQ(s.set_nonblocking(), 0);
    EXPECT_EQ(s.set_blocking(), 0);
    EXPECT_TRUE(log.contains(
        "Error in qorl_network_socket::set_nonblocking(), setting nonblocking mode failed.\n"));
    EXPECT_TRUE(log.contains(
        "Error in qorl_network_socket::set_blocking(), setting blocking mode failed.\n"));
    char buffer[4];
    EXPECT_EQ(s.read_bytes(buffer, 4), -11);
    EXPECT_EQ(s.write_bytes("x", 1), -11);

    // Closing twice closes once: a descriptor that reuses the number survives.
    ASSERT_EQ(s.create_stream(AF_INET, SOCK_STREAM, 0), 1);
    int number = s.descriptor;
    s.close_socket();
    EXPECT_EQ(s.descriptor, -1);
    int reused = dup(1);
    ASSERT_EQ(reused, number);
    s.close_socket();
    EXPECT_NE(fcntl(reused, F_GETFD), -1);
    close(reused);
}

TEST(NetworkSocket, NonblockingKeepsOtherFlags) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(fcntl(fds[1], F_SETFL, O_APPEND), 0);
    qorl_network_socket s;
    s.descriptor = fds[1];
    ASSERT_EQ(s.set_nonblocking(), 1);
    EXPECT_EQ(fcntl(fds[1], F_GETFL) & (O_APPEND | O_NONBLOCK), O_APPEND | O_NONBLOCK);
    ASSERT_EQ(s.set_blocking(), 1);
    EXPECT_EQ(fcntl(fds[1], F_GETFL) & (O_APPEND | O_NONBLOCK), O_APPEND);
    s.close_socket();
    close(fds[0]);
}

TEST(NetworkSocket, WaitSockets) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fd_set read_set;
    FD_ZERO(&read_set);
    FD_SET(fds[0], &read_set);
    timeval zero{0, 0};
    EXPECT_EQ(wait_sockets(fds[0] + 1, &read_set, nullptr, nullptr, &zero), 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    FD_SET(fds[0], &read_set);
    EXPECT_EQ(wait_sockets(fds[0] + 1, &read_set, nullptr, nullptr, &zero), 1);
    close(fds[0]);
    close(fds[1]);
    FD_SET(fds[0], &read_set);
    EXPECT_EQ(wait_sockets(fds[0] + 1, &read_set, nullptr, nullptr, &zero), -11);
}

} // namespace
