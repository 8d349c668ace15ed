// The datagram link against the emulated processor over loopback: open and handshake,
// time, versions, errors, restart, failed opens and repeated opens.
#include "LinkTestEnv.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "client/events/StimEnableEvent.h"
#include "include/kestlib.h"
#include "links/OperNetwork.h"
#include "links/UDPOperNetwork.h"
#include "transport/ClientFamily.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using links_test::SecondsSince;

using links_test::WaitFor;

class UdpLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(1);
        links_test::GenerousHandshake();
    }
    void TearDown() override {
        kl_close();
        links_test::ProductHandshake();
    }
    void StartProcessor(unsigned frontEnds = 2, double loss = 0, bool raw = false) {
        server_ =
            links_test::StartProcessor(net_, paxsim::TransportMode::Udp, frontEnds, {}, loss, raw);
    }
    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
};

struct CallbackCount {
    std::atomic<int> calls{0};
    std::atomic<std::uint32_t> lastCode{0};
};

void CountMessage(void* user, const KestErrorMessage_t* message) {
    auto* count = static_cast<CallbackCount*>(user);
    count->lastCode.store(message->code);
    count->calls.fetch_add(1);
}

} // namespace

TEST_F(UdpLinkTest, OpenLearnsTheProcessorAndTimeAdvances) {
    StartProcessor();
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    ASSERT_NE(gKestCache, nullptr);
    EXPECT_TRUE(gKestCache->IsInit());
    EXPECT_EQ(Network::OperNetwork::gCurrentNetwork.load(), 2);
    EXPECT_EQ(Network::OperNetwork::gNetworkState.load(), 1);

    // The time is the newest the cache has seen: it goes on with the processor's packets.
    const std::uint32_t first = kl_time();
    EXPECT_NE(first, 0u);
    EXPECT_TRUE(WaitFor([&] { return std::int32_t(kl_time() - first) > 3000; }));

    char text[64];
    ASSERT_EQ(kl_paxexec_version(text, sizeof text), KL_SUCCESS);
    EXPECT_EQ(std::string(text), "7.5.2");
    ASSERT_EQ(kl_pax_serial(text, sizeof text), KL_SUCCESS);
    EXPECT_EQ(std::string(text), "PX-EMU-000001");
    char cut[5];
    ASSERT_EQ(kl_pax_serial(cut, sizeof cut), KL_SUCCESS);
    EXPECT_EQ(std::string(cut), "PX-E");
    ASSERT_EQ(kl_fe_version(text, sizeof text, 0), KL_SUCCESS);
    EXPECT_EQ(std::string(text).substr(0, 6), "SF3217") << text;
    ASSERT_EQ(kl_fe_version(text, sizeof text, 32), KL_SUCCESS);
    EXPECT_EQ(std::string(text).substr(0, 6), "RF3200") << text;

    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_fe_version(text, sizeof text, 400), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_fe_version(text, sizeof text, -3), KL_ERR_UNKNOWN);
    const std::string complaints = testing::internal::GetCapturedStderr();
    EXPECT_NE(complaints.find("unable to locate module descriptor for elec 400\n"),
              std::string::npos);
    EXPECT_NE(complaints.find("unable to locate module descriptor for elec -3\n"),
              std::string::npos);
    EXPECT_EQ(kl_pax_serial(nullptr, 10), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_fe_version(text, 0, 0), KL_ERR_INVALID_PARAMETER);

    EXPECT_EQ(kl_close(), KL_SUCCESS);
    EXPECT_EQ(gKestCache, nullptr);
    EXPECT_EQ(gKestClient, nullptr);
    EXPECT_EQ(kl_time(), 0u);
    EXPECT_EQ(kl_close(), KL_ERR_UNKNOWN);
}

TEST_F(UdpLinkTest, LostDatagramsOnlyLeaveGaps) {
    StartProcessor(2, 0.3); // a share of the data datagrams never arrives
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    const std::uint32_t first = kl_time();
    EXPECT_TRUE(WaitFor([&] { return std::int32_t(kl_time() - first) > 6000; }))
        << "time goes on with the data that comes";
    EXPECT_TRUE(gKestCache->IsInit());
    EXPECT_EQ(gKestCache->GetMalformedCount(), 0u);
    const auto* network =
        dynamic_cast<Network::UDPOperNetwork*>(Network::OperNetwork::CurrentNetwork());
    ASSERT_NE(network, nullptr);
    EXPECT_EQ(network->DroppedPackets(), 0u) << "the processor's datagrams hold whole packets";
    EXPECT_EQ(kl_close(), KL_SUCCESS);
}

