// The datagram link when it falls behind: a stand-in processor floods the link's socket while
// the link thread is held up, then the link must pass over data until it has caught up and
// keep every configuration packet.
#include "LinkTestEnv.h"

#include "cache/KestCache.h"
#include "client/Connection.h"
#include "links/OperNetwork.h"
#include "links/UDPOperNetwork.h"
#include "tests/cache/TestModel.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using links_test::WaitFor;
using testmodel::Bytes;

// Holds the link thread inside the callback of the first message until released.
struct Hold {
    std::atomic<int> calls{0};
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
};

void HoldFirst(void* user, const KestErrorMessage_t* /*message*/) {
    auto* hold = static_cast<Hold*>(user);
    if (hold->calls.fetch_add(1) == 0) {
        hold->entered = true;
        while (!hold->release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

// Bytes the kernel holds for the socket and the most it will hold.
bool Queued(int socket, std::uint64_t* held, std::uint64_t* limit) {
    std::uint32_t info[9] = {};
    socklen_t length = sizeof info;
    if (getsockopt(socket, SOL_SOCKET, SO_MEMINFO, info, &length) != 0) {
        return false;
    }
    *held = info[0];
    *limit = info[1];
    return true;
}

} // namespace

TEST(UdpLinkBacklogTest, ALinkBehindPassesOverDataButKeepsEveryConfigurationPacket) {
    LINKS_REQUIRE_LOOPBACK();
    const paxsim::NetConfig net = links_test::UseLoopbackNet(2);
    using namespace Network::OperNetwork;
    ASSERT_TRUE(StartUDPOper(""));
    auto* link = static_cast<Network::UDPOperNetwork*>(CurrentNetwork());
    Hold hold;
    ASSERT_TRUE(gKestCache->RegisterKestErrorCallback(HoldFirst, &hold));

    // A stand-in processor: the link takes datagrams from the processor's address only.
    const int processor = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    inet_pton(AF_INET, (net.wiredNet + ".1").c_str(), &at.sin_addr);
    ASSERT_EQ(bind(processor, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(net.ClientPort());
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    auto send = [&](const Bytes& datagram) {
        return sendto(processor, datagram.data(), datagram.size(), 0,
                      reinterpret_cast<const sockaddr*>(&to),
                      sizeof to) == ssize_t(datagram.size());
    };

    ASSERT_TRUE(send(testmodel::ErrorPacket(4, 1, "holds the link")));
    ASSERT_TRUE(WaitFor([&] { return hold.entered.load(); }));
    // Processor-module samples (each sets the processor time when it is read) until more than
    // half the socket's buffer is taken, but not all of it: the kernel drops nothing.
    Bytes data;
    for (int i = 0; i < 18; ++i) {
        const Bytes packet = testmodel::ContPacket(0, 1, 1000, std::vector<std::int16_t>(32, 7));
        data.insert(data.end(), packet.begin(), packet.end());
    }
    std::uint64_t held = 0;
    std::uint64_t limit = 0;
    for (int sent = 0; sent < 100000; ++sent) {
        ASSERT_TRUE(Queued(link->ReceiveSocket(), &held, &limit));
        if (held > limit * 5 / 8) {
            break;
        }
        ASSERT_TRUE(send(data));
    }
    ASSERT_GT(held, limit / 2);
    ASSERT_TRUE(send(testmodel::ErrorPacket(4, 2, "behind the data")));
    hold.release = true;

    ASSERT_TRUE(WaitFor([] { return gKestCache->GetErrorBuffer().Size() == 2; }));
    EXPECT_GT(link->SkippedDataPackets(), 0u) << "data passed over while behind";
    ASSERT_TRUE(WaitFor([&] { return Queued(link->ReceiveSocket(), &held, &limit) && held == 0; }));

    // Caught up: data is read again.
    const std::uint64_t skipped = link->SkippedDataPackets();
    ASSERT_TRUE(send(testmodel::ContPacket(0, 1, 777777, std::vector<std::int16_t>(32, 7))));
    EXPECT_TRUE(WaitFor([] { return gKestCache->GetPAXTime() == 777777u; }));
    EXPECT_EQ(link->SkippedDataPackets(), skipped);

    NetworkShutdown();
    close(processor);
}
