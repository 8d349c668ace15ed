// The stream link against the emulated processor over loopback: open, the fall-back to
// the wireless network, operators added by full and short addresses, lookups, and the
// operator requests.
#include "LinkTestEnv.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "include/kestlib.h"
#include "links/OperAddress.h"
#include "links/OperNetwork.h"
#include "links/OperRegistry.h"
#include "links/TCPOperNetwork.h"
#include "transport/ClientFamily.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Network::OperNetwork::CurrentTCPNetwork;
using Network::OperNetwork::EndpointId;

using links_test::SecondsSince;

using links_test::WaitFor;

class TcpLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(2);
        links_test::GenerousHandshake();
    }
    void TearDown() override {
        kl_close();
        links_test::ProductHandshake();
    }
    void StartProcessor(std::vector<unsigned> operators = {},
                        paxsim::TransportMode mode = paxsim::TransportMode::Tcp) {
        server_ = links_test::StartProcessor(net_, mode, 2, std::move(operators));
    }
    std::string Wired(unsigned host) const { return net_.wiredNet + "." + std::to_string(host); }
    std::string Wireless(unsigned host) const {
        return net_.wirelessNet + "." + std::to_string(host);
    }
    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
};

} // namespace

TEST_F(TcpLinkTest, OpenLearnsTheProcessorOverBothStreams) {
    StartProcessor();
    ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
    ASSERT_NE(gKestCache, nullptr);
    EXPECT_TRUE(gKestCache->IsInit());
    EXPECT_EQ(Network::OperNetwork::gCurrentNetwork.load(), 1);
    ASSERT_NE(CurrentTCPNetwork(), nullptr);
    EXPECT_EQ(CurrentTCPNetwork()->ProcessorAddress(), Wired(1));
    EXPECT_EQ(CurrentTCPNetwork()->LinkState(), 1);

    const std::uint32_t first = kl_time();
    EXPECT_TRUE(WaitFor([&] { return std::int32_t(kl_time() - first) > 3000; }));
    char text[32];
    ASSERT_EQ(kl_pax_serial(text, sizeof text), KL_SUCCESS);
    EXPECT_EQ(std::string(text), "PX-EMU-000001");
    EXPECT_EQ(kl_close(), KL_SUCCESS);
    EXPECT_EQ(CurrentTCPNetwork(), nullptr);
}

TEST_F(TcpLinkTest, FallsBackToTheWirelessNetwork) {
    net_.wirelessOnly = true;
    StartProcessor();
    ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
    ASSERT_NE(CurrentTCPNetwork(), nullptr);
    EXPECT_EQ(CurrentTCPNetwork()->ProcessorAddress(), Wireless(1));
    EXPECT_TRUE(gKestCache->IsInit());
    EXPECT_EQ(kl_close(), KL_SUCCESS);

    // An explicit address is the only one tried.
    EXPECT_EQ(kl_open_tcp_addr(Wireless(1).c_str()), KL_SUCCESS);
    EXPECT_EQ(kl_close(), KL_SUCCESS);
    const auto begin = Clock::now();
    EXPECT_EQ(kl_open_tcp_addr(Wired(1).c_str()), KL_ERR_UNKNOWN);
    EXPECT_LT(SecondsSince(begin), links_test::kHangSeconds);
    EXPECT_EQ(gKestClient, nullptr);
}

TEST_F(TcpLinkTest, OpenAgainstNothingFailsFastAndLeavesNothing) {
    links_test::ProductHandshake();
    links_test::SettleRuntimeThreads();
    const int threads = links_test::CountEntries("task");
    const int descriptors = links_test::CountEntries("fd");
    const auto begin = Clock::now();
    EXPECT_EQ(kl_open_tcp(), KL_ERR_UNKNOWN);
    EXPECT_LT(SecondsSince(begin), links_test::kHangSeconds);
    EXPECT_EQ(gKestClient, nullptr);
    EXPECT_EQ(Network::OperNetwork::CurrentNetwork(), nullptr);
    EXPECT_EQ(links_test::CountEntries("task"), threads);
    EXPECT_EQ(links_test::CountEntries("fd"), descriptors);
}

