// A TCP connect that never waits longer than asked: the socket is made non-blocking, the
// connect started, and the wait for it bounded by the timeout.
#pragma once

#include "transport/Socket.h"

#include <netinet/in.h>

namespace Network {

// Result of ConnectWithin: 0 connected; otherwise the system error (ETIMEDOUT when the
// peer did not answer in time). kConnectNotMade when the socket could not be made
// non-blocking, so no connect was tried. The socket stays non-blocking.
constexpr int kConnectNotMade = -1;
int ConnectWithin(net::sock_t socket, const sockaddr_in& peer, int timeoutMs);

// A new reusable TCP socket connected to `address`:`port` within the timeout; -1 on any
// failure, with the error (as above) in *error when given.
net::sock_t ConnectTcp(const char* address, unsigned short port, int timeoutMs, int* error);

} // namespace Network
