// Socket tests run on loopback only: every socket here is bound to or aimed at 127.0.0.1,
// on ports the system hands out (port 0), so parallel runs never collide. A test refuses to
// run when the environment points the system at networks beyond loopback.
#pragma once

#include "transport/Socket.h"
#include "transport/SocketAddress.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace nettest {

constexpr const char* kLoopback = "127.0.0.1";

inline bool LoopbackOnly(std::string* offender) {
    for (const char* name : {"KEST_WIRED_NET", "KEST_WIRELESS_NET"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && std::strncmp(value, "127.", 4) != 0) {
            *offender = std::string(name) + "=" + value;
            return false;
        }
    }
    return true;
}

class LoopbackTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string offender;
        ASSERT_TRUE(LoopbackOnly(&offender))
            << "refusing to run: " << offender << " is not a loopback network (127.x)";
    }
};

inline sockaddr_in Loopback(unsigned short port) {
    sockaddr_in address;
    Network::MakeAddress(kLoopback, port, &address);
    return address;
}

inline unsigned short LocalPort(net::sock_t socket) {
    sockaddr_in bound;
    socklen_t length = sizeof bound;
    getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length);
    return ntohs(bound.sin_port);
}

// A UDP socket bound to 127.0.0.1 on a free port.
inline net::UniqueSocket BoundUdp() {
    net::UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in address = Loopback(0);
    EXPECT_EQ(bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return socket;
}

// Waits up to `timeout` for the descriptor to become readable.
inline bool WaitReadable(net::sock_t socket, std::chrono::milliseconds timeout) {
    pollfd entry{socket, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(timeout.count())) > 0;
}

// One datagram, or an empty vector after the timeout.
inline std::vector<std::uint8_t> RecvDatagram(net::sock_t socket,
                                              std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> datagram(65536);
    if (!WaitReadable(socket, timeout)) {
        return {};
    }
    long got = recv(socket, datagram.data(), datagram.size(), MSG_DONTWAIT);
    datagram.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return datagram;
}

// A TCP listener on 127.0.0.1 and a free port.
inline net::UniqueSocket Listener() {
    net::UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(0);
    EXPECT_EQ(bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(socket.Get(), 16), 0);
    return socket;
}

// A blocking TCP connection to 127.0.0.1:port; receiveBuffer > 0 sets SO_RCVBUF first.
inline net::UniqueSocket Connect(unsigned short port, int receiveBuffer = 0) {
    net::UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, 0));
    if (receiveBuffer > 0) {
        setsockopt(socket.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address = Loopback(port);
    if (connect(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        socket.Close();
    }
    return socket;
}

// Reads exactly `length` bytes unless the peer closes or `timeout` passes; returns what came.
inline std::vector<std::uint8_t> RecvStream(net::sock_t socket, std::size_t length,
                                            std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t chunk[65536];
    while (bytes.size() < length) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(socket, left)) {
            break;
        }
        std::size_t want = std::min(sizeof chunk, length - bytes.size());
        long got = recv(socket, chunk, want, MSG_DONTWAIT);
        if (got == 0) {
            break;
        }
        if (got > 0) {
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
    }
    return bytes;
}

// Whether the peer closed the connection (recv gives 0) within the timeout.
inline bool PeerClosed(net::sock_t socket, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t chunk[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReadable(socket, left)) {
            return false;
        }
        long got = recv(socket, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno == ECONNRESET)) {
            return true;
        }
    }
}

// Polls `condition` every millisecond until it holds or the generous `timeout` passes.
template <typename Condition>
bool Eventually(Condition condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(30000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace nettest
