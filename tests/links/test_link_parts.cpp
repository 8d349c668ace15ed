// Pieces of the links on their own: the operator endpoint's requests byte by byte, the
// stream link's choice of processor address against stand-in listeners, bounded operator
// connects, and the trial descriptor requests of the handshake.
#include "LinkTestEnv.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "client/KestConfigSink.h"
#include "links/LinkCache.h"
#include "links/OperAddress.h"
#include "links/OperClient.h"
#include "links/OperNetwork.h"
#include "links/TCPOperNetwork.h"
#include "protocol/KestPacketBuilder.h"
#include "transport/ClientFamily.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using Network::OperNetwork::LinkCache;
using Network::OperNetwork::TCPOperNetwork;

using links_test::SecondsSince;

// Reads exactly `count` bytes within a generous deadline; fewer when they do not come.
Bytes ReadBytes(int fd, std::size_t count) {
    Bytes bytes;
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (bytes.size() < count && Clock::now() < end) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 10) <= 0) {
            continue;
        }
        std::uint8_t buffer[256];
        const ssize_t got = read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

// A TCP listener that never accepts: connects complete through its backlog.
class Listener {
  public:
    Listener(const std::string& address, std::uint16_t port, int backlog = 8) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        at_.sin_family = AF_INET;
        at_.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &at_.sin_addr);
        ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&at_), sizeof at_) == 0 &&
              listen(fd_, backlog) == 0;
    }
    ~Listener() {
        for (int fd : clogs_) {
            close(fd);
        }
        close(fd_);
    }
    bool Ok() const { return ok_; }
    // Fills the accept queue so that further connects get no answer.
    void Clog() {
        for (int i = 0; i < 4; ++i) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(fd, reinterpret_cast<sockaddr*>(&at_), sizeof at_);
            clogs_.push_back(fd);
        }
        usleep(50000);
    }

  private:
    int fd_ = -1;
    bool ok_ = false;
    sockaddr_in at_{};
    std::vector<int> clogs_;
};

Network::NetConfig LinkNet(const paxsim::NetConfig& net) {
    Network::NetConfig config;
    config.wiredNet = net.wiredNet;
    config.wirelessNet = net.wirelessNet;
    config.portBase = net.portBase;
    return config;
}

} // namespace

TEST(OperClientTest, RequestsAndPacketsGoOutByteForByte) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    Network::CircularKestBuffer ring(1 << 16, "quillon");
    sockaddr_in peer{};
    Network::OperClient client(pair[0], ring, peer);
    EXPECT_TRUE(client.Connected());

    ASSERT_TRUE(client.RequestTrialDesc());
    EXPECT_EQ(ReadBytes(pair[1], 12), (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 150, 0, 0xFF, 0x7F}));
    ASSERT_TRUE(client.RequestSignalSelectionDesc());
    EXPECT_EQ(ReadBytes(pair[1], 12), (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 150, 0, 0xA1, 0x80}));

    const std::uint8_t record[8] = {1, kKestBoolType, 0, 0, 1, 0, 0, 0};
    alignas(4) std::uint8_t packet[20];
    KestBuildConfigPacket(packet, sizeof packet, 150, 0, 0x1234, record, sizeof record, 1);
    ASSERT_TRUE(client.SendPacket(*reinterpret_cast<const KestPacket*>(packet)));
    EXPECT_EQ(ReadBytes(pair[1], 20), Bytes(packet, packet + 20));

    {
        Network::RingWriter turn(ring);
        std::uint8_t* area = client.AllocSize(6);
        ASSERT_NE(area, nullptr);
        EXPECT_EQ(Bytes(area, area + 8), Bytes(8, 0)) << "reserved areas come zeroed";
        area[0] = 2;
        area[4] = 0x55;
        ASSERT_TRUE(client.Send());
    }
    EXPECT_EQ(ReadBytes(pair[1], 8), (Bytes{2, 0, 0, 0, 0x55, 0, 0, 0}));

    // What the operator sends is taken in by Recv and cut into packets.
    ASSERT_EQ(write(pair[1], packet, 20), 20);
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (!client.Recv() && Clock::now() < end) {
    }
    KestPacket* got = client.HasPacket();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Bytes(got->Bytes(), got->Bytes() + 20), Bytes(packet, packet + 20));
    client.DeletePacket(got);

    // A peer that goes away ends the connection; sends then fail instead of blocking.
    close(pair[1]);
    while (client.Connected() && Clock::now() < end + std::chrono::seconds(30)) {
        client.Recv();
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_FALSE(client.RequestTrialDesc());
}

class StreamLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(3);
    }
    std::string Wired(unsigned host) const { return net_.wiredNet + "." + std::to_string(host); }
    std::string Wireless(unsigned host) const {
        return net_.wirelessNet + "." + std::to_string(host);
    }
    paxsim::NetConfig net_;
    LinkCache cache_;
};

TEST_F(StreamLinkTest, AnAddressWithoutItsDataStreamCountsAsFailed) {
    Listener wiredConfig(Wired(1), net_.ConfigPort());
    Listener wirelessData(Wireless(1), net_.DataPort());
    Listener wirelessConfig(Wireless(1), net_.ConfigPort());
    ASSERT_TRUE(wiredConfig.Ok() && wirelessData.Ok() && wirelessConfig.Ok());
    TCPOperNetwork link(&cache_, "", LinkNet(net_));
    ASSERT_TRUE(link.StartUp());
    EXPECT_EQ(link.LinkState(), TCPOperNetwork::kRunning);
    EXPECT_EQ(link.ProcessorAddress(), Wireless(1));
    link.Shutdown();
    EXPECT_EQ(link.LinkState(), TCPOperNetwork::kEnded);
    EXPECT_EQ(Network::OperNetwork::gNetworkState.load(), 2);
}

TEST_F(StreamLinkTest, NoProcessorOnEitherNetworkFailsTheStart) {
    Listener wiredConfig(Wired(1), net_.ConfigPort());
    ASSERT_TRUE(wiredConfig.Ok());
    TCPOperNetwork link(&cache_, "", LinkNet(net_));
    const auto begin = Clock::now();
    EXPECT_FALSE(link.StartUp());
    EXPECT_LT(SecondsSince(begin), links_test::kHangSeconds);
    EXPECT_EQ(link.LinkState(), TCPOperNetwork::kFailed);
    EXPECT_EQ(link.ProcessorAddress(), "");
}

TEST_F(StreamLinkTest, OperatorConnectsAreBoundedByTheirTimeout) {
    Listener data(Wired(1), net_.DataPort());
    Listener config(Wired(1), net_.ConfigPort());
    TCPOperNetwork link(&cache_, Wired(1).c_str(), LinkNet(net_));
    ASSERT_TRUE(link.StartUp());

    testing::internal::CaptureStderr();
    auto begin = Clock::now();
    EXPECT_FALSE(link.ConnectOperator(Wired(150).c_str(), 60000));
    EXPECT_LT(SecondsSince(begin), links_test::kHangSeconds)
        << "a refused connect ends at once, not at its minute-long timeout";

    Listener silent(Wired(151), net_.ConfigPort(), 0);
    ASSERT_TRUE(silent.Ok());
    silent.Clog();
    begin = Clock::now();
    EXPECT_FALSE(link.ConnectOperator(Wired(151).c_str(), 200));
    const double waited = SecondsSince(begin);
    EXPECT_GE(waited, 0.19);
    EXPECT_LT(waited, links_test::kHangSeconds);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("failed to connect with Connection refused\n"), std::string::npos) << log;
    EXPECT_NE(log.find("failed to connect with Connection timed out\n"), std::string::npos) << log;
    EXPECT_TRUE(link.OperatorIds().empty());
    EXPECT_EQ(link.FirstConnectedOperator(), Network::OperNetwork::kNoEndpoint);
}
