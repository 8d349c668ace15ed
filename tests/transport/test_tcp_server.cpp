// The TCP packet server: data clients get what is published after they joined, config
// clients exchange configuration packets, at most ten clients of each kind, and a stop
// that does not wait out the pass.
#include "LoopbackTest.h"
#include "PacketFill.h"
#include "transport/server/ServerFamily.h"
#include "transport/server/TCPNetwork.h"

#include <memory>

namespace {

using Network::TCPNetwork;
using namespace std::chrono_literals;

class TcpServer : public nettest::LoopbackTest {
  protected:
    void SetUp() override {
        nettest::LoopbackTest::SetUp();
        ASSERT_TRUE(Network::StartTCP(0, 0, nettest::kLoopback));
        server = dynamic_cast<TCPNetwork*>(Network::RunningServer());
        ASSERT_NE(server, nullptr);
    }
    void TearDown() override { Network::NetworkShutdown(); }

    void PublishData(std::size_t bytes, std::uint32_t sequence) {
        KestPacket* packet = Network::NewDataPacket(bytes);
        nettest::FillPacket(packet->Bytes(), bytes, sequence);
        Network::SendDataPacket(packet);
    }

    // Connects a data client and waits until the server has taken it on.
    net::UniqueSocket JoinData() {
        const std::size_t before = server->DataClientCount();
        net::UniqueSocket client = nettest::Connect(server->DataPort());
        EXPECT_TRUE(client.IsOpen());
        EXPECT_TRUE(nettest::Eventually([&] { return server->DataClientCount() > before; }));
        return client;
    }

