// TCP socket: non-blocking connect, reads and writes, with an optional SSL client handshake.
#include "net/tcp_socket.h"

#include "client/debug_log.h"
#include "net/ssl_context.h"

#include <openssl/err.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/time.h>

namespace {

enum : int { want_read = 1, want_write = 2 };
enum : int { ready_read = 1, ready_write = 2, ready_error = 4 };

void report_socket(const char *text, uint32_t category) {
    report_message(text, category, module_sockets);
}

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Time left of a budget that started at start_ms; negative budgets never run out (-1).
int remaining_ms(int64_t start_ms, int timeout_ms) {
    if (timeout_ms < 0)
        return -1;
    int64_t left = start_ms + timeout_ms - now_ms();
    return left > 0 ? int(left) : 0;
}

} // namespace

qorl_tcp_socket::qorl_tcp_socket()
    : ssl(nullptr), ssl_enabled(0), peer_address(), state(tcp_state_unconnected), read_error(0),
      last_error(0), ssl_want(0) {}

qorl_tcp_socket::~qorl_tcp_socket() {
    if (socket.descriptor != -1) {
        report_socket("Error in ~qorl_tcp_socket(), socket not closed.", msg_runtime);
        socket.close_socket();
    }
    if (ssl != nullptr)
        SSL_free(ssl);
}

int qorl_tcp_socket::enable_ssl() {
    if (!(state & tcp_state_unconnected)) {
        report_socket("Error in qorl_tcp_socket::enable_ssl(), socket not in unconnected state.",
                      msg_runtime);
        return 0;
    }
    ssl_enabled = 1;
    return 1;
}

int qorl_tcp_socket::disable_ssl() {
    if (!(state & tcp_state_unconnected)) {
        report_socket("Error in qorl_tcp_socket::disable_ssl(), socket not in unconnected state.",
                      msg_runtime);
        return 0;
    }
    ssl_enabled = 0;
    if (ssl != nullptr)
        SSL_free(ssl);
    ssl = nullptr;
    return 1;
}

void qorl_tcp_socket::fail_and_close(int code) {
    last_error = code;
    state = tcp_state_unconnected;
    socket.close_socket();
}

void qorl_tcp_socket::close_connection() {
    state = tcp_state_unconnected;
    socket.close_socket();
}

void qorl_tcp_socket::report_ssl_error(int code) {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    char message[320];
    snprintf(message, sizeof message, "%s - err code %d.", text, code);
    report_socket(message, msg_trace);
}

// Waits for the descriptor. Returns a negative network code, 0 when the time is up, or 1
// with the ready_* bits in *ready. A negative timeout waits without limit.
static int wait_descriptor(int fd, int wanted, int timeout_ms, int *ready) {
    *ready = 0;
    if (fd < 0 || fd >= FD_SETSIZE)
        return net_error_bad_argument; // select cannot watch it without overrunning the set
    fd_set read_set, write_set, error_set;
    FD_ZERO(&read_set);
    FD_ZERO(&write_set);
    FD_ZERO(&error_set);
    if (wanted & want_read)
        FD_SET(fd, &read_set);
    if (wanted & want_write)
        FD_SET(fd, &write_set);
    FD_SET(fd, &error_set);
    struct timeval limit;
    limit.tv_sec = timeout_ms / 1000;
    limit.tv_usec = (timeout_ms % 1000) * 1000;
    int result = wait_sockets(fd + 1, (wanted & want_read) ? &read_set : nullptr,
                              (wanted & want_write) ? &write_set : nullptr, &error_set,
                              timeout_ms < 0 ? nullptr : &limit);
    if (result <= 0)
        return result;
    if ((wanted & want_read) && FD_ISSET(fd, &read_set))
        *ready |= ready_read;
    if ((wanted & want_write) && FD_ISSET(fd, &write_set))
        *ready |= ready_write;
    if (FD_ISSET(fd, &error_set))
        *ready |= ready_error;
    return 1;
}

int qorl_tcp_socket::wait_ready(bool for_read, bool for_write, int timeout_ms) {
    int ready = 0;
    int result = wait_descriptor(socket.descriptor,
                                 (for_read ? want_read : 0) | (for_write ? want_write : 0),
                                 timeout_ms, &ready);
    return result <= 0 ? result : ready;
}