TEST_F(UdpLinkTest, ExplicitAddressAndOpenWhileOpen) {
    StartProcessor();
    ASSERT_EQ(kl_open_udp_addr((net_.wiredNet + ".1").c_str()), KL_SUCCESS);
    EXPECT_TRUE(gKestCache->IsInit());
    // An open while a connection exists closes it and fails.
    EXPECT_EQ(kl_open_udp(), KL_ERR_UNKNOWN);
    EXPECT_EQ(gKestClient, nullptr);
    EXPECT_EQ(Network::OperNetwork::gCurrentNetwork.load(), 0);
    EXPECT_EQ(kl_open_udp_addr(""), KL_SUCCESS) << "empty means the broadcast address";
    EXPECT_EQ(kl_close(), KL_SUCCESS);
    EXPECT_EQ(kl_open_udp_addr("not-an-address"), KL_ERR_UNKNOWN);
    EXPECT_EQ(gKestClient, nullptr);
}

TEST_F(UdpLinkTest, OpenAgainstNothingFailsFastAndLeavesNothing) {
    links_test::ProductHandshake();
    links_test::SettleRuntimeThreads();
    const int threads = links_test::CountEntries("task");
    const int descriptors = links_test::CountEntries("fd");
    const auto begin = Clock::now();
    EXPECT_EQ(kl_open_udp(), KL_ERR_UNKNOWN);
    EXPECT_LT(SecondsSince(begin), links_test::kHangSeconds);
    EXPECT_EQ(gKestCache, nullptr);
    EXPECT_EQ(gKestClient, nullptr);
    EXPECT_EQ(Network::OperNetwork::CurrentNetwork(), nullptr);
    EXPECT_EQ(Network::OperNetwork::gConfigBuffer.PublishedHead(), 0u) << "rings zeroed";
    EXPECT_EQ(links_test::CountEntries("task"), threads);
    EXPECT_EQ(links_test::CountEntries("fd"), descriptors);
}

// Under the thread checker every open is some twenty times slower; fewer rounds show the
// same there.
#if defined(__SANITIZE_THREAD__)
constexpr int kReopenRounds = 10;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kReopenRounds = 10;
#else
constexpr int kReopenRounds = 50;
#endif
#else
constexpr int kReopenRounds = 50;
#endif

TEST_F(UdpLinkTest, ReopeningFiftyTimesLeaksNothing) {
    StartProcessor();
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    ASSERT_EQ(kl_close(), KL_SUCCESS);
    const int threads = links_test::CountEntries("task");
    const int descriptors = links_test::CountEntries("fd");
    for (int i = 0; i < kReopenRounds; ++i) {
        ASSERT_EQ(kl_open_udp(), KL_SUCCESS) << "open " << i;
        ASSERT_EQ(kl_close(), KL_SUCCESS) << "close " << i;
    }
    EXPECT_EQ(links_test::CountEntries("task"), threads);
    EXPECT_EQ(links_test::CountEntries("fd"), descriptors);
}

TEST_F(UdpLinkTest, ProcessorErrorsReachTheQueueAndTheCallbacks) {
    StartProcessor();
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    CallbackCount count;
    EXPECT_EQ(kl_error_register_callback(CountMessage, &count), KL_SUCCESS);
    EXPECT_EQ(kl_error_register_callback(CountMessage, &count), KL_SUCCESS);
    EXPECT_EQ(kl_error_register_callback(nullptr, &count), KL_ERR_INVALID_PARAMETER);

    server_->InjectError(6, 11, "first error");
    ASSERT_TRUE(WaitFor([] { return kl_error_check() == 1; }));
    server_->InjectError(4, 12, "then a warning");
    server_->InjectError(6, 11, "first error"); // the same message again is not queued twice
    ASSERT_TRUE(WaitFor([&] { return count.calls.load() >= 3; }));
    EXPECT_EQ(kl_error_check(), 2);

    EXPECT_EQ(kl_error_pop(nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_error_check(), 2);
    KestErrorMessage_t* message = nullptr;
    ASSERT_EQ(kl_error_pop(&message), KL_SUCCESS);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(std::string(message->text), "then a warning") << "newest first";
    EXPECT_EQ(kl_error_requires_error(message), 0);
    kl_error_free_message(message);
    ASSERT_EQ(kl_error_pop(&message), KL_SUCCESS);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(std::string(message->text), "first error");
    EXPECT_EQ(message->code, 11u);
    EXPECT_EQ(kl_error_requires_error(message), 1);
    kl_error_free_message(message);
    ASSERT_EQ(kl_error_pop(&message), KL_SUCCESS);
    EXPECT_EQ(message, nullptr);

    EXPECT_EQ(kl_error_unregister_callback(CountMessage, &count), KL_SUCCESS);
    server_->InjectError(4, 13, "after unregistering");
    // Packets reach the cache in order: every earlier message has had its calls by now.
    ASSERT_TRUE(WaitFor([] { return kl_error_check() == 1; }));
    EXPECT_EQ(count.calls.load(), 3) << "one call per message, however often registered";
}

TEST_F(UdpLinkTest, RestartClosesTheConnectionAndTheNextOpenReconnects) {
    StartProcessor();
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    const auto begin = Clock::now();
    EXPECT_EQ(kl_processor_restart_software(), KL_SUCCESS);
    EXPECT_LT(SecondsSince(begin), links_test::kHangSeconds);
    EXPECT_EQ(gKestClient, nullptr);
    EXPECT_TRUE(WaitFor([&] { return server_->Stats().restarts == 1; }));
    // The emulated processor stays silent for a second while it restarts.
    EXPECT_TRUE(WaitFor([&] { return !server_->Silent(); }));
    EXPECT_EQ(kl_open_udp(), KL_SUCCESS);
}

TEST_F(UdpLinkTest, ASilentProcessorNeverHoldsACall) {
    StartProcessor();
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    server_->Silence(600000); // for the rest of the test
    // The restart's write gets no echo: it waits out its limit and closes anyway.
    const auto begin = Clock::now();
    EXPECT_EQ(kl_processor_restart_software(), KL_SUCCESS);
    const double seconds = SecondsSince(begin);
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, links_test::kHangSeconds);
    EXPECT_EQ(gKestClient, nullptr);
    // An open against the silent processor gives up at the handshake's bounds.
    links_test::ProductHandshake();
    const auto open = Clock::now();
    EXPECT_EQ(kl_open_udp(), KL_ERR_UNKNOWN);
    EXPECT_LT(SecondsSince(open), links_test::kHangSeconds);
}

