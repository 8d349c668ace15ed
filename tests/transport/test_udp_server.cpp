// The UDP packet server: published data and configuration packets go out in datagrams of
// whole packets, configuration packets from peers are taken out whole.
#include "LoopbackTest.h"
#include "PacketFill.h"
#include "transport/server/ServerFamily.h"
#include "transport/server/UDPNetwork.h"

namespace {

using namespace std::chrono_literals;

class UdpServer : public nettest::LoopbackTest {
  protected:
    void TearDown() override { Network::NetworkShutdown(); }
};

TEST_F(UdpServer, DeliversPublishedDataAndConfigPackets) {
    net::UniqueSocket peer = nettest::BoundUdp();
    const unsigned short peerPort = nettest::LocalPort(peer.Get());
    // Broadcast not asked for: the start still succeeds.
    ASSERT_TRUE(Network::StartUDP(0, peerPort, nettest::kLoopback, false));
    EXPECT_EQ(Network::gCurrentNetwork.load(), Network::kUDPNetwork);
    EXPECT_EQ(Network::gNetworkState.load(), Network::kNetworkRunning);
    auto* server = dynamic_cast<Network::UDPNetwork*>(Network::RunningServer());
    ASSERT_NE(server, nullptr);
    EXPECT_GT(server->ReceiveBufferSize(), 0);

    for (std::uint32_t i = 0; i < 20; ++i) {
        KestPacket* data = Network::NewDataPacket(76);
        nettest::FillPacket(data->Bytes(), 76, i);
        Network::SendDataPacket(data);
    }
    KestPacket* config = Network::NewConfigPacket(16);
    nettest::FillPacket(config->Bytes(), 16, 500);
    Network::SendConfigPacket(config);

    std::vector<std::uint32_t> data;
    bool gotConfig = false;
    while (data.size() < 20 || !gotConfig) {
        auto datagram = nettest::RecvDatagram(peer.Get(), 30000ms);
        ASSERT_FALSE(datagram.empty()) << data.size() << " data packets, config " << gotConfig;
        ASSERT_LE(datagram.size(), 1440u);
        for (std::size_t offset = 0; offset < datagram.size();) {
            const std::size_t length = datagram[offset] * 4u;
            ASSERT_GE(length, 8u);
            ASSERT_LE(offset + length, datagram.size()) << "a datagram holds whole packets";
            std::uint32_t sequence;
            std::memcpy(&sequence, datagram.data() + offset + 4, 4);
            EXPECT_TRUE(nettest::IsPacket(datagram.data() + offset, length, sequence));
            if (sequence == 500) {
                gotConfig = true;
            } else {
                data.push_back(sequence);
            }
            offset += length;
        }
    }
    for (std::uint32_t i = 0; i < 20; ++i) {
        EXPECT_EQ(data[i], i);
    }

    // Configuration packets from the peer: two in one datagram.
    auto first = nettest::MakePacket(12, 1);
    auto second = nettest::MakePacket(24, 2);
    first.insert(first.end(), second.begin(), second.end());
    sockaddr_in to = nettest::Loopback(server->LocalPort());
    ASSERT_EQ(sendto(peer.Get(), first.data(), first.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to),
              36);
    KestPacket* packet = nullptr;
    ASSERT_TRUE(nettest::Eventually([&] { return (packet = Network::RecvConfigPacket()); }));
    EXPECT_TRUE(nettest::IsPacket(packet->Bytes(), 12, 1));
    EXPECT_TRUE(Network::DeleteConfigPacket(packet));
    packet = Network::RecvConfigPacket();
    ASSERT_NE(packet, nullptr);
    EXPECT_TRUE(nettest::IsPacket(packet->Bytes(), 24, 2));
    EXPECT_TRUE(Network::DeleteConfigPacket(packet));
    EXPECT_EQ(Network::RecvConfigPacket(), nullptr);
}

TEST_F(UdpServer, WithoutASecondPortItSendsToItsOwnPort) {
    ASSERT_TRUE(Network::StartUDP(0, 0, nettest::kLoopback, true));
    KestPacket* config = Network::NewConfigPacket(12);
    nettest::FillPacket(config->Bytes(), 12, 42);
    Network::SendConfigPacket(config);
    KestPacket* packet = nullptr;
    ASSERT_TRUE(nettest::Eventually([&] { return (packet = Network::RecvConfigPacket()); }));
    EXPECT_TRUE(nettest::IsPacket(packet->Bytes(), 12, 42));
    EXPECT_TRUE(Network::DeleteConfigPacket(packet));
}

TEST_F(UdpServer, StartFailsCleanlyWithoutAUsableAddress) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Network::StartUDP(0, 0, nullptr, false));
    EXPECT_FALSE(Network::StartUDP(0, 0, "no-such-address", false));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("NET UDP server: bad address 'no-such-address'"), std::string::npos) << log;
    EXPECT_EQ(Network::RunningServer(), nullptr);
    EXPECT_EQ(Network::gCurrentNetwork.load(), Network::kNoNetwork);
    EXPECT_NE(Network::gNetworkState.load(), Network::kNetworkRunning);
}

TEST_F(UdpServer, StopsPromptlyAndCanStartAgain) {
    ASSERT_TRUE(Network::StartUDP(0, 0, nettest::kLoopback, false));
    const auto start = std::chrono::steady_clock::now();
    Network::NetworkShutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "the stop does not hang";
    EXPECT_EQ(Network::gNetworkState.load(), Network::kNetworkStopped);
    EXPECT_TRUE(Network::StartUDP(0, 0, nettest::kLoopback, false));
}

} // namespace
