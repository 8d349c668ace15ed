// Socket option helpers: what each sets, and that a failure leaves the descriptor at -1.
#include "LoopbackTest.h"
#include "transport/SocketOptions.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

using nettest::LoopbackTest;

int IntOption(net::sock_t socket, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    EXPECT_EQ(getsockopt(socket, level, name, &value, &length), 0);
    return value;
}

bool NonBlocking(net::sock_t socket) {
    return (fcntl(socket, F_GETFL, 0) & O_NONBLOCK) != 0;
}

class SocketOptions : public LoopbackTest {};

TEST_F(SocketOptions, CreateAndSetEachOption) {
    net::sock_t udp = net::kInvalidSocket;
    Network::CreateUDPSocket(udp);
    ASSERT_GE(udp, 0);
    EXPECT_EQ(IntOption(udp, SOL_SOCKET, SO_TYPE), SOCK_DGRAM);
    EXPECT_GE(Network::SetOptReusable(udp), 0);
    EXPECT_EQ(IntOption(udp, SOL_SOCKET, SO_REUSEADDR), 1);
    EXPECT_EQ(IntOption(udp, SOL_SOCKET, SO_REUSEPORT), 1);
    EXPECT_GE(Network::SetOptBroadcast(udp), 0);
    EXPECT_EQ(IntOption(udp, SOL_SOCKET, SO_BROADCAST), 1);
    EXPECT_GE(Network::SetOptDontRoute(udp), 0);
    EXPECT_EQ(IntOption(udp, SOL_SOCKET, SO_DONTROUTE), 1);
    EXPECT_GE(Network::SetOptNonblock(udp), 0);
    EXPECT_TRUE(NonBlocking(udp));
    EXPECT_GE(Network::SetOptBlock(udp), 0);
    EXPECT_FALSE(NonBlocking(udp));
    net::CloseSocket(udp);
    EXPECT_EQ(udp, -1);

    net::UniqueSocket tcp;
    Network::CreateTCPSocket(tcp.Handle());
    ASSERT_TRUE(tcp.IsOpen());
    EXPECT_EQ(IntOption(tcp.Get(), SOL_SOCKET, SO_TYPE), SOCK_STREAM);
    EXPECT_GE(Network::SetOptNodelay(tcp.Handle()), 0);
    EXPECT_EQ(IntOption(tcp.Get(), IPPROTO_TCP, TCP_NODELAY), 1);
}

TEST_F(SocketOptions, FailureClosesAndLeavesMinusOne) {
    // TCP_NODELAY does not apply to a datagram socket.
    net::sock_t udp = net::kInvalidSocket;
    Network::CreateUDPSocket(udp);
    ASSERT_GE(udp, 0);
    EXPECT_EQ(Network::SetOptNodelay(udp), -1);
    EXPECT_EQ(udp, -1);

    // Each setter on something that is not a socket.
    using Setter = net::sock_t& (*)(net::sock_t&);
    for (Setter setter : {&Network::SetOptReusable, &Network::SetOptBroadcast,
                          &Network::SetOptDontRoute, &Network::SetOptNodelay}) {
        net::sock_t file = open("/dev/null", O_RDONLY);
        ASSERT_GE(file, 0);
        EXPECT_EQ(setter(file), -1);
        EXPECT_EQ(file, -1);
        EXPECT_EQ(fcntl(file, F_GETFD), -1);
    }
    net::sock_t file = open("/dev/null", O_RDONLY);
    EXPECT_EQ(Network::SetOptRecvBuf(file, 4096), -1);
    file = open("/dev/null", O_RDONLY);
    EXPECT_EQ(Network::SetOptSendBuf(file, 4096), -1);
    file = open("/dev/null", O_RDONLY);
    EXPECT_FALSE(Network::SetAllOptions(file, false));
    EXPECT_EQ(file, -1);

    // A descriptor that is already -1 passes through.
    net::sock_t closed = -1;
    EXPECT_EQ(Network::SetOptNonblock(closed), -1);
    EXPECT_FALSE(Network::SetAllOptions(closed, true));
}

TEST_F(SocketOptions, SendBufferIsRaisedButNeverLowered) {
    net::UniqueSocket udp;
    Network::CreateUDPSocket(udp.Handle());
    Network::SetOptSendBuf(udp.Handle(), 65536);
    const int before = IntOption(udp.Get(), SOL_SOCKET, SO_SNDBUF);
    Network::SetOptSendbufferSize(udp.Handle(), 8192);
    EXPECT_EQ(IntOption(udp.Get(), SOL_SOCKET, SO_SNDBUF), before);
    Network::SetOptSendbufferSize(udp.Handle(), 3 * before);
    EXPECT_GT(IntOption(udp.Get(), SOL_SOCKET, SO_SNDBUF), before);

    // A failure here leaves the descriptor open.
    net::sock_t file = open("/dev/null", O_RDONLY);
    ASSERT_GE(file, 0);
    EXPECT_EQ(Network::SetOptSendbufferSize(file, 100000), file);
    EXPECT_GE(fcntl(file, F_GETFD), 0);
    close(file);
}

TEST_F(SocketOptions, OptionChainsAskForBroadcastOnlyWhenWanted) {
    net::UniqueSocket plain;
    Network::CreateUDPSocket(plain.Handle());
    EXPECT_TRUE(Network::SetAllOptions(plain.Handle(), false));
    EXPECT_EQ(IntOption(plain.Get(), SOL_SOCKET, SO_BROADCAST), 0);
    EXPECT_TRUE(NonBlocking(plain.Get()));
    EXPECT_GT(IntOption(plain.Get(), SOL_SOCKET, SO_RCVBUF), 4096);

    net::UniqueSocket client;
    Network::CreateUDPSocket(client.Handle());
    EXPECT_TRUE(Network::SetAllOptions(client.Handle(), true));
    EXPECT_EQ(IntOption(client.Get(), SOL_SOCKET, SO_BROADCAST), 1);
    EXPECT_EQ(IntOption(client.Get(), SOL_SOCKET, SO_DONTROUTE), 0);

    net::UniqueSocket server;
    Network::CreateUDPSocket(server.Handle());
    EXPECT_TRUE(Network::SetAllServerOptions(server.Handle(), true));
    EXPECT_EQ(IntOption(server.Get(), SOL_SOCKET, SO_BROADCAST), 1);
    EXPECT_EQ(IntOption(server.Get(), SOL_SOCKET, SO_DONTROUTE), 1);
    EXPECT_TRUE(NonBlocking(server.Get()));
}

} // namespace
