// Buffered streams and sockets.
//
// A stream is a reference-counted connection object (vek/streams/stream.h)
// assembled from three implementation classes (vek/streams/stream_impl.h);
// a concrete connection class reaches its transport through the hooks of
// stream_base. udp_conn (vek/streams/udp_conn.h) is the library's own
// example. The socket service ("svc_socket", vek/streams/socket_service.h)
// owns the listening TCP sockets and the UDP sockets; tcp_listener
// (vek/streams/tcp_listener.h) takes over accepted connections; the
// network functions (vek/streams/net.h) open, send and receive; the bit
// parser (vek/streams/bin_parser.h) reads received bytes.
//
// Thread safety:
// - i_stream_impl, i_input_stream_impl, i_output_stream_impl, udp_conn:
//   safe for concurrent use.
// - stream_base: the hooks are called under the buffer guards.
// - tcp_listener: one thread at a time for init/stop (its owner).
// - the network functions: safe for concurrent use on different sockets.
// - bin_parser: one thread at a time.
// Each header says more.
#ifndef VEK_STREAMS_H
#define VEK_STREAMS_H

#include "vek/streams/bin_parser.h"
#include "vek/streams/net.h"
#include "vek/streams/socket_service.h"
#include "vek/streams/stream.h"
#include "vek/streams/stream_impl.h"
#include "vek/streams/tcp_listener.h"
#include "vek/streams/udp_conn.h"

#endif
