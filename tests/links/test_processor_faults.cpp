// The processor misbehaving under a connected library: silence, restarts of its software and
// of the emulator itself, lost data datagrams and a configuration change. Calls return, the
// data read back shows every lost sample as a gap and nothing else, and nothing is left
// behind.
#include "FaultTestEnv.h"

#include "cache/KestCache.h"
#include "cache/KestCacheTypes.h"
#include "client/Connection.h"
#include "lib/CommandAccess.h"
#include "links/OperNetwork.h"
#include "links/UDPOperNetwork.h"
#include "transport/ClientFamily.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using fault_test::LfpFollower;
using links_test::WaitFor;

class ProcessorFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = fault_test::UseFaultNet(0);
        links_test::GenerousHandshake();
    }
    void TearDown() override {
        kl_close();
        server_.reset();
        links_test::ProductHandshake();
    }
    void Start(unsigned frontEnds, paxsim::TransportMode mode = paxsim::TransportMode::Udp) {
        server_ = fault_test::StartLfpProcessor(net_, mode, frontEnds);
    }
    // Followers of the first electrode of each front end, once each has read samples.
    std::vector<LfpFollower> Follow(unsigned frontEnds) {
        std::vector<LfpFollower> followers;
        for (unsigned f = 0; f < frontEnds; ++f) {
            followers.emplace_back(32 * f);
        }
        EXPECT_TRUE(WaitFor([&] {
            bool all = true;
            for (LfpFollower& follower : followers) {
                follower.Poll();
                all = all && follower.Genuine() > 100;
            }
            return all;
        }));
        return followers;
    }
    // Reads on until every follower has read past processor time `time`.
    static bool ReadPast(std::vector<LfpFollower>& followers, std::uint32_t time) {
        return WaitFor([&] {
            bool all = true;
            for (LfpFollower& follower : followers) {
                follower.Poll();
                all = all && std::int32_t(follower.Next() - time) > 0;
            }
            return all;
        });
    }
    static std::uint64_t Skipped() {
        const auto* network =
            dynamic_cast<Network::UDPOperNetwork*>(Network::OperNetwork::CurrentNetwork());
        return network != nullptr ? network->SkippedDataPackets() : 0;
    }
    // Datagrams the kernel dropped at the link's socket (its buffer full on a busy machine):
    // their samples are lost too, in numbers the test cannot know.
    static std::uint32_t KernelDrops() {
        const auto* network =
            dynamic_cast<Network::UDPOperNetwork*>(Network::OperNetwork::CurrentNetwork());
        std::uint32_t info[9] = {};
        socklen_t length = sizeof info;
        if (network == nullptr ||
            getsockopt(network->ReceiveSocket(), SOL_SOCKET, SO_MEMINFO, info, &length) != 0) {
            return 0;
        }
        return info[8];
    }
    // The gap rows (or missing packets) found against the packets known to be lost: equal,
    // unless the kernel dropped datagrams as well, which only adds gaps.
    static void ExpectLostExactly(std::uint64_t found, std::uint64_t lost, std::uint32_t drops) {
        if (drops == 0) {
            EXPECT_EQ(found, lost);
        } else {
            EXPECT_GE(found, lost) << drops << " datagrams dropped by the kernel";
        }
    }

    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
};