// A writable descriptor only says the TCP connect ended; SO_ERROR says how.
int qorl_tcp_socket::connected_without_error() {
    int pending = 0;
    socklen_t length = sizeof pending;
    if (getsockopt(socket.descriptor, SOL_SOCKET, SO_ERROR, &pending, &length) != 0)
        return error_from_errno();
    if (pending == 0)
        return 0;
    int code = error_from_errno_value(pending);
    return code == net_error_none ? net_error_unknown : code;
}

int qorl_tcp_socket::start_nonblocking_connect(const struct sockaddr_in *peer, int port) {
    if (state & (tcp_state_connecting | tcp_state_ssl_handshake)) {
        last_error = net_error_in_progress;
        return -1;
    }
    if (state & tcp_state_connected) {
        last_error = net_error_is_connected;
        return -1;
    }
    if (peer == nullptr) {
        last_error = net_error_bad_argument;
        return net_error_bad_argument;
    }
    if (socket.descriptor != -1) {
        report_socket("Error in qorl_tcp_socket::start_nonblocking_connect(), socket not closed.",
                      msg_runtime);
        socket.close_socket();
    }
    if (!socket.create_stream(AF_INET, SOCK_STREAM, 0)) {
        report_socket("Error in qorl_tcp_socket::start_nonblocking_connect(), unable to create "
                      "new socket?",
                      msg_resource);
        last_error = net_error_out_of_descriptors;
        return -1;
    }
    state = tcp_state_connecting;
    memcpy(&peer_address, peer, sizeof peer_address);
    peer_address.sin_family = AF_INET;
    peer_address.sin_port = htons(uint16_t(port & 0xffff));
    socket.set_nonblocking();

    int result = socket.connect_to(reinterpret_cast<const struct sockaddr *>(&peer_address),
                                   sizeof peer_address);
    if (result == 0 || result == net_error_is_connected) {
        last_error = 0;
        return ssl_try_connect(0);
    }
    if (is_transient_error(result) || result == net_error_already) {
        last_error = result;
        return 0;
    }
    fail_and_close(result);
    return result;
}

int qorl_tcp_socket::ssl_try_connect(int blocking, int timeout_ms) {
    if (!ssl_enabled) {
        state = tcp_state_connected;
        return 1;
    }
    const char *failure = nullptr;
    if (state != tcp_state_connecting) {
        failure = "Error in qorl_tcp_socket::ssl_try_connect(), socket not in connecting state.";
    } else {
        if (ssl != nullptr)
            SSL_free(ssl);
        SSL_CTX *context = qorl_ssl_context();
        ssl = context != nullptr ? SSL_new(context) : nullptr;
        if (ssl == nullptr) {
            // The socket stays connecting: the next poll tries again.
            report_socket("Unable to allocate SSL struct in qorl_tcp_socket::ssl_try_connect(), "
                          "did you run qorl_ssl_startup()?",
                          msg_runtime);
            report_ssl_error(0);
            return 0;
        }
        if (SSL_set_cipher_list(ssl, qorl_ssl_cipher_list()) == 0)
            failure = "Error in qorl_tcp_socket::ssl_try_connect(), unable to set cipher list?";
        else if (SSL_set_fd(ssl, socket.descriptor) == 0)
            failure = "Error in qorl_tcp_socket::ssl_try_connect(), set_fd failed?";
    }
    if (failure != nullptr) {
        report_socket(failure, msg_runtime);
        fail_and_close(net_error_connection_reset);
        return -1;
    }
    state = tcp_state_ssl_handshake;
    if (!blocking)
        return ssl_retry_connect();

    return finish_handshake(now_ms(), timeout_ms);
}

// The handshake runs to its end here, bounded by the caller's time: a peer that stops
// answering mid-handshake must not hold the thread forever.
int qorl_tcp_socket::finish_handshake(int64_t start_ms, int timeout_ms) {
    for (;;) {
        int result = ssl_retry_connect();
        if (result != 0)
            return result;
        int left = remaining_ms(start_ms, timeout_ms);
        int ready = left == 0 ? 0
                              : wait_ready(ssl_want == SSL_ERROR_WANT_READ,
                                           ssl_want == SSL_ERROR_WANT_WRITE, left);
        if (ready == 0) {
            fail_and_close(net_error_timeout);
            return -1;
        }
        if (ready < 0 && !is_transient_error(ready)) {
            fail_and_close(ready);
            return -1;
        }
    }
}

