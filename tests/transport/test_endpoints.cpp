// Sending and receiving endpoints over loopback sockets: datagrams of whole packets, stream
// sends finished after a partial send, framing of received bytes, and slow readers.
#include "LoopbackTest.h"
#include "PacketFill.h"
#include "transport/CircularKestBuffer.h"
#include "transport/IOClient.h"
#include "transport/OutputClient.h"
#include "transport/SocketOptions.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

using nettest::LoopbackTest;
using Network::CircularKestBuffer;
using Network::IOClient;
using Network::OutputClient;
using namespace std::chrono_literals;

void Put(CircularKestBuffer& ring, std::size_t bytes, std::uint32_t sequence) {
    nettest::FillPacket(ring.Reserve(bytes), bytes, sequence);
    ring.Publish();
}

// A non-blocking UDP sender on 127.0.0.1 aimed at `port`.
net::sock_t UdpSender() {
    net::sock_t socket = net::kInvalidSocket;
    Network::CreateUDPSocket(socket);
    Network::SetAllOptions(socket, false);
    return socket;
}

// A connected pair of TCP sockets on loopback: (accepted side, connecting side).
std::pair<net::UniqueSocket, net::UniqueSocket> TcpPair(int clientReceiveBuffer = 0) {
    net::UniqueSocket listener = nettest::Listener();
    net::UniqueSocket client =
        nettest::Connect(nettest::LocalPort(listener.Get()), clientReceiveBuffer);
    net::UniqueSocket accepted(accept(listener.Get(), nullptr, nullptr));
    return {std::move(accepted), std::move(client)};
}

class Endpoints : public LoopbackTest {};

TEST_F(Endpoints, DatagramsCarryOnlyWholePackets) {
    net::UniqueSocket receiver = nettest::BoundUdp();
    CircularKestBuffer ring(65536, "configBuffer");
    OutputClient sender(UdpSender(), ring, 1440,
                        nettest::Loopback(nettest::LocalPort(receiver.Get())),
                        OutputClient::kDatagram);
    for (std::uint32_t i = 0; i < 3; ++i) {
        Put(ring, 600, i);
    }
    long total = 0;
    EXPECT_EQ(sender.Send(&total), 1800);
    EXPECT_EQ(total, 1800);

    auto first = nettest::RecvDatagram(receiver.Get(), 2000ms);
    auto second = nettest::RecvDatagram(receiver.Get(), 2000ms);
    ASSERT_EQ(first.size(), 1200u) << "two packets of 600 in the first datagram";
    ASSERT_EQ(second.size(), 600u) << "the third in the next";
    EXPECT_TRUE(nettest::IsPacket(first.data(), 600, 0));
    EXPECT_TRUE(nettest::IsPacket(first.data() + 600, 600, 1));
    EXPECT_TRUE(nettest::IsPacket(second.data(), 600, 2));
    EXPECT_EQ(sender.Send(), 0) << "nothing new published";
}

TEST_F(Endpoints, ReaderGoesOnAcrossTheWrap) {
    net::UniqueSocket receiver = nettest::BoundUdp();
    CircularKestBuffer ring(4096, "dataBuffer");
    OutputClient sender(UdpSender(), ring, 1440,
                        nettest::Loopback(nettest::LocalPort(receiver.Get())),
                        OutputClient::kDatagram);
    std::uint32_t sequence = 0;
    for (int round = 0; round < 6; ++round) {
        // 1000-byte packets go one per datagram; every fifth wraps the 4096-byte ring.
        Put(ring, 1000, sequence);
        Put(ring, 1000, sequence + 1);
        ASSERT_EQ(sender.Send(), 2000);
        for (int i = 0; i < 2; ++i) {
            auto datagram = nettest::RecvDatagram(receiver.Get(), 2000ms);
            ASSERT_EQ(datagram.size(), 1000u);
            EXPECT_TRUE(nettest::IsPacket(datagram.data(), 1000, sequence)) << sequence;
            ++sequence;
        }
    }
    EXPECT_EQ(sender.OvertakenCount(), 0);
    EXPECT_EQ(sender.ReadPosition(), ring.PublishedHead());
}