TEST_F(TcpLinkTest, OperatorsByFullAndShortAddress) {
    StartProcessor({150, 200});
    ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);

    int id = 0;
    ASSERT_EQ(kl_operator_add(&id, Wired(150).c_str(), nullptr, nullptr), KL_SUCCESS);
    EXPECT_EQ(std::uint32_t(id), EndpointId(Wired(150).c_str()));
    EXPECT_EQ(oper::OperHostId(std::uint32_t(id)), 150u);
    // The operator answers the descriptor requests sent on adding it.
    EXPECT_TRUE(
        WaitFor([&] { return gKestCache->GetTrialDescriptor(std::uint32_t(id)) != nullptr; }));

    const KestConnectionPolicy wired = KL_WIRED_ONLY;
    const int timeout = 300;
    int shortId = 0;
    ASSERT_EQ(kl_operator_add(&shortId, "200", &wired, &timeout), KL_SUCCESS);
    EXPECT_EQ(std::uint32_t(shortId), EndpointId(Wired(200).c_str()));
    const std::string twoNumbers = net_.wiredNet.substr(net_.wiredNet.find('.') + 1);
    int again = 0;
    ASSERT_EQ(kl_operator_add(&again,
                              (twoNumbers.substr(twoNumbers.find('.') + 1) + ".200").c_str(),
                              nullptr, nullptr),
              KL_SUCCESS);
    EXPECT_EQ(again, shortId);

    // Adding an operator twice keeps one connection: the second is closed at once (the
    // emulator, in this process too, closes its end once it sees ours go).
    // The emulator may still be closing its end of the connection just refused.
    int descriptors = links_test::CountEntries("fd");
    for (int settle = 0; settle < 20; ++settle) {
        std::this_thread::sleep_for(50ms);
        const int now = links_test::CountEntries("fd");
        if (now == descriptors) {
            break;
        }
        descriptors = now;
    }
    ASSERT_EQ(kl_operator_add(&again, Wired(150).c_str(), nullptr, nullptr), KL_SUCCESS);
    EXPECT_EQ(again, id);
    EXPECT_TRUE(WaitFor([&] { return links_test::CountEntries("fd") == descriptors; }));
    EXPECT_EQ(CurrentTCPNetwork()->OperatorIds().size(), 2u);

    // Nothing at host 150 of the wireless network.
    const KestConnectionPolicy wireless = KL_WIRELESS_ONLY;
    int missing = 0;
    EXPECT_EQ(kl_operator_add(&missing, "150", &wireless, &timeout), KL_ERR_OPERATOR_NOT_FOUND);
    EXPECT_EQ(missing, -1);
    EXPECT_EQ(kl_operator_add(&missing, nullptr, nullptr, nullptr), KL_ERR_INVALID_PARAMETER);
    const int negative = -5;
    EXPECT_EQ(kl_operator_add(&missing, "150", nullptr, &negative), KL_ERR_INVALID_PARAMETER);
    const KestConnectionPolicy unknown = 9;
    EXPECT_EQ(kl_operator_add(&missing, "150", &unknown, nullptr), KL_ERR_INVALID_PARAMETER);

    int found = 0;
    ASSERT_EQ(kl_operator_lookup(&found, "150"), KL_SUCCESS);
    EXPECT_EQ(found, id);
    ASSERT_EQ(kl_operator_lookup(&found, Wired(200).c_str()), KL_SUCCESS);
    EXPECT_EQ(found, shortId);
    ASSERT_EQ(kl_operator_lookup(&found, "1"), KL_SUCCESS) << "the processor itself";
    EXPECT_EQ(std::uint32_t(found), EndpointId(Wired(1).c_str()));
    EXPECT_EQ(kl_operator_lookup(&found, "151"), KL_ERR_OPERATOR_NOT_FOUND);
    EXPECT_EQ(found, -1);
    EXPECT_EQ(kl_operator_lookup(&found, "no number"), KL_ERR_OPERATOR_NOT_FOUND);
    EXPECT_EQ(kl_operator_lookup(nullptr, "150"), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_operator_lookup(&found, nullptr), KL_ERR_INVALID_PARAMETER);

    EXPECT_TRUE(oper::OperIsValid(std::uint32_t(id)));
    EXPECT_FALSE(oper::OperIsValid(EndpointId(Wired(151).c_str())));
    EXPECT_TRUE(oper::OperIsValid(EndpointId(Wired(1).c_str())));
    EXPECT_EQ(oper::OperFirstKestClient(), std::min(std::uint32_t(id), std::uint32_t(shortId)));
}

