// The start-up handshake against a cache fed by a small processor model: which requests it
// sends, in which order and with which bytes, and when it is done.
#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "client/KestConfigSink.h"
#include "links/LinkCache.h"
#include "links/OperNetwork.h"
#include "protocol/KestPacketBuilder.h"
#include "tests/cache/TestModel.h"
#include "transport/ClientFamily.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Network::OperNetwork::LinkCache;

Bytes Request(std::uint8_t processor, std::uint8_t module, std::uint16_t index) {
    return {3,
            0,
            0,
            0,
            0,
            0,
            0,
            0,
            processor,
            module,
            std::uint8_t(index & 0xFF),
            std::uint8_t(index >> 8)};
}

// A connection whose sender writes into a ring of the test's own, with the cache made as
// the link makes it.
class HandshakeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        cache_ = new LinkCache();
        gKestCache = cache_;
        gKestClient = new KestClient(&sink_, nullptr, cache_);
        Network::OperNetwork::gNetworkState.store(1);
    }
    void TearDown() override {
        delete gKestClient;
        gKestClient = nullptr;
        delete gKestCache;
        gKestCache = nullptr;
        Network::OperNetwork::gNetworkState.store(2);
    }
    void Feed(const std::vector<Bytes>& packets) {
        for (const Bytes& packet : packets) {
            cache_->ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
        }
    }
    // The requests published so far, 12 bytes each.
    std::vector<Bytes> Requests() const {
        std::vector<Bytes> requests;
        for (std::uint64_t at = 0; at + 12 <= ring_.PublishedHead(); at += 12) {
            requests.emplace_back(ring_.Data() + at, ring_.Data() + at + 12);
        }
        return requests;
    }

    Network::CircularKestBuffer ring_{1 << 16, "test"};
    KestRingSink sink_{ring_};
    LinkCache* cache_ = nullptr;
};

} // namespace

TEST_F(HandshakeTest, AKnownProcessorIsAskedForItsBlocksOnce) {
    testmodel::Processor processor(1);
    Feed(processor.DescribePackets());
    ASSERT_TRUE(Network::OperNetwork::InitKestCache());
    // Everything, every module descriptor, then the processor module's three blocks; no
    // property requests, since nothing is missing, and no trial descriptor request, since
    // only the processor itself has announced one.
    const std::vector<Bytes> expected = {Request(255, 0, 0), Request(1, 255, 0), Request(1, 0, 1),
                                         Request(1, 0, 2), Request(1, 0, 3)};
    EXPECT_EQ(Requests(), expected);
    EXPECT_TRUE(cache_->IsInit());
    int module = -1;
    int prop = -1;
    EXPECT_EQ(gKestClient->GetStimAddrByElec(&module, &prop, 0), 0)
        << "the stimulation addresses were handed to the sender";
}

TEST_F(HandshakeTest, MissingPropertiesAreAskedForByModule) {
    testmodel::Processor processor(1);
    std::vector<Bytes> packets = processor.DescribePackets();
    // Leave out the last property of module 1.
    for (auto it = packets.rbegin(); it != packets.rend(); ++it) {
        if ((*it)[2] == 1) {
            packets.erase(std::next(it).base());
            break;
        }
    }
    Feed(packets);
    Network::OperNetwork::Limits().propertyAttempts = 2;
    Network::OperNetwork::Limits().propertyWaitMs = 50;
    EXPECT_FALSE(Network::OperNetwork::InitProperties());
    Network::OperNetwork::Limits() = Network::OperNetwork::HandshakeLimits();
    const std::vector<Bytes> expected = {Request(1, 1, 0xFFFF), Request(1, 1, 0xFFFF)};
    EXPECT_EQ(Requests(), expected);
}

TEST_F(HandshakeTest, LostPropertiesAreAskedAgainWithinTheRound) {
    // The answer carrying the last property of module 1 was lost: the module is asked again
    // after a short quiet spell, not at the end of a round, and no more often than the
    // attempts allow.
    testmodel::Processor processor(1);
    std::vector<Bytes> packets = processor.DescribePackets();
    Bytes lost;
    for (auto it = packets.rbegin(); it != packets.rend(); ++it) {
        if ((*it)[2] == 1) {
            lost = *it;
            packets.erase(std::next(it).base());
            break;
        }
    }
    Feed(packets);
    Network::OperNetwork::Limits().propertyWaitMs = 60000;
    Network::OperNetwork::Limits().propertyResendMs = 5;
    bool found = false;
    std::thread handshake([&] { found = Network::OperNetwork::InitProperties(); });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Requests().size() < 2 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::size_t asked = Requests().size();
    Feed({lost});
    handshake.join();
    Network::OperNetwork::Limits() = Network::OperNetwork::HandshakeLimits();
    EXPECT_TRUE(found);
    EXPECT_GE(asked, 2u) << "asked again before the round's bound";
    const std::vector<Bytes> requests = Requests();
    EXPECT_LE(requests.size(), std::size_t(Network::OperNetwork::Limits().propertyAttempts));
    for (const Bytes& request : requests) {
        EXPECT_EQ(request, Request(1, 1, 0xFFFF));
    }
}

TEST_F(HandshakeTest, AProcessorWithoutBlocksGetsNoBlockRequests) {
    testmodel::Module proc(0, 0, "processor", "", "7.4.1");
    KestProcessorDesc desc{};
    desc.head = {1, kKestProcessorDescType, 0, 0};
    desc.moduleCount = 0;
    proc.Add(testmodel::RecordBytes(desc));
    Feed({testmodel::ConfigPacket(0, 0, proc.Records()[0], 1000),
          testmodel::ConfigPacket(0, 1, proc.Records()[1], 1000)});
    ASSERT_TRUE(Network::OperNetwork::InitModules());
    const std::vector<Bytes> expected = {Request(255, 0, 0), Request(1, 255, 0)};
    EXPECT_EQ(Requests(), expected);
}

