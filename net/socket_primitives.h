// Socket primitives: one descriptor over the BSD socket calls, and the network error codes.
#pragma once

#include <sys/select.h>
#include <sys/socket.h>

// Network error codes: negative ints stored by sockets in place of errno.
// Non-negative results of the operations below are ordinary results.
enum : int {
    net_error_unknown = -1,
    net_error_none = -2,
    net_error_uninitialized = -10,
    net_error_bad_argument = -11,
    net_error_fault = -12,
    net_error_out_of_descriptors = -13,
    net_error_no_memory = -14,
    net_error_too_big = -15,
    net_error_address_in_use = -16,
    net_error_broken_pipe = -20,
    net_error_connection_reset = -21,
    net_error_host_down = -22,
    net_error_host_unreachable = -23,
    net_error_network_down = -24,
    net_error_network_unreachable = -25,
    net_error_network_reset = -26,
    net_error_would_block = -30,
    net_error_in_progress = -31,
    net_error_interrupted = -32,
    net_error_refused = -40,
    net_error_timeout = -41,
    net_error_already = -42,
    net_error_is_connected = -43,
    net_error_not_connected = -44,
};

// One socket descriptor, -1 when none is open. Owned by one thread at a time.
class qorl_network_socket {
  public:
    int descriptor = -1;

    // socket(family, type, protocol); the result is stored (-1 included).
    // Returns 1 when a descriptor was created, else 0.
    int create_stream(int family, int type, int protocol);
    // connect(); returns 0 on success, else the network error code.
    int connect_to(const struct sockaddr *address, socklen_t length);
    // bind(); returns 1 on success, 0 on failure.
    int bind_to(const struct sockaddr *address, socklen_t length);
    // listen() with a backlog of 3; returns 1 on success, 0 on failure.
    int listen_for_connections();
    // accept() on this socket; on success stores the new descriptor in accepted and
    // returns 1, else the network error code. address/length may be null.
    int accept_connection(qorl_network_socket &accepted, struct sockaddr *address,
                          socklen_t *length);
    // shutdown(SHUT_RDWR); -1 without a call when no descriptor is open, else its result.
    int shutdown_both();
    // SO_REUSEADDR on; returns 1 on success, 0 on failure.
    int set_reuse_address();
    // Closes an open descriptor and sets it to -1; does nothing when none is open.
    void close_socket();
    // read(); returns the byte count (0: the peer closed) or the network error code
    // (-11 for a negative size).
    int read_bytes(void *buffer, int size);
    // write(); returns the byte count or the network error code (-11 for a negative length).
    int write_bytes(const void *data, int length);
    // Clears / sets O_NONBLOCK, keeping the other status flags.
    // Return 1 on success; 0 with a message on failure.
    int set_blocking();
    int set_nonblocking();
};

// select(); any set and the timeout may be null. Returns the number of ready
// descriptors (0 on timeout) or the network error code.
int wait_sockets(int count, fd_set *read_set, fd_set *write_set, fd_set *error_set,
                 struct timeval *timeout);
// The network error code for the calling thread's current errno (-1 for other values).
int error_from_errno();
// The network error code for the given errno value (-1 for values it does not name).
int error_from_errno_value(int errno_value);
// The constant text of a code; codes outside -44 ... -2 give "unknown error".
const char *error_name(int code);
// 1 for the codes after which a call may simply be repeated (-2, -30, -31, -32), else 0.
int is_transient_error(int code);
// Start-up hook of the platform's socket layer; nothing is needed here.
void network_startup();