TEST_F(TcpLinkTest, ShortAddressFallsBackToTheWirelessOperator) {
    net_.wirelessOnly = true;
    StartProcessor({150});
    ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
    int id = 0;
    ASSERT_EQ(kl_operator_add(&id, "150", nullptr, nullptr), KL_SUCCESS);
    EXPECT_EQ(std::uint32_t(id), EndpointId(Wireless(150).c_str()));
    int found = 0;
    ASSERT_EQ(kl_operator_lookup(&found, "150"), KL_SUCCESS);
    EXPECT_EQ(found, id);
}

TEST_F(TcpLinkTest, OperatorsNeedTheStreamLink) {
    StartProcessor({150}, paxsim::TransportMode::Both);
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    int id = 0;
    EXPECT_EQ(kl_operator_add(&id, "150", nullptr, nullptr), KL_ERR_INVALID_NETWORK);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(oper::OperAdd("150", KL_PREFER_WIRED, 100), Network::OperNetwork::kNoEndpoint);
    EXPECT_EQ(oper::FindOperClient(EndpointId(Wired(150).c_str())), nullptr);
    EXPECT_TRUE(oper::OperIsValid(EndpointId(Wired(150).c_str())));
    EXPECT_EQ(oper::OperFirstKestClient(), EndpointId(Wired(150).c_str()));
    int found = 0;
    EXPECT_EQ(kl_operator_lookup(&found, "150"), KL_ERR_OPERATOR_NOT_FOUND)
        << "no operator has announced itself on this link";
    // The processor announced its trial descriptor: "1" names it on the wired network.
    ASSERT_EQ(kl_operator_lookup(&found, "1"), KL_SUCCESS);
    EXPECT_EQ(std::uint32_t(found), EndpointId(Wired(1).c_str()));
    ASSERT_EQ(kl_operator_lookup(&found, Wired(1).c_str()), KL_SUCCESS);
    EXPECT_EQ(std::uint32_t(found), EndpointId(Wired(1).c_str()));
}

TEST_F(TcpLinkTest, DescriptorsForAnOperatorTravelOnItsOwnConnection) {
    StartProcessor({150});
    ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
    int id = 0;
    ASSERT_EQ(kl_operator_add(&id, "150", nullptr, nullptr), KL_SUCCESS);
    ASSERT_TRUE(
        WaitFor([&] { return gKestCache->GetTrialDescriptor(std::uint32_t(id)) != nullptr; }));
    auto desc = gKestCache->GetTrialDescriptor(std::uint32_t(id));
    EXPECT_EQ(desc->Status(), kKestTrialStopped);
    desc->SetStatus(kKestTrialStartRequested);
    ASSERT_TRUE(gKestClient->SendTrialDesc(std::uint32_t(id), desc.get()));
    EXPECT_TRUE(WaitFor([&] { return server_->OperatorTrialStatus(150) == kKestTrialRecording; }));
    // An operator that is not connected cannot be reached.
    EXPECT_FALSE(gKestClient->SendTrialDesc(EndpointId(Wired(151).c_str()), desc.get()));
}

TEST_F(TcpLinkTest, AProcessorStreamThatClosesEndsTheLinkButNoCall) {
    StartProcessor();
    ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
    server_->Stop();
    ASSERT_TRUE(WaitFor([] { return Network::OperNetwork::gNetworkState.load() == 2; }));
    EXPECT_EQ(CurrentTCPNetwork()->LinkState(), 3);
    char text[32];
    EXPECT_EQ(kl_pax_serial(text, sizeof text), KL_SUCCESS) << "the cache outlives the stream";
    const auto begin = Clock::now();
    EXPECT_EQ(kl_close(), KL_SUCCESS);
    EXPECT_LT(SecondsSince(begin), links_test::kHangSeconds);
}