TEST_F(HandshakeTest, UnansweredFirstRequestsGoOutAgainUntilModulesAnswer) {
    // The answers to the first requests were lost: the requests go out again, and the phase
    // ends once the module descriptors arrive.
    Network::OperNetwork::Limits().moduleWaitMs = 60000;
    Network::OperNetwork::Limits().moduleResendMs = 5;
    bool found = false;
    std::thread handshake([&] { found = Network::OperNetwork::InitModules(); });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Requests().size() < 4 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    testmodel::Processor processor(1);
    Feed(processor.DescribePackets());
    handshake.join();
    Network::OperNetwork::Limits() = Network::OperNetwork::HandshakeLimits();
    EXPECT_TRUE(found);
    const std::vector<Bytes> requests = Requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[0], Request(255, 0, 0));
    EXPECT_EQ(requests[1], Request(1, 255, 0));
    EXPECT_EQ(requests[2], requests[0]);
    EXPECT_EQ(requests[3], requests[1]);
}

TEST_F(HandshakeTest, LostModuleDescriptorsAreAskedAgain) {
    // Some module descriptors arrived, one was lost: every descriptor is asked for again
    // after a short quiet spell, not given up on at the phase's bound.
    Network::OperNetwork::Limits().moduleWaitMs = 60000;
    Network::OperNetwork::Limits().propertyResendMs = 5;
    testmodel::Processor processor(1);
    std::vector<Bytes> packets = processor.DescribePackets();
    Bytes lost;
    for (auto it = packets.begin(); it != packets.end(); ++it) {
        // The descriptor of module 2: property 0 (bytes 10 and 11) of module 2 (byte 2).
        if (it->size() > 12 && (*it)[2] == 2 && (*it)[10] == 0 && (*it)[11] == 0) {
            lost = *it;
            packets.erase(it);
            break;
        }
    }
    ASSERT_FALSE(lost.empty());
    Feed(packets);
    auto allModuleRequests = [&] {
        const std::vector<Bytes> requests = Requests();
        return std::count(requests.begin(), requests.end(), Request(1, 255, 0));
    };
    bool found = false;
    std::thread handshake([&] { found = Network::OperNetwork::InitModules(); });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (allModuleRequests() < 2 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto asked = allModuleRequests();
    Feed({lost});
    handshake.join();
    Network::OperNetwork::Limits() = Network::OperNetwork::HandshakeLimits();
    EXPECT_TRUE(found);
    EXPECT_GE(asked, 2) << "asked again before the phase's bound";
    EXPECT_LE(allModuleRequests(), long(Network::OperNetwork::Limits().propertyAttempts));
}

TEST_F(HandshakeTest, AProcessorThatKeepsAnsweringIsNotGivenUpOn) {
    // A busy machine: the module descriptors arrive one by one, together taking far longer
    // than the phase's bound, each well within it. The phase goes on while they come.
    Network::OperNetwork::Limits().moduleWaitMs = 2000;
    testmodel::Processor processor(3);
    const std::vector<Bytes> packets = processor.DescribePackets();
    bool found = false;
    std::thread handshake([&] { found = Network::OperNetwork::InitModules(); });
    std::vector<Bytes> descriptors;
    for (const Bytes& packet : packets) {
        // A module descriptor is property 0 of its module (packet byte 10 and 11: index 0).
        if (packet.size() > 12 && packet[10] == 0 && packet[11] == 0) {
            descriptors.push_back(packet);
        }
    }
    ASSERT_GE(descriptors.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        Feed({descriptors[i]});
    }
    Feed(packets);
    handshake.join();
    Network::OperNetwork::Limits() = Network::OperNetwork::HandshakeLimits();
    EXPECT_TRUE(found);
}

TEST_F(HandshakeTest, NothingAnsweringEndsTheModulePhaseAtItsBound) {
    Network::OperNetwork::Limits().moduleWaitMs = 100;
    const auto begin = std::chrono::steady_clock::now();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Network::OperNetwork::InitKestCache());
    const std::string said = testing::internal::GetCapturedStderr();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    Network::OperNetwork::Limits() = Network::OperNetwork::HandshakeLimits();
    EXPECT_NE(said.find("NET open: no module descriptor came from the processor\n"),
              std::string::npos)
        << said;
    EXPECT_GE(seconds, 0.09);
    EXPECT_LT(seconds, 30.0) << "ends rather than hangs";
    EXPECT_EQ(Requests().size(), 2u);
}

TEST(TrialRequestTest, KnownOperatorsAreAskedForTheirTrialDescriptors) {
    // The cache lists peers by the processor id of their packets: 150 for an operator.
    Network::CircularKestBuffer ring(1 << 16, "test");
    KestRingSink sink(ring);
    auto* cache = new LinkCache();
    gKestCache = cache;
    gKestClient = new KestClient(&sink, nullptr, cache);
    alignas(4) std::uint8_t packet[16] = {};
    KestBuildConfigPacket(packet, sizeof packet, 0, 0, 5, "\x01\x03\x00\x00", 4, 7);
    packet[1] = 150; // from an operator
    cache->ProcKestPacket(reinterpret_cast<const KestPacket*>(packet));

    Network::OperNetwork::InitTrialDesc();
    ASSERT_EQ(ring.PublishedHead(), 12u);
    EXPECT_EQ(Bytes(ring.Data(), ring.Data() + 12),
              (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 150, 0, 0xFF, 0x7F}));

    delete gKestClient;
    gKestClient = nullptr;
    delete gKestCache;
    gKestCache = nullptr;
}
