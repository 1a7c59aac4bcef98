// Test support: one way to open the tests' local listening sockets.
#include "tests/support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

int listen_on_loopback(int port, int backlog, int flags, int *bound_port) {
    const int fd = socket(AF_INET, SOCK_STREAM | flags, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) != 0) {
        close(fd);
        return -1;
    }
    if (bound_port != nullptr)
        *bound_port = ntohs(a.sin_port);
    return fd;
}