int qorl_tcp_socket::ssl_retry_connect() {
    if (ssl == nullptr) {
        report_socket("Error in qorl_tcp_socket::ssl_retry_connect(), NULL ssl context?",
                      msg_runtime);
        fail_and_close(net_error_connection_reset);
        return -1;
    }
    ERR_clear_error();
    int result = SSL_connect(ssl);
    if (result > 0) {
        state = tcp_state_connected;
        return 1;
    }
    if (result == 0) {
        report_socket("Warning in qorl_tcp_socket::ssl_retry_connect(), SSL connect failed due "
                      "to protocol issue.",
                      msg_protocol);
    } else {
        int code = SSL_get_error(ssl, result);
        if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
            ssl_want = code;
            return 0;
        }
        if (code == SSL_ERROR_ZERO_RETURN) {
            report_socket("Controlled ssl close in qorl_tcp_socket::ssl_retry_connect(), bailing.",
                          msg_protocol);
        } else {
            report_socket("SSL connect failed in qorl_tcp_socket::ssl_retry_connect().",
                          msg_protocol);
            report_ssl_error(code);
        }
    }
    // A failed handshake cannot be resumed: the connection is closed here.
    fail_and_close(net_error_connection_reset);
    return -1;
}

int qorl_tcp_socket::poll_connect() {
    if (state & tcp_state_connected) {
        last_error = net_error_is_connected;
        return -1;
    }
    if (state & tcp_state_ssl_handshake)
        return ssl_retry_connect();
    if (state & tcp_state_unconnected) {
        last_error = net_error_not_connected;
        return -1;
    }
    int ready = wait_ready(false, true, 0);
    if (ready < 0) {
        last_error = ready;
        if (is_transient_error(ready))
            return 0;
        fail_and_close(ready);
        return -1;
    }
    if (ready == 0)
        return 0;
    if (ready & ready_error) {
        fail_and_close(net_error_connection_reset);
        return -1;
    }
    if (!(ready & ready_write))
        return 0;
    int refused = connected_without_error();
    if (refused < 0) {
        fail_and_close(refused);
        return -1;
    }
    return ssl_try_connect(0);
}

int qorl_tcp_socket::update_state() {
    if (state & (tcp_state_connecting | tcp_state_ssl_handshake))
        poll_connect();
    return state;
}

int qorl_tcp_socket::connect_with_timeout(const struct sockaddr_in *peer, int port,
                                          int timeout_ms) {
    int64_t start = now_ms();
    int result = start_nonblocking_connect(peer, port);
    if (result == 1)
        return 1;
    if (result < 0)
        return -1;
    if (state == tcp_state_ssl_handshake) {
        // The TCP connect finished at once and the handshake is under way: finish it.
        return finish_handshake(start, timeout_ms) > 0 ? 1 : -1;
    }
    int ready;
    do {
        int left = remaining_ms(start, timeout_ms);
        ready = left == 0 ? 0 : wait_ready(false, true, left);
        if (ready < 0)
            last_error = ready;
    } while (ready < 0 && is_transient_error(ready));
    if (ready < 0) {
        fail_and_close(ready);
        return -1;
    }
    if (ready == 0) {
        fail_and_close(net_error_timeout);
        return -1;
    }
    if ((ready & ready_error) || !(ready & ready_write)) {
        fail_and_close(net_error_connection_reset);
        return -1;
    }
    int refused = connected_without_error();
    if (refused < 0) {
        fail_and_close(refused);
        return -1;
    }
    result = ssl_try_connect(1, remaining_ms(start, timeout_ms));
    if (result == 0) {
        // No SSL object could be made: the connect cannot finish.
        fail_and_close(net_error_connection_reset);
        return -1;
    }
    return result > 0 ? 1 : -1;
}

