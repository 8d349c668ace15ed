#include "links/TimedConnect.h"

#include "transport/SocketAddress.h"
#include "transport/SocketOptions.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

namespace Network {

int ConnectWithin(net::sock_t socket, const sockaddr_in& peer, int timeoutMs) {
    const int flags = fcntl(socket, F_GETFL, 0);
    if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) {
        return kConnectNotMade;
    }
    if (connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        return 0;
    }
    if (errno != EINPROGRESS && errno != EAGAIN && errno != EINTR) {
        return errno;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd wait{socket, POLLOUT, 0};
        const int ready = poll(&wait, 1, left.count() > 0 ? int(left.count()) : 0);
        if (ready > 0) {
            break;
        }
        if (ready < 0 && errno != EINTR) {
            return errno;
        }
        if (ready == 0 && Clock::now() >= deadline) {
            return ETIMEDOUT;
        }
    }
    int pending = 0;
    socklen_t length = sizeof pending;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &pending, &length) != 0) {
        return errno;
    }
    return pending;
}

net::sock_t ConnectTcp(const char* address, unsigned short port, int timeoutMs, int* error) {
    int result = EINVAL;
    net::sock_t socket = net::kInvalidSocket;
    sockaddr_in peer;
    if (address != nullptr && address[0] != '\0' && MakeAddress(address, port, &peer)) {
        CreateTCPSocket(socket);
        SetOptReusable(socket);
        result = socket < 0 ? kConnectNotMade : ConnectWithin(socket, peer, timeoutMs);
        if (result != 0) {
            net::CloseSocket(socket);
        }
    }
    if (error != nullptr) {
        *error = result;
    }
    return socket;
}

} // namespace Network