TEST_F(UdpLinkTest, CloseCancelsAPendingStimulationSwitchOff) {
    StartProcessor();
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    int module = -1;
    int index = -1;
    ASSERT_NE(gKestCache->GetGlobalStimEnable(&module, &index), nullptr);
    // The event's delay is far longer than the test may take: the close must cancel it.
    auto event = std::make_unique<StimEnableEvent>(600000, gKestClient, module, index, false);
    event->AddClearElecList({0, 1});
    ASSERT_TRUE(event->Start());
    const auto begin = Clock::now();
    EXPECT_EQ(kl_close(), KL_SUCCESS);
    EXPECT_LT(SecondsSince(begin), links_test::kHangSeconds)
        << "the close does not wait out the event's delay";
    EXPECT_TRUE(event->IsCancelled());
    EXPECT_FALSE(event->IsRunning()) << "its thread has ended before the close returned";
    event.reset();
}

TEST_F(UdpLinkTest, HandshakeWithoutALinkThreadGivesUpWithoutRequests) {
    using namespace Network::OperNetwork;
    links_test::ProductHandshake();
    NetworkShutdown();
    gNetworkState.store(0);
    const auto begin = Clock::now();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(InitKestCache());
    const double seconds = SecondsSince(begin);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "NET open: the link did not start within 1000 ms\n"),
              std::string::npos);
    EXPECT_GE(seconds, 0.9) << "it waits for the link state as long as its bound";
    EXPECT_LT(seconds, links_test::kHangSeconds);
    EXPECT_EQ(gConfigBuffer.PublishedHead(), 0u);
}