int qorl_tcp_socket::nonblocking_read(void *buffer, int size) {
    if (!(state & tcp_state_connected)) {
        read_error = net_error_not_connected;
        return -1;
    }
    if (buffer == nullptr || size <= 0)
        return 0;
    if (ssl != nullptr) {
        ERR_clear_error();
        errno = 0;
        int got = SSL_read(ssl, buffer, size);
        int saved_errno = errno;
        if (got > 0)
            return got;
        int code = SSL_get_error(ssl, got);
        if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE)
            return 0;
        if (code == SSL_ERROR_ZERO_RETURN ||
            (code == SSL_ERROR_SYSCALL && error_from_errno_value(saved_errno) == net_error_none)) {
            read_error = 0;
        } else {
            report_socket("Unexpected ssl close in qorl_tcp_socket::nonblocking_read().",
                          msg_trace);
            read_error = net_error_connection_reset;
            report_ssl_error(code);
        }
        close_connection();
        return -1;
    }
    int got = socket.read_bytes(buffer, size);
    if (got > 0)
        return got;
    if (got == 0) {
        read_error = 0;
        close_connection();
        return -1;
    }
    read_error = got;
    if (is_transient_error(got))
        return 0;
    close_connection();
    return -1;
}

int qorl_tcp_socket::read_with_timeout(void *buffer, int size, int timeout_ms) {
    if (!(state & tcp_state_connected)) {
        read_error = net_error_not_connected;
        return -1;
    }
    if (buffer == nullptr || size <= 0)
        return 0;
    // A readable descriptor may carry no data for the caller (TLS session tickets, a
    // partial record): keep waiting until data comes or the time is up.
    int64_t start = now_ms();
    for (;;) {
        if (ssl != nullptr) {
            // Bytes already decrypted inside OpenSSL do not make the descriptor readable.
            int got = nonblocking_read(buffer, size);
            if (got != 0)
                return got;
        }
        int ready = wait_ready(true, false, remaining_ms(start, timeout_ms));
        if (ready == 0)
            return 0;
        if (ready < 0) {
            if (is_transient_error(ready))
                return 0;
            read_error = ready;
            close_connection();
            return -1;
        }
        if (ready & ready_error) {
            read_error = net_error_connection_reset;
            close_connection();
            return -1;
        }
        if (ssl == nullptr && (ready & ready_read)) {
            int got = nonblocking_read(buffer, size);
            if (got != 0)
                return got;
        }
        if (remaining_ms(start, timeout_ms) == 0)
            return 0;
    }
}

int qorl_tcp_socket::nonblocking_write(const void *data, int length) {
    if (!(state & tcp_state_connected)) {
        last_error = net_error_not_connected;
        return -1;
    }
    if (data == nullptr || length <= 0)
        return 0;
    if (ssl != nullptr) {
        ERR_clear_error();
        int put = SSL_write(ssl, data, length);
        if (put > 0)
            return put;
        int code = SSL_get_error(ssl, put);
        if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE)
            return 0;
        if (code == SSL_ERROR_ZERO_RETURN) {
            last_error = 0;
            report_socket("Clean SSL shutdown in qorl_tcp_socket::nonblocking_write().", msg_trace);
        } else {
            last_error = net_error_connection_reset;
            report_socket("Unexpected ssl close in qorl_tcp_socket::nonblocking_write().",
                          msg_trace);
        }
        close_connection();
        return -1;
    }
    int put = socket.write_bytes(data, length);
    if (put >= 0)
        return put;
    last_error = put;
    if (is_transient_error(put))
        return 0;
    close_connection();
    return -1;
}

int qorl_tcp_socket::write_with_timeout(const void *data, int length, int timeout_ms) {
    if (!(state & tcp_state_connected)) {
        last_error = net_error_not_connected;
        return -1;
    }
    if (data == nullptr || length <= 0)
        return 0;
    int ready = wait_ready(false, true, timeout_ms);
    if (ready == 0)
        return 0;
    if (ready < 0) {
        if (is_transient_error(ready))
            return 0;
        fail_and_close(ready);
        return -1;
    }
    if (ready & ready_error) {
        fail_and_close(net_error_connection_reset);
        return -1;
    }
    if (ready & ready_write)
        return nonblocking_write(data, length);
    return 0;
}