TEST_F(Endpoints, PartialStreamSendIsFinishedBySendRest) {
    auto sockets = TcpPair(8192);
    net::UniqueSocket& accepted = sockets.first;
    net::UniqueSocket& client = sockets.second;
    net::sock_t socket = accepted.Release();
    Network::SetOptSendBuf(socket, 8192);
    Network::SetOptNonblock(socket);
    CircularKestBuffer ring(4 * 1024 * 1024, "dataBuffer");
    OutputClient sender(socket, ring, 131072, nettest::Loopback(0), 0);

    constexpr std::uint32_t kPackets = 2000; // 2000 x 500 bytes, far more than the buffers
    for (std::uint32_t i = 0; i < kPackets; ++i) {
        Put(ring, 500, i);
    }
    std::vector<std::uint8_t> received;
    bool sawPending = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (received.size() < kPackets * 500u && std::chrono::steady_clock::now() < deadline) {
        ASSERT_NE(sender.Send(), -1);
        sawPending = sawPending || sender.PendingLength() != 0;
        auto chunk = nettest::RecvStream(client.Get(), 16384, 5ms);
        received.insert(received.end(), chunk.begin(), chunk.end());
    }
    EXPECT_TRUE(sawPending) << "a send was cut short and its rest kept";
    EXPECT_EQ(sender.PendingLength(), 0u);
    ASSERT_EQ(received.size(), kPackets * 500u);
    for (std::uint32_t i = 0; i < kPackets; ++i) {
        ASSERT_TRUE(nettest::IsPacket(received.data() + i * 500u, 500, i)) << "packet " << i;
    }
}

TEST_F(Endpoints, StreamCutMidPacketWaitsForTheRest) {
    auto sockets = TcpPair();
    net::UniqueSocket& accepted = sockets.first;
    net::UniqueSocket& client = sockets.second;
    CircularKestBuffer ring(4096, "configBuffer");
    IOClient endpoint(accepted.Release(), ring, 1024, 1024, nettest::Loopback(0), 0);

    auto packet = nettest::MakePacket(64, 7);
    auto feed = [&](std::size_t from, std::size_t to) {
        ASSERT_EQ(send(client.Get(), packet.data() + from, to - from, 0), long(to - from));
        ASSERT_TRUE(nettest::Eventually([&] {
            endpoint.RecvFromNetwork(0);
            return endpoint.Fill() >= to;
        }));
    };
    feed(0, 7);
    EXPECT_EQ(endpoint.HasPacket(), nullptr) << "7 bytes: not even a header";
    feed(7, 40);
    EXPECT_EQ(endpoint.HasPacket(), nullptr) << "40 of 64 bytes";
    feed(40, 64);
    KestPacket* whole = endpoint.HasPacket();
    ASSERT_NE(whole, nullptr);
    EXPECT_TRUE(nettest::IsPacket(whole->Bytes(), 64, 7));
    EXPECT_TRUE(endpoint.DeletePacket(whole));
    EXPECT_EQ(endpoint.Fill(), 0u);
}

TEST_F(Endpoints, PacketsAreTakenOutOldestFirst) {
    auto sockets = TcpPair();
    net::UniqueSocket& accepted = sockets.first;
    net::UniqueSocket& client = sockets.second;
    CircularKestBuffer ring(4096, "configBuffer");
    IOClient endpoint(accepted.Release(), ring, 1024, 1024, nettest::Loopback(0), 0);

    std::vector<std::uint8_t> bytes;
    for (std::uint32_t i = 0; i < 3; ++i) {
        auto packet = nettest::MakePacket(16 + 4 * i, i);
        bytes.insert(bytes.end(), packet.begin(), packet.end());
    }
    bytes.resize(bytes.size() + 5); // and the start of a fourth
    bytes[bytes.size() - 5] = 10;
    ASSERT_EQ(send(client.Get(), bytes.data(), bytes.size(), 0), long(bytes.size()));
    ASSERT_TRUE(nettest::Eventually([&] {
        endpoint.RecvFromNetwork(0);
        return endpoint.Fill() == bytes.size();
    }));

    KestPacket* oldest = endpoint.HasPacket();
    ASSERT_NE(oldest, nullptr);
    const KestPacket* second = reinterpret_cast<const KestPacket*>(oldest->Bytes() + 16);
    EXPECT_FALSE(endpoint.DeletePacket(second)) << "not the oldest packet";
    EXPECT_FALSE(endpoint.DeletePacket(nullptr));
    EXPECT_EQ(endpoint.Fill(), bytes.size()) << "a refused delete changes nothing";
    EXPECT_EQ(endpoint.HasPacket(), oldest);

    for (std::uint32_t i = 0; i < 3; ++i) {
        KestPacket* packet = endpoint.HasPacket();
        ASSERT_NE(packet, nullptr);
        EXPECT_TRUE(nettest::IsPacket(packet->Bytes(), 16 + 4 * i, i));
        EXPECT_TRUE(endpoint.DeletePacket(packet));
    }
    EXPECT_EQ(endpoint.HasPacket(), nullptr);
    EXPECT_EQ(endpoint.Fill(), 5u) << "the start of the fourth packet waits";
}