TEST_F(ProcessorFaultTest, SilenceShowsAsOneGapWhileCallsReturnAndDataResume) {
    Start(2);
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    std::vector<LfpFollower> followers = Follow(2);
    const std::uint64_t skipped = Skipped();
    const std::uint32_t drops = KernelDrops();

    server_->Silence(3000);
    // Every call returns and reports while nothing comes.
    char text[64];
    int calls = 0;
    while (server_->Silent()) {
        kl_time();
        for (LfpFollower& follower : followers) {
            follower.Poll();
        }
        EXPECT_EQ(kl_fe_version(text, sizeof text, 0), KL_SUCCESS);
        EXPECT_EQ(kl_signal_lfp(0), 1);
        EXPECT_GE(kl_error_check(), 0);
        ++calls;
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GT(calls, 0);

    // Data resume: every follower reads a second past the silence.
    ASSERT_TRUE(ReadPast(followers, server_->Now() + 30000));
    std::uint64_t markers = 0, longest = 0;
    for (const LfpFollower& follower : followers) {
        SCOPED_TRACE(follower.Describe());
        EXPECT_EQ(follower.Wrong(), 0u);
        EXPECT_EQ(follower.Unread(), 0u);
        // 3 s at 1 kS/s: the silent time is one run of gap rows.
        EXPECT_GE(follower.LongestGap(), 2990u);
        markers += follower.Markers();
        longest += follower.LongestGap();
    }
    // Any other gap is data the link passed over while behind (or the kernel dropped).
    if (KernelDrops() == drops) {
        EXPECT_LE(markers - longest, Skipped() - skipped);
    }
    EXPECT_EQ(kl_close(), KL_SUCCESS);
}

// One percent of the data datagrams are lost while four front ends stream: the gap rows the
// reader finds are exactly the samples of the lost packets (and of any the link passed over).
TEST_F(ProcessorFaultTest, LostDatagramsAreExactlyTheGapRows) {
    constexpr unsigned kFrontEnds = 4;
    Start(kFrontEnds);
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    std::vector<LfpFollower> followers = Follow(kFrontEnds);
    const paxsim::ServerStats before = server_->Stats();
    const std::uint64_t skippedBefore = Skipped();
    const std::uint32_t drops = KernelDrops();

    server_->SetLoss(0.01);
    ASSERT_TRUE(WaitFor(
        [&] {
            for (LfpFollower& follower : followers) {
                follower.Poll();
            }
            return server_->Stats().packetsDropped - before.packetsDropped >= 300;
        },
        120000ms));
    server_->SetLoss(0);
    ASSERT_TRUE(ReadPast(followers, server_->Now() + 30000));

    const paxsim::ServerStats after = server_->Stats();
    const std::uint64_t lost = after.packetsDropped - before.packetsDropped;
    const std::uint64_t skipped = Skipped() - skippedBefore;
    EXPECT_GT(after.datagramsDropped, before.datagramsDropped);
    std::uint64_t markers = 0;
    for (const LfpFollower& follower : followers) {
        SCOPED_TRACE(follower.Describe());
        EXPECT_EQ(follower.Wrong(), 0u);
        EXPECT_EQ(follower.Unread(), 0u);
        markers += follower.Markers();
    }
    // Each data packet is one sample time of one front end: one gap row per lost packet.
    ExpectLostExactly(markers, lost + skipped, KernelDrops() - drops);
    EXPECT_EQ(kl_close(), KL_SUCCESS);
}

// The same for spikes: the packets the rings' sequence gaps skipped (what the "Lost spike"
// warning reports) are exactly the spike packets lost.
TEST_F(ProcessorFaultTest, LostSpikePacketsAreExactlyTheMissingCount) {
    paxsim::ServerOptions options;
    options.net = net_;
    paxsim::DataConfig data;
    data.seed = fault_test::kSeed;
    data.spikeRate = 20;
    data.digitalRate = 0;
    paxsim::ModelConfig model;
    model.analog1k = false;
    for (int f = 0; f < 2; ++f) {
        paxsim::FrontEndConfig frontEnd;
        frontEnd.kind = paxsim::FrontEndKind::Recording;
        frontEnd.raw = false;
        frontEnd.lfp = false; // spike packets are the only data
        model.frontEnds.push_back(frontEnd);
    }
    server_ = std::make_unique<paxsim::Server>(model, data, options);
    server_->Start();
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    const std::uint32_t opened = kl_time();
    ASSERT_TRUE(WaitFor([&] { return std::int32_t(kl_time() - opened) > 30000; }));
    const paxsim::ServerStats before = server_->Stats();
    const std::uint64_t skippedBefore = Skipped();
    const std::uint32_t drops = KernelDrops();

    server_->SetLoss(0.01);
    ASSERT_TRUE(WaitFor(
        [&] { return server_->Stats().packetsDropped - before.packetsDropped >= 60; }, 120000ms));
    server_->SetLoss(0);
    // Two seconds of processor time on, every channel has sent again (a channel's spikes are
    // at most 75 ms apart at 20 per second), so every loss shows as a sequence gap.
    const std::uint32_t end = server_->Now();
    ASSERT_TRUE(WaitFor([&] { return std::int32_t(kl_time() - end) > 60000; }));

    std::vector<unsigned> electrodes;
    for (unsigned e = 0; e < 64; ++e) {
        electrodes.push_back(e);
    }
    std::uint64_t missing = 0, received = 0;
    for (const KestSegmentBlock& block : kestlib::SegmentsByElec(electrodes, false)) {
        missing += block.missing;
        received += block.count;
    }
    const std::uint64_t lost = server_->Stats().packetsDropped - before.packetsDropped;
    EXPECT_GT(received, 0u);
    ExpectLostExactly(missing, lost + Skipped() - skippedBefore, KernelDrops() - drops);
    EXPECT_EQ(kl_close(), KL_SUCCESS);
}

TEST_F(ProcessorFaultTest, AConfigurationChangeIsReportedAndTheNextOpenSeesIt) {
    Start(1);
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    std::vector<std::uint32_t> electrodes(1024);
    const int before = kl_list_elec(electrodes.data(), 1024, "all");
    ASSERT_GE(before, 32);
    ASSERT_NE(server_->ConfigChange(paxsim::FrontEndKind::Recording), 0);
    ASSERT_TRUE(WaitFor([] { return gKestCache->GetStatus() == kCacheConfigChanged; }));
    EXPECT_EQ(kl_list_elec(electrodes.data(), 1024, "all"), before) << "the cache stays as it was";
    EXPECT_EQ(kl_close(), KL_SUCCESS);
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    EXPECT_EQ(gKestCache->GetStatus(), kCacheReady);
    EXPECT_EQ(kl_list_elec(electrodes.data(), 1024, "all"), before + 32);
    std::vector<LfpFollower> followers = Follow(2);
    for (const LfpFollower& follower : followers) {
        EXPECT_EQ(follower.Wrong(), 0u) << follower.Describe();
    }
}

// Far below what one connection leaves behind if its rings are not freed (some 50 MB).
constexpr long kHeapSlackKb = 16 * 1024;

// Twenty restarts in a row: of the processor software (asked by the library over the datagram
// link, or on the processor's own under a stream link, which then ends) and of the emulator
// itself (under a stream link). Every call returns, each next open works, and no thread,
// descriptor or memory is left behind.
TEST_F(ProcessorFaultTest, TwentyRestartsLeaveNothingBehind) {
    Start(2, paxsim::TransportMode::Both);
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    Follow(2);
    ASSERT_EQ(kl_close(), KL_SUCCESS);
    links_test::SettleRuntimeThreads();
    const int threads = links_test::CountEntries("task");
    const int descriptors = links_test::CountEntries("fd");
    long resident = 0;

    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round == 6) {
            // Memory is compared from here on, once whatever the first connections set up for
            // good (the logger, the emulator's tables) is in place.
            resident = fault_test::HeapInUseKb();
        }
        if (round % 3 == 0) {
            ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
            Follow(2);
            const std::uint64_t restarts = server_->Stats().restarts;
            EXPECT_EQ(kl_processor_restart_software(), KL_SUCCESS);
            EXPECT_EQ(gKestClient, nullptr) << "the restart closes the connection";
            EXPECT_EQ(kl_time(), 0u);
            ASSERT_TRUE(WaitFor([&] { return server_->Stats().restarts == restarts + 1; }));
            ASSERT_TRUE(WaitFor([&] { return !server_->Silent(); }));
        } else if (round % 3 == 1) {
            // The processor restarts its software on its own: its streams close.
            ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
            Follow(2);
            server_->RequestRestart();
            ASSERT_TRUE(WaitFor([] {
                return Network::OperNetwork::gNetworkState.load() ==
                       Network::OperNetwork::kLinkStopped;
            }));
            EXPECT_EQ(kl_signal_set_lfp(0, 1), KL_ERR_UNKNOWN) << "nothing can be sent";
            EXPECT_EQ(kl_close(), KL_SUCCESS);
            ASSERT_TRUE(WaitFor([&] { return !server_->Silent(); }));
        } else {
            ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
            Follow(2);
            server_.reset(); // the emulator goes away: its streams close
            ASSERT_TRUE(WaitFor([] {
                return Network::OperNetwork::gNetworkState.load() ==
                       Network::OperNetwork::kLinkStopped;
            }));
            // Calls still return, from what the cache holds.
            EXPECT_NE(kl_time(), 0u);
            LfpFollower follower(0);
            EXPECT_TRUE(follower.Poll());
            // Nothing can be sent any more: changes are not reported as on their way.
            EXPECT_EQ(kl_signal_set_lfp(0, 1), KL_ERR_UNKNOWN);
            EXPECT_EQ(kl_spk_thresh_set(0, -100, 100), KL_ERR_UNKNOWN);
            EXPECT_EQ(kl_digin_bit_change_set(1), KL_ERR_UNKNOWN);
            EXPECT_EQ(kl_close(), KL_SUCCESS);
            EXPECT_EQ(kl_open_tcp(), KL_ERR_UNKNOWN) << "no processor: the open fails";
            Start(2, paxsim::TransportMode::Both);
        }
    }
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    Follow(2);
    ASSERT_EQ(kl_close(), KL_SUCCESS);
    EXPECT_EQ(links_test::CountEntries("task"), threads);
    EXPECT_EQ(links_test::CountEntries("fd"), descriptors);
    EXPECT_LT(fault_test::HeapInUseKb(), resident + kHeapSlackKb);
}

} // namespace
