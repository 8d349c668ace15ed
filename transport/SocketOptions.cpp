#include "transport/SocketOptions.h"

#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace Network {

namespace {

net::sock_t& SetIntOption(net::sock_t& socket, int level, int name, int value) {
    if (socket < 0) {
        return socket;
    }
    if (setsockopt(socket, level, name, &value, sizeof value) != 0) {
        net::CloseSocket(socket);
    }
    return socket;
}

net::sock_t& Create(net::sock_t& socket, int type, int protocol) {
    socket = ::socket(AF_INET, type, protocol);
    if (socket < 0) {
        std::perror("socket");
        socket = net::kInvalidSocket;
    }
    return socket;
}

net::sock_t& ChangeStatusFlags(net::sock_t& socket, int add, int remove) {
    if (socket < 0) {
        return socket;
    }
    int flags = fcntl(socket, F_GETFL, 0);
    if (flags < 0 || fcntl(socket, F_SETFL, (flags | add) & ~remove) != 0) {
        net::CloseSocket(socket);
    }
    return socket;
}

bool OptionChain(net::sock_t& socket, bool broadcast, bool dontRoute) {
    if (socket < 0) {
        return false;
    }
    if (broadcast && SetOptBroadcast(socket) < 0) {
        return false;
    }
    if (dontRoute && SetOptDontRoute(socket) < 0) {
        return false;
    }
    return SetOptRecvBuf(socket, kLinkSocketBufferSize) >= 0 &&
           SetOptSendBuf(socket, kLinkSocketBufferSize) >= 0 && SetOptNonblock(socket) >= 0;
}

} // namespace

net::sock_t& CreateTCPSocket(net::sock_t& socket) {
    return Create(socket, SOCK_STREAM, 0);
}

net::sock_t& CreateUDPSocket(net::sock_t& socket) {
    return Create(socket, SOCK_DGRAM, IPPROTO_UDP);
}

net::sock_t& SetOptReusable(net::sock_t& socket) {
    SetIntOption(socket, SOL_SOCKET, SO_REUSEADDR, 1);
    return SetIntOption(socket, SOL_SOCKET, SO_REUSEPORT, 1);
}

net::sock_t& SetOptBroadcast(net::sock_t& socket) {
    return SetIntOption(socket, SOL_SOCKET, SO_BROADCAST, 1);
}

net::sock_t& SetOptDontRoute(net::sock_t& socket) {
    return SetIntOption(socket, SOL_SOCKET, SO_DONTROUTE, 1);
}

net::sock_t& SetOptRecvBuf(net::sock_t& socket, int bytes) {
    return SetIntOption(socket, SOL_SOCKET, SO_RCVBUF, bytes);
}

net::sock_t& SetOptSendBuf(net::sock_t& socket, int bytes) {
    return SetIntOption(socket, SOL_SOCKET, SO_SNDBUF, bytes);
}

net::sock_t& SetOptNodelay(net::sock_t& socket) {
    return SetIntOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
}

net::sock_t& SetOptNonblock(net::sock_t& socket) {
    return ChangeStatusFlags(socket, O_NONBLOCK, 0);
}

net::sock_t& SetOptBlock(net::sock_t& socket) {
    return ChangeStatusFlags(socket, 0, O_NONBLOCK);
}

net::sock_t& SetOptSendbufferSize(net::sock_t& socket, int bytes) {
    if (socket < 0) {
        return socket;
    }
    int current = 0;
    socklen_t length = sizeof current;
    if (getsockopt(socket, SOL_SOCKET, SO_SNDBUF, &current, &length) == 0 && current < bytes) {
        setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    }
    return socket;
}

int SetOptRecvBufAtLeast(net::sock_t socket, int bytes) {
    auto granted = [socket] {
        int reported = 0;
        socklen_t length = sizeof reported;
        return getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &reported, &length) == 0 ? reported / 2
                                                                                  : -1;
    };
    if (socket < 0) {
        return -1;
    }
    // The forced size passes the system's limit for a privileged process; any other gets at
    // most that limit from the plain option.
    if (setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0 ||
        granted() < bytes) {
        setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    return granted();
}

bool SetAllOptions(net::sock_t& socket, bool broadcast) {
    return OptionChain(socket, broadcast, false);
}

bool SetAllServerOptions(net::sock_t& socket, bool broadcast) {
    return OptionChain(socket, broadcast, true);
}

} // namespace Network
