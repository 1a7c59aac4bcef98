// Test support: listening TCP sockets on 127.0.0.1 for the servers the tests run themselves.
#pragma once

// Opens a socket of type SOCK_STREAM | flags (flags: SOCK_CLOEXEC, SOCK_NONBLOCK or 0) with
// SO_REUSEADDR set, binds it to 127.0.0.1:port (port 0: a free port the system picks) and
// listens with the given backlog. Returns the descriptor, or -1 when any step failed (nothing
// is left open). bound_port, when not null, receives the port it listens on.
int listen_on_loopback(int port, int backlog, int flags, int *bound_port);
