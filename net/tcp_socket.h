// TCP socket: a non-blocking outgoing connection with an optional SSL client handshake.
#pragma once

#include "net/socket_primitives.h"

#include <cstdint>
#include <netinet/in.h>
#include <openssl/ssl.h>

// Socket states; they are bits, tested with masks (state & tcp_state_connected ...).
enum : int {
    tcp_state_unconnected = 1,
    tcp_state_connecting = 2,
    tcp_state_ssl_handshake = 4,
    tcp_state_connected = 8,
};

// An outgoing TCP connection, always non-blocking underneath. Operations return 1 done,
// 0 not yet, -1 failed, and leave a network error code (socket_primitives.h) in
// read_error (reads) or last_error (everything else). After any -1 on a connected socket
// it is unconnected with its descriptor closed. Used by one thread at a time.
class qorl_tcp_socket {
  public:
    qorl_tcp_socket();
    // Closes a descriptor still open (with a message) and frees the SSL object.
    ~qorl_tcp_socket();
    qorl_tcp_socket(const qorl_tcp_socket &) = delete;
    qorl_tcp_socket &operator=(const qorl_tcp_socket &) = delete;

    // Make the next connect run (or not run) an SSL client handshake with the context of
    // qorl_ssl_startup. Return 1, or 0 with a message when the socket is not unconnected.
    int enable_ssl();
    int disable_ssl();

    // Starts connecting to the IPv4 address in *peer (copied whole; family and port are
    // set here, port given in host order). Returns 1 connected (handshake done, if any),
    // 0 still connecting or handshaking, negative on failure (a network error code, or
    // -1; the socket is then unconnected and closed unless it was already busy:
    // -31 while connecting, -43 while connected, nothing changed).
    int start_nonblocking_connect(const struct sockaddr_in *peer, int port);
    // Advances a pending connect or handshake without waiting. Returns 1 connected,
    // 0 not yet, -1 failed (socket closed) or not connecting (-43 connected, -44 unconnected).
    int poll_connect();
    // Polls a pending connect or handshake and returns the state (tcp_state_*).
    int update_state();
    // Connects, including the SSL handshake when enabled, waiting at most timeout_ms in all
    // (negative: no limit). Returns 1 connected; -1 failed (last_error set, socket closed;
    // -41 when the time ran out). 0 is never returned.
    int connect_with_timeout(const struct sockaddr_in *peer, int port, int timeout_ms);

    // Reads up to size bytes. Returns the count (> 0), 0 when nothing is there yet (or
    // buffer null / size <= 0), -1 when the peer closed (read_error 0) or on failure
    // (read_error negative; -44 on a socket that is not connected, which is left as is).
    int nonblocking_read(void *buffer, int size);
    // As nonblocking_read, waiting up to timeout_ms for data (0 when none came).
    int read_with_timeout(void *buffer, int size, int timeout_ms);
    // Writes up to length bytes. Returns the count written (>= 0; partial writes are
    // normal), -1 on failure (last_error; -44 when not connected).
    int nonblocking_write(const void *data, int length);
    // As nonblocking_write, waiting up to timeout_ms for room (0 when none came).
    int write_with_timeout(const void *data, int length, int timeout_ms);
    // Closes the descriptor and makes the socket unconnected. No closing alert is sent.
    void close_connection();

    // Handshake steps used by the connect operations. ssl_try_connect makes the SSL
    // object for a socket in state connecting; with blocking set it drives the handshake
    // to its end, waiting at most timeout_ms (negative: no limit). Both return 1 done,
    // 0 still under way, -1 failed (socket closed, last_error -21, or -41 on timeout).
    int ssl_try_connect(int blocking, int timeout_ms = -1);
    int ssl_retry_connect();

    SSL *ssl;                        // SSL object of the last handshake, or null
    int ssl_enabled;                 // 1: the next connect runs a handshake
    qorl_network_socket socket;      // the descriptor, -1 when closed
    struct sockaddr_in peer_address; // address of the last connect
    int state;                       // tcp_state_*
    int read_error;                  // code of the last failed read; 0: peer closed cleanly
    int last_error;                  // code of the last failed connect, write or check

  private:
    int ssl_want; // SSL_ERROR_WANT_READ/WRITE of the last retry
    int finish_handshake(int64_t start_ms, int timeout_ms); // 1 done, -1 failed (closed)
    void fail_and_close(int code);                          // last_error = code, state 1, close
    int wait_ready(bool for_read, bool for_write, int timeout_ms); // 1 ready, 0 time up, <0
    int connected_without_error(); // checks SO_ERROR of a finished TCP connect
    void report_ssl_error(int code);
};