TEST_F(Endpoints, ReceiveBufferNeverStallsOnItsOwnLeftovers) {
    // Packets are taken out by moving a start offset; the leftover start of a packet must
    // still get room for its rest when the buffer was filled to the end.
    auto sockets = TcpPair();
    net::UniqueSocket& accepted = sockets.first;
    net::UniqueSocket& client = sockets.second;
    CircularKestBuffer ring(4096, "configBuffer");
    IOClient endpoint(accepted.Release(), ring, 1024, 1024, nettest::Loopback(0), 0);
    std::vector<std::uint8_t> stream;
    for (std::uint32_t i = 0; i < 40; ++i) {
        auto packet = nettest::MakePacket(100, i);
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    ASSERT_EQ(send(client.Get(), stream.data(), stream.size(), 0), long(stream.size()));
    std::uint32_t next = 0;
    ASSERT_TRUE(nettest::Eventually([&] {
        endpoint.RecvFromNetwork(0);
        while (KestPacket* packet = endpoint.HasPacket()) {
            EXPECT_TRUE(nettest::IsPacket(packet->Bytes(), 100, next));
            endpoint.DeletePacket(packet);
            ++next;
        }
        return next == 40;
    }));
}

TEST_F(Endpoints, SizeByteZeroIsDiscardedWithWhatFollows) {
    auto sockets = TcpPair();
    net::UniqueSocket& accepted = sockets.first;
    net::UniqueSocket& client = sockets.second;
    CircularKestBuffer ring(4096, "configBuffer");
    IOClient endpoint(accepted.Release(), ring, 1024, 1024, nettest::Loopback(0), 0);
    std::vector<std::uint8_t> bytes(24, 0x11);
    bytes[0] = 0;
    ASSERT_EQ(send(client.Get(), bytes.data(), bytes.size(), 0), 24);
    ASSERT_TRUE(nettest::Eventually([&] {
        endpoint.RecvFromNetwork(0);
        return endpoint.Fill() == 24;
    }));
    testing::internal::CaptureStderr();
    EXPECT_EQ(endpoint.HasPacket(), nullptr);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(endpoint.Fill(), 0u);
    EXPECT_NE(log.find("NET discarding 24 received bytes"), std::string::npos) << log;

    auto packet = nettest::MakePacket(12, 3);
    ASSERT_EQ(send(client.Get(), packet.data(), packet.size(), 0), 12);
    ASSERT_TRUE(nettest::Eventually([&] {
        endpoint.RecvFromNetwork(0);
        return endpoint.HasPacket() != nullptr;
    }));
    EXPECT_TRUE(nettest::IsPacket(endpoint.HasPacket()->Bytes(), 12, 3));
}

TEST_F(Endpoints, DatagramReceiveNeedsRoomForAWholeDatagram) {
    net::UniqueSocket receiver = nettest::BoundUdp();
    const unsigned short port = nettest::LocalPort(receiver.Get());
    net::sock_t socket = receiver.Release();
    Network::SetOptNonblock(socket);
    CircularKestBuffer ring(4096, "configBuffer");
    IOClient endpoint(socket, ring, 1440, 4320, nettest::Loopback(0), OutputClient::kDatagram);
    net::UniqueSocket sender(UdpSender());
    std::vector<std::uint8_t> datagram;
    for (std::uint32_t i = 0; i < 2; ++i) {
        auto packet = nettest::MakePacket(720, i);
        datagram.insert(datagram.end(), packet.begin(), packet.end());
    }
    sockaddr_in to = nettest::Loopback(port);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sendto(sender.Get(), datagram.data(), datagram.size(), 0,
                         reinterpret_cast<sockaddr*>(&to), sizeof to),
                  1440);
    }
    ASSERT_TRUE(nettest::WaitReadable(socket, 2000ms));
    EXPECT_EQ(endpoint.RecvFromNetwork(1440), 1440);
    ASSERT_TRUE(nettest::Eventually([&] { return endpoint.RecvFromNetwork(1440) == 2880; }));
    EXPECT_EQ(endpoint.RecvFromNetwork(1440), 0) << "1440 bytes free: not more than the minimum";
    EXPECT_EQ(endpoint.Fill(), 2880u);
    KestPacket* packet = endpoint.HasPacket();
    ASSERT_NE(packet, nullptr);
    EXPECT_TRUE(endpoint.DeletePacket(packet));
    ASSERT_TRUE(nettest::Eventually([&] { return endpoint.RecvFromNetwork(1440) == 3600; }));
    EXPECT_EQ(endpoint.RecvFromNetwork(1440), 0) << "720 bytes free";
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(endpoint.DeletePacket(endpoint.HasPacket()));
    }
    EXPECT_EQ(endpoint.RecvFromNetwork(1440), 2160) << "nothing waiting: the fill, no error";
    EXPECT_GE(endpoint.Socket(), 0);
}