    TCPNetwork* server = nullptr;
};

TEST_F(TcpServer, StartsRunningAndRefusesASecondStart) {
    EXPECT_EQ(Network::gCurrentNetwork.load(), Network::kTCPNetwork);
    EXPECT_EQ(Network::gNetworkState.load(), Network::kNetworkRunning);
    EXPECT_NE(server->DataPort(), 0);
    EXPECT_NE(server->ConfigPort(), 0);
    EXPECT_FALSE(Network::StartTCP(0, 0, nettest::kLoopback));
    EXPECT_FALSE(Network::StartUDP(0, 0, nettest::kLoopback, false));
    EXPECT_EQ(Network::RunningServer(), server);
}

TEST_F(TcpServer, LateJoinerGetsOnlyLaterPackets) {
    net::UniqueSocket early = JoinData();
    PublishData(40, 1);
    net::UniqueSocket late = JoinData();
    PublishData(40, 2);

    auto earlyBytes = nettest::RecvStream(early.Get(), 80, 30000ms);
    ASSERT_EQ(earlyBytes.size(), 80u);
    EXPECT_TRUE(nettest::IsPacket(earlyBytes.data(), 40, 1));
    EXPECT_TRUE(nettest::IsPacket(earlyBytes.data() + 40, 40, 2));

    auto lateBytes = nettest::RecvStream(late.Get(), 40, 30000ms);
    ASSERT_EQ(lateBytes.size(), 40u);
    EXPECT_TRUE(nettest::IsPacket(lateBytes.data(), 40, 2)) << "packet 1 came before it joined";
    EXPECT_TRUE(nettest::RecvStream(late.Get(), 1, 120ms).empty());
}

TEST_F(TcpServer, EleventhDataClientIsRejectedWhileTenStay) {
    std::vector<net::UniqueSocket> clients;
    for (int i = 0; i < 10; ++i) {
        clients.push_back(JoinData());
    }
    ASSERT_EQ(server->DataClientCount(), 10u);

    testing::internal::CaptureStdout();
    net::UniqueSocket eleventh = nettest::Connect(server->DataPort());
    ASSERT_TRUE(eleventh.IsOpen());
    const bool closed = nettest::PeerClosed(eleventh.Get(), 30000ms);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(closed) << "the server closes the newcomer";
    EXPECT_NE(log.find("NET new connection [data] rejected (too many open connections)\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(server->DataClientCount(), 10u);

    // The ten still get data.
    PublishData(24, 9);
    for (auto& client : clients) {
        auto bytes = nettest::RecvStream(client.Get(), 24, 30000ms);
        ASSERT_EQ(bytes.size(), 24u);
        EXPECT_TRUE(nettest::IsPacket(bytes.data(), 24, 9));
    }

    // One leaves; its place is free for a newcomer on a later pass.
    clients.front().Close();
    ASSERT_TRUE(nettest::Eventually([&] { return server->DataClientCount() == 9; }));
    clients.push_back(JoinData());
    EXPECT_EQ(server->DataClientCount(), 10u);
    PublishData(24, 10);
    auto bytes = nettest::RecvStream(clients.back().Get(), 24, 30000ms);
    ASSERT_EQ(bytes.size(), 24u);
    EXPECT_TRUE(nettest::IsPacket(bytes.data(), 24, 10));
}

TEST_F(TcpServer, EleventhConfigClientIsRejected) {
    std::vector<net::UniqueSocket> clients;
    for (int i = 0; i < 10; ++i) {
        clients.push_back(nettest::Connect(server->ConfigPort()));
        ASSERT_TRUE(
            nettest::Eventually([&] { return server->ConfigClientCount() == clients.size(); }));
    }
    testing::internal::CaptureStdout();
    net::UniqueSocket eleventh = nettest::Connect(server->ConfigPort());
    const bool closed = nettest::PeerClosed(eleventh.Get(), 30000ms);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(closed);
    EXPECT_NE(log.find("NET new connection [config] rejected (too many open connections)\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(server->ConfigClientCount(), 10u);
}

TEST_F(TcpServer, ConfigClientsSendAndReceiveConfigurationPackets) {
    net::UniqueSocket first = nettest::Connect(server->ConfigPort());
    ASSERT_TRUE(nettest::Eventually([&] { return server->ConfigClientCount() == 1; }));
    net::UniqueSocket second = nettest::Connect(server->ConfigPort());
    ASSERT_TRUE(nettest::Eventually([&] { return server->ConfigClientCount() == 2; }));

    // Published configuration packets reach every config client.
    KestPacket* out = Network::NewConfigPacket(16);
    nettest::FillPacket(out->Bytes(), 16, 77);
    Network::SendConfigPacket(out);
    for (auto* client : {&first, &second}) {
        auto bytes = nettest::RecvStream(client->Get(), 16, 30000ms);
        ASSERT_EQ(bytes.size(), 16u);
        EXPECT_TRUE(nettest::IsPacket(bytes.data(), 16, 77));
    }

    // Packets from the clients are taken out whole, one at a time; the second client's packet
    // arrives in two pieces.
    auto a = nettest::MakePacket(20, 1);
    auto b = nettest::MakePacket(28, 2);
    ASSERT_EQ(send(first.Get(), a.data(), a.size(), 0), 20);
    ASSERT_EQ(send(second.Get(), b.data(), 10, 0), 10);
    std::vector<std::uint32_t> seen;
    auto take = [&] {
        while (KestPacket* packet = Network::RecvConfigPacket()) {
            seen.push_back(packet->timestamp);
            EXPECT_TRUE(nettest::IsPacket(packet->Bytes(), packet->ByteSize(), packet->timestamp));
            EXPECT_TRUE(Network::DeleteConfigPacket(packet));
        }
    };
    ASSERT_TRUE(nettest::Eventually([&] {
        take();
        return seen.size() == 1;
    }));
    EXPECT_EQ(seen[0], 1u);
    std::this_thread::sleep_for(60ms); // a pass: the half packet must not come out
    take();
    EXPECT_EQ(seen.size(), 1u);
    ASSERT_EQ(send(second.Get(), b.data() + 10, b.size() - 10, 0), long(b.size() - 10));
    ASSERT_TRUE(nettest::Eventually([&] {
        take();
        return seen.size() == 2;
    }));
    EXPECT_EQ(seen[1], 2u);
    const KestPacket* stray = reinterpret_cast<const KestPacket*>(a.data());
    EXPECT_FALSE(Network::DeleteConfigPacket(stray));
}

TEST_F(TcpServer, PacketsOfAClientThatLeftAreStillDelivered) {
    net::UniqueSocket client = nettest::Connect(server->ConfigPort());
    ASSERT_TRUE(nettest::Eventually([&] { return server->ConfigClientCount() == 1; }));
    auto packet = nettest::MakePacket(32, 5);
    ASSERT_EQ(send(client.Get(), packet.data(), packet.size(), 0), 32);
    client.Close();
    KestPacket* received = nullptr;
    ASSERT_TRUE(nettest::Eventually([&] { return (received = Network::RecvConfigPacket()); }));
    std::this_thread::sleep_for(120ms); // the server notices the close meanwhile
    EXPECT_TRUE(nettest::IsPacket(received->Bytes(), 32, 5)) << "still valid while held";
    EXPECT_TRUE(Network::DeleteConfigPacket(received));
    EXPECT_TRUE(nettest::Eventually([&] { return server->ConfigClientCount() == 0; }));
}

TEST_F(TcpServer, StopEndsTheThreadWithoutWaitingOutThePass) {
    // A stop that waited out the pass would take most of the pass every time; the quickest
    // of a few stops shows it does not, without tripping over one slow round on a busy
    // machine.
    auto quickest = std::chrono::steady_clock::duration::max();
    for (int round = 0; round < 5; ++round) {
        net::UniqueSocket member = JoinData();
        std::this_thread::sleep_for(5ms); // the thread is now in its wait between passes
        const auto start = std::chrono::steady_clock::now();
        Network::NetworkShutdown();
        quickest = std::min(quickest, std::chrono::steady_clock::now() - start);
        ASSERT_TRUE(Network::StartTCP(0, 0, nettest::kLoopback));
        server = dynamic_cast<TCPNetwork*>(Network::RunningServer());
        ASSERT_NE(server, nullptr);
    }
    EXPECT_LT(quickest, TCPNetwork::kPassInterval * 3 / 5);
    net::UniqueSocket client = JoinData();
    Network::NetworkShutdown();
    EXPECT_EQ(Network::gNetworkState.load(), Network::kNetworkStopped);
    EXPECT_EQ(Network::gCurrentNetwork.load(), Network::kNoNetwork);
    EXPECT_EQ(Network::RunningServer(), nullptr);
    EXPECT_TRUE(nettest::PeerClosed(client.Get(), 30000ms)) << "clients are disconnected";
    EXPECT_EQ(Network::RecvConfigPacket(), nullptr);
    // And a new server can start afterwards.
    EXPECT_TRUE(Network::StartTCP(0, 0, nettest::kLoopback));
}

class TcpServerStart : public nettest::LoopbackTest {};

TEST_F(TcpServerStart, BadAddressFailsAndLeavesNothingRunning) {
    Network::TCPNetwork server(0, 0, "not.an.address");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(server.Start());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "NET bind_and_listen dataServer failed\n");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Network::StartTCP(0, 0, "300.1.2.3"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Network::RunningServer(), nullptr);
    EXPECT_EQ(Network::gCurrentNetwork.load(), Network::kNoNetwork);
}

} // namespace
