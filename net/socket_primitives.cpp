// Socket primitives: thin wrappers that turn errno into the library's network error codes.
#include "net/socket_primitives.h"

#include "client/debug_log.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int first_named_code = -44;
constexpr int last_named_code = -2;

// Texts of codes -2 (index 0) down to -44 (index 42).
constexpr const char *error_texts[last_named_code - first_named_code + 1] = {
    "no error",                               // -2
    "unknown error",                          // -3
    "unknown error",                          // -4
    "unknown error",                          // -5
    "unknown error",                          // -6
    "unknown error",                          // -7
    "unknown error",                          // -8
    "unknown error",                          // -9
    "network socket subsystem uninitialized", // -10
    "bad function argument",                  // -11
    "address/segmentation fault",             // -12
    "out of file descriptors",                // -13
    "oom or buffer space",                    // -14
    "data too big for operation",             // -15
    "address in use",                         // -16
    "unknown error",                          // -17
    "unknown error",                          // -18
    "unknown error",                          // -19
    "broken network pipe",                    // -20
    "connection aborted/reset",               // -21
    "remote host down",                       // -22
    "remote host unreachable",                // -23
    "network down",                           // -24
    "network unreachable",                    // -25
    "network was reset",                      // -26
    "unknown error",                          // -27
    "unknown error",                          // -28
    "unknown error",                          // -29
    "would block",                            // -30
    "in progress",                            // -31
    "interrupted",                            // -32
    "unknown error",                          // -33
    "unknown error",                          // -34
    "unknown error",                          // -35
    "unknown error",                          // -36
    "unknown error",                          // -37
    "unknown error",                          // -38
    "unknown error",                          // -39
    "connection refused",                     // -40
    "timeout",                                // -41
    "already done",                           // -42
    "already is connected",                   // -43
    "is not connected",                       // -44
};

#ifndef ERESTART
#define ERESTART 85 // kernel-internal on Linux, still listed by the C library
#endif

constexpr int errno_table_size = 116; // Linux errno values 0 ... 115

struct errno_mapping {
    int errno_value;
    int code;
};

constexpr errno_mapping errno_mappings[] = {
    {0, net_error_none},
    {EBADF, net_error_bad_argument},
    {EINVAL, net_error_bad_argument},
    {EBADFD, net_error_bad_argument},
    {ENOTSOCK, net_error_bad_argument},
    {EFAULT, net_error_fault},
    {ENFILE, net_error_out_of_descriptors},
    {EMFILE, net_error_out_of_descriptors},
    {ENOMEM, net_error_no_memory},
    {ENOBUFS, net_error_no_memory},
    {EMSGSIZE, net_error_too_big},
    {EADDRINUSE, net_error_address_in_use},
    {EPIPE, net_error_broken_pipe},
    {ESHUTDOWN, net_error_broken_pipe},
    {ECONNABORTED, net_error_connection_reset},
    {ECONNRESET, net_error_connection_reset},
    {EHOSTDOWN, net_error_host_down},
    {EHOSTUNREACH, net_error_host_unreachable},
    {ENETDOWN, net_error_network_down},
    {ENETUNREACH, net_error_network_unreachable},
    {ENETRESET, net_error_network_reset},
    {EAGAIN, net_error_would_block},
    {EWOULDBLOCK, net_error_would_block},
    {ERESTART, net_error_would_block},
    {EINPROGRESS, net_error_in_progress},
    {EINTR, net_error_interrupted},
    {ECONNREFUSED, net_error_refused},
    {ETIMEDOUT, net_error_timeout},
    {EALREADY, net_error_already},
    {EISCONN, net_error_is_connected},
    {ENOTCONN, net_error_not_connected},
};

struct errno_table {
    signed char codes[errno_table_size];
};

constexpr errno_table build_errno_table() {
    errno_table table{};
    for (int i = 0; i < errno_table_size; ++i)
        table.codes[i] = net_error_unknown;
    for (const errno_mapping &m : errno_mappings)
        table.codes[m.errno_value] = static_cast<signed char>(m.code);
    return table;
}

constexpr errno_table errno_codes = build_errno_table();

static_assert(errno_codes.codes[0] == net_error_none, "errno 0 is no error");
static_assert(errno_codes.codes[EAGAIN] == net_error_would_block, "EAGAIN would block");

} // namespace

int error_from_errno_value(int errno_value) {
    if (errno_value < 0 || errno_value >= errno_table_size)
        return net_error_unknown;
    return errno_codes.codes[errno_value];
}

int error_from_errno() {
    return error_from_errno_value(errno);
}

const char *error_name(int code) {
    if (code < first_named_code || code > last_named_code)
        return "unknown error";
    return error_texts[last_named_code - code];
}

int is_transient_error(int code) {
    return (code == net_error_would_block || code == net_error_in_progress ||
            code == net_error_interrupted || code == net_error_none)
               ? 1
               : 0;
}

void network_startup() {}

int wait_sockets(int count, fd_set *read_set, fd_set *write_set, fd_set *error_set,
                 struct timeval *timeout) {
    int ready = select(count, read_set, write_set, error_set, timeout);
    return ready < 0 ? error_from_errno() : ready;
}

int qorl_network_socket::create_stream(int family, int type, int protocol) {
    descriptor = socket(family, type, protocol);
    return descriptor != -1 ? 1 : 0;
}

int qorl_network_socket::connect_to(const struct sockaddr *address, socklen_t length) {
    int result = connect(descriptor, address, length);
    return result == 0 ? 0 : error_from_errno();
}

int qorl_network_socket::bind_to(const struct sockaddr *address, socklen_t length) {
    return bind(descriptor, address, length) == 0 ? 1 : 0;
}

int qorl_network_socket::listen_for_connections() {
    return listen(descriptor, 3) == 0 ? 1 : 0;
}

int qorl_network_socket::accept_connection(qorl_network_socket &accepted, struct sockaddr *address,
                                           socklen_t *length) {
    int fd = accept(descriptor, address, length);
    if (fd < 0)
        return error_from_errno();
    accepted.descriptor = fd;
    return 1;
}

int qorl_network_socket::shutdown_both() {
    if (descriptor == -1)
        return -1;
    return shutdown(descriptor, SHUT_RDWR);
}

int qorl_network_socket::set_reuse_address() {
    int on = 1;
    return setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 1 : 0;
}

void qorl_network_socket::close_socket() {
    if (descriptor != -1) {
        close(descriptor);
        descriptor = -1;
    }
}

int qorl_network_socket::read_bytes(void *buffer, int size) {
    if (size < 0)
        return net_error_bad_argument; // would turn into a huge count
    ssize_t got = read(descriptor, buffer, size_t(size));
    return got < 0 ? error_from_errno() : int(got);
}

int qorl_network_socket::write_bytes(const void *data, int length) {
    if (length < 0)
        return net_error_bad_argument;
    ssize_t put = write(descriptor, data, size_t(length));
    return put < 0 ? error_from_errno() : int(put);
}

int qorl_network_socket::set_blocking() {
    int flags = fcntl(descriptor, F_GETFL);
    if (flags == -1 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        report_message(
            "Error in qorl_network_socket::set_blocking(), setting blocking mode failed.",
            msg_runtime, module_sockets);
        return 0;
    }
    return 1;
}

int qorl_network_socket::set_nonblocking() {
    int flags = fcntl(descriptor, F_GETFL);
    if (flags == -1 || fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == -1) {
        report_message(
            "Error in qorl_network_socket::set_nonblocking(), setting nonblocking mode failed.",
            msg_runtime, module_sockets);
        return 0;
    }
    return 1;
}