TEST_F(Endpoints, ClosedStreamPeerEndsTheEndpoint) {
    auto sockets = TcpPair();
    net::UniqueSocket& accepted = sockets.first;
    net::UniqueSocket& client = sockets.second;
    CircularKestBuffer ring(4096, "configBuffer");
    IOClient endpoint(accepted.Release(), ring, 1024, 1024, nettest::Loopback(0), 0);
    client.Close();
    ASSERT_TRUE(nettest::WaitReadable(endpoint.Socket(), 2000ms));
    EXPECT_EQ(endpoint.RecvFromNetwork(0), 0);
    EXPECT_EQ(endpoint.Socket(), -1);
    EXPECT_EQ(endpoint.RecvFromNetwork(0), -1);
}

TEST_F(Endpoints, SendToAVanishedStreamPeerFailsWithoutKillingTheProcess) {
    auto sockets = TcpPair();
    net::UniqueSocket& accepted = sockets.first;
    net::UniqueSocket& client = sockets.second;
    const unsigned short port = nettest::LocalPort(client.Get());
    CircularKestBuffer ring(1 << 20, "dataBuffer");
    net::sock_t socket = accepted.Release();
    Network::SetOptNonblock(socket);
    OutputClient sender(socket, ring, 131072, nettest::Loopback(port), 0);
    client.Close();
    testing::internal::CaptureStderr();
    long result = 0;
    for (std::uint32_t i = 0; i < 50 && result != -1; ++i) {
        Put(ring, 1000, i);
        result = sender.Send();
        std::this_thread::sleep_for(2ms);
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(sender.Socket(), -1);
    const std::string prefix = "NET SendOne::sendto (127.0.0.1:" + std::to_string(port) + "): ";
    EXPECT_EQ(log.rfind(prefix, 0), 0u) << log;
}

TEST_F(Endpoints, FifthLapDisconnectsTheSlowReader) {
    net::UniqueSocket receiver = nettest::BoundUdp();
    const unsigned short port = nettest::LocalPort(receiver.Get());
    CircularKestBuffer ring(4096, "dataBuffer");
    OutputClient sender(UdpSender(), ring, 1440, nettest::Loopback(port), OutputClient::kDatagram);
    for (int lap = 1; lap <= 5; ++lap) {
        for (std::uint32_t i = 0; i < 4; ++i) {
            Put(ring, 1024, i); // a whole ring ahead of the reader
        }
        testing::internal::CaptureStderr();
        const long result = sender.Send();
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(sender.OvertakenCount(), lap);
        if (lap < 5) {
            EXPECT_EQ(result, 0) << "lap " << lap << ": skips ahead, sends nothing";
            EXPECT_EQ(log, "");
            EXPECT_GE(sender.Socket(), 0);
            EXPECT_EQ(sender.ReadPosition(), ring.PublishedHead());
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(sender.Socket(), -1);
            EXPECT_EQ(log, "NET network panic! disconnecting client (127.0.0.1:" +
                               std::to_string(port) + ") too slow.\n");
        }
    }
    EXPECT_TRUE(nettest::RecvDatagram(receiver.Get(), 10ms).empty()) << "nothing was sent";
}

TEST_F(Endpoints, UndecodablePacketInTheRingIsDroppedNotSentForever) {
    net::UniqueSocket receiver = nettest::BoundUdp();
    CircularKestBuffer ring(65536, "configBuffer");
    OutputClient sender(UdpSender(), ring, 1440,
                        nettest::Loopback(nettest::LocalPort(receiver.Get())),
                        OutputClient::kDatagram);
    Put(ring, 100, 1);
    std::uint8_t* broken = ring.Reserve(100);
    std::memset(broken, 0, 100); // size byte 0
    ring.Publish();
    Put(ring, 100, 3);
    testing::internal::CaptureStderr();
    EXPECT_EQ(sender.Send(), 100);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("NET dropping 200 unsent bytes of configBuffer"), std::string::npos) << log;
    EXPECT_EQ(sender.ReadPosition(), ring.PublishedHead());
    auto datagram = nettest::RecvDatagram(receiver.Get(), 2000ms);
    ASSERT_EQ(datagram.size(), 100u);
    EXPECT_TRUE(nettest::IsPacket(datagram.data(), 100, 1));
    Put(ring, 100, 4);
    EXPECT_EQ(sender.Send(), 100) << "sending goes on with the next packet";
}

} // namespace
