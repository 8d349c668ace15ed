// Making sockets and setting their options. Each helper takes the descriptor by reference
// and returns it; on any failure it closes the descriptor and sets it to -1, so the caller
// tests the descriptor afterwards. A descriptor that is already -1 is passed through.
#pragma once

#include "transport/NetworkExport.h"
#include "transport/Socket.h"

namespace Network {

// Size both socket buffers of the links are raised to.
constexpr int kLinkSocketBufferSize = 16384000;

// IPv4 stream socket; on failure the system error is printed to standard error with the
// prefix "socket" and the result is -1.
KEST_NETWORK_API net::sock_t& CreateTCPSocket(net::sock_t& socket);
// IPv4 datagram socket (UDP); the same failure report.
KEST_NETWORK_API net::sock_t& CreateUDPSocket(net::sock_t& socket);

// SO_REUSEADDR, then SO_REUSEPORT.
KEST_NETWORK_API net::sock_t& SetOptReusable(net::sock_t& socket);
KEST_NETWORK_API net::sock_t& SetOptBroadcast(net::sock_t& socket);
KEST_NETWORK_API net::sock_t& SetOptDontRoute(net::sock_t& socket);
KEST_NETWORK_API net::sock_t& SetOptRecvBuf(net::sock_t& socket, int bytes);
KEST_NETWORK_API net::sock_t& SetOptSendBuf(net::sock_t& socket, int bytes);
KEST_NETWORK_API net::sock_t& SetOptNodelay(net::sock_t& socket);
KEST_NETWORK_API net::sock_t& SetOptNonblock(net::sock_t& socket);
KEST_NETWORK_API net::sock_t& SetOptBlock(net::sock_t& socket);
// Raises the send buffer to `bytes` when it is smaller; never lowers it. A failure here
// leaves the socket open.
KEST_NETWORK_API net::sock_t& SetOptSendbufferSize(net::sock_t& socket, int bytes);

// Asks for a receive buffer of `bytes` (past the system's limit where the process may) and
// returns what the system granted, in the same units (it books twice that for its own
// overhead); -1 when the size cannot be read back. Never closes the socket.
KEST_NETWORK_API int SetOptRecvBufAtLeast(net::sock_t socket, int bytes);

// The option chain of the links: broadcast (only when asked for), receive and send buffers
// of 16,384,000 bytes, non-blocking. Stops at the first step that fails; true when all
// succeeded.
KEST_NETWORK_API bool SetAllOptions(net::sock_t& socket, bool broadcast);
// The packet server's chain: the same with don't-route after the broadcast step.
KEST_NETWORK_API bool SetAllServerOptions(net::sock_t& socket, bool broadcast);

} // namespace Network
