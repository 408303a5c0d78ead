// Network functions for connection classes: opening a TCP connection and
// sending or receiving on a non-blocking socket.
//
// Thread safety: safe for concurrent use on different sockets; one socket
// must not be sent to or received from by two threads at once.
#ifndef VEK_STREAMS_NET_H
#define VEK_STREAMS_NET_H

#include "vek/export.h"

// False for "no error", would block, in progress, already in progress and
// no buffer space; true for every other last socket error.
VEK_API bool vek_net_error();
// A connected non-blocking TCP socket, or -1 (nothing left open). A
// `timeout` of 0 means 5 seconds.
VEK_API int vek_net_tcp_open(const char* host, unsigned short port, unsigned int timeout);
// Sends or receives exactly `size` bytes on a non-blocking socket within
// `timeout` seconds (0: no limit). False on a real error, a closed peer
// (receive), a timeout with data missing, or when the framework stops.
VEK_API bool vek_net_send(int socket, const void* data, unsigned int size, unsigned int timeout);
VEK_API bool vek_net_recv(int socket, void* data, unsigned int size, unsigned int timeout);
// `value` from network (big-endian) to host byte order.
VEK_API unsigned long long ntohll(unsigned long long value);

#endif