TEST(UdpLinkWireTest, SendsToTheBroadcastAddressAndListensOnItsPort) {
    LINKS_REQUIRE_LOOPBACK();
    const paxsim::NetConfig net = links_test::UseLoopbackNet(0);
    // A stand-in processor socket on the wired network's broadcast address.
    const int processor = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(net.ConfigPort());
    inet_pton(AF_INET, (net.wiredNet + ".255").c_str(), &at.sin_addr);
    ASSERT_EQ(bind(processor, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);

    using namespace Network::OperNetwork;
    ASSERT_TRUE(StartUDPOper(""));
    EXPECT_EQ(gNetworkState.load(), 1);
    ASSERT_TRUE(gKestClient->RequestProperty(255, 0, 0));
    ASSERT_TRUE(gKestClient->RequestProperty(1, 255, 0));
    std::vector<std::uint8_t> received;
    sockaddr_in from{};
    const auto end = Clock::now() + 1s;
    while (received.size() < 24 && Clock::now() < end) {
        pollfd ready{processor, POLLIN, 10};
        if (poll(&ready, 1, 10) <= 0) {
            continue;
        }
        std::uint8_t datagram[1500];
        socklen_t length = sizeof from;
        const ssize_t got = recvfrom(processor, datagram, sizeof datagram, 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        ASSERT_GT(got, 0);
        received.insert(received.end(), datagram, datagram + got);
    }
    EXPECT_EQ(received, (std::vector<std::uint8_t>{3, 0, 0, 0, 0, 0, 0, 0, 255, 0,   0, 0,
                                                   3, 0, 0, 0, 0, 0, 0, 0, 1,   255, 0, 0}));

    // What arrives on the local port reaches the cache: a packet of the processor's own
    // module sets the processor time.
    std::uint8_t packet[12] = {3, 1, 0, 0, 0x39, 0x30, 0, 0, 1, 0, 0, 0};
    sockaddr_in link{};
    link.sin_family = AF_INET;
    link.sin_port = htons(net.ClientPort());
    inet_pton(AF_INET, "127.0.0.1", &link.sin_addr);
    ASSERT_EQ(sendto(processor, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&link),
                     sizeof link),
              ssize_t(sizeof packet));
    EXPECT_TRUE(WaitFor([] { return gKestCache->GetPAXTime() == 12345u; }));

    NetworkShutdown();
    close(processor);
    EXPECT_EQ(gKestCache, nullptr);
    EXPECT_EQ(gNetworkState.load(), 2);
}

namespace {

// A packet of the processor's own module: it sets the processor time.
std::vector<std::uint8_t> TimePacket(std::uint32_t time) {
    return {3,
            1,
            0,
            0,
            std::uint8_t(time),
            std::uint8_t(time >> 8),
            std::uint8_t(time >> 16),
            std::uint8_t(time >> 24),
            1,
            0,
            0,
            0};
}

} // namespace

// The link used to join a packet cut short at the end of one datagram with the next
// datagram's bytes, and read only the first 4320 bytes of a datagram: one short datagram
// from any host swallowed the processor's next one and forged a time from its bytes.
TEST(UdpLinkWireTest, EachDatagramStandsAloneAndIsReadWhole) {
    LINKS_REQUIRE_LOOPBACK();
    const paxsim::NetConfig net = links_test::UseLoopbackNet(0);
    const int processor = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(net.ConfigPort());
    inet_pton(AF_INET, (net.wiredNet + ".255").c_str(), &at.sin_addr);
    ASSERT_EQ(bind(processor, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    sockaddr_in link{};
    link.sin_family = AF_INET;
    link.sin_port = htons(net.ClientPort());
    inet_pton(AF_INET, "127.0.0.1", &link.sin_addr);
    auto send = [&](const std::vector<std::uint8_t>& datagram) {
        return sendto(processor, datagram.data(), datagram.size(), 0,
                      reinterpret_cast<sockaddr*>(&link), sizeof link) == ssize_t(datagram.size());
    };

    using namespace Network::OperNetwork;
    ASSERT_TRUE(StartUDPOper(""));
    const auto* network = dynamic_cast<Network::UDPOperNetwork*>(CurrentNetwork());
    ASSERT_NE(network, nullptr);

    // Each announces more than its datagram holds; the last one's header carries a far time.
    const std::vector<std::vector<std::uint8_t>> hostile = {
        {5, 1, 0},
        {10, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0},
        {0, 1, 0, 0, 9, 9, 9, 9, 1, 0, 0, 0},
        {3, 1, 0, 0, 100, 0, 0, 0, 1, 0, 0, 0, 3, 1, 0, 0, 101, 0},
        [] {
            std::vector<std::uint8_t> far(40, 0);
            far[0] = 32;
            far[1] = 1;
            far[4] = far[5] = far[6] = 0x70;
            return far;
        }(),
    };
    std::uint32_t time = 1000;
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        ASSERT_TRUE(send(hostile[i]));
        ASSERT_TRUE(send(TimePacket(++time)));
        ASSERT_TRUE(WaitFor([&] { return gKestCache->GetPAXTime() == time; }))
            << "datagram " << i << ": time " << gKestCache->GetPAXTime();
        EXPECT_EQ(network->DroppedPackets(), i + 1);
    }

    // The largest datagram: whole time packets and 11 bytes of a last one.
    std::vector<std::uint8_t> largest;
    while (largest.size() + 12 <= Network::kLargestDatagram) {
        const auto packet = TimePacket(++time);
        largest.insert(largest.end(), packet.begin(), packet.end());
    }
    const auto cut = TimePacket(time + 1000);
    largest.insert(largest.end(), cut.begin(), cut.begin() + 11);
    ASSERT_EQ(largest.size(), Network::kLargestDatagram);
    ASSERT_TRUE(send(largest));
    EXPECT_TRUE(WaitFor([&] { return gKestCache->GetPAXTime() == time; }))
        << "the last whole packet sets the time: " << gKestCache->GetPAXTime();
    EXPECT_EQ(network->DroppedPackets(), hostile.size() + 1);

    NetworkShutdown();
    close(processor);
}
