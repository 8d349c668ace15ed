// Descriptor sends: to the processor through the ring, to an operator over its own
// connection, and refused for addresses without a descriptor property or a connection.
#include "ClientKit.h"

#include "client/KestClient.h"

#include <gtest/gtest.h>

using clientkit::Address;
using clientkit::Bytes;
using clientkit::CountingSink;
using clientkit::FakeRoutes;
using clientkit::Field;

namespace {

const std::uint32_t kProcessor = Address(192, 168, 42, 1);
const std::uint32_t kOtherProcessor = Address(192, 168, 42, 7);
const std::uint32_t kOperator = Address(192, 168, 42, 150);
const std::uint32_t kAbsentOperator = Address(192, 168, 43, 200);

class ClientDescriptors : public ::testing::Test {
  protected:
    void SetUp() override {
        cache = clientkit::ReadyCache();
        trialProp = cache->GetTrialDescriptorPropID(kProcessor);
        selectionProp = cache->GetSignalSelectionDescriptorPropID(kProcessor);
        ASSERT_GT(trialProp, 0);
        ASSERT_GT(selectionProp, 0);
        trial.head = {1, kKestTrialDescType, 0, 0};
        trial.SetStatus(kKestTrialStartRequested);
        trial.errorMessage[255] = 'x';
        selection.head = {1, kKestSignalSelectionDescType, 0, 0};
        selection.entries[31].channelMask = 0x80000001;
    }

    static void ExpectHead(const Bytes& packet, std::size_t bytes, std::uint8_t processor,
                           unsigned prop) {
        ASSERT_EQ(packet.size(), bytes);
        EXPECT_EQ(packet[0], bytes / 4);
        EXPECT_EQ(Bytes(packet.begin() + 1, packet.begin() + 4), Bytes(3, 0));
        EXPECT_EQ(Field<std::uint32_t>(packet, 4), 1u);
        EXPECT_EQ(packet[8], processor);
        EXPECT_EQ(packet[9], 0);
        EXPECT_EQ(Field<std::uint16_t>(packet, 10), prop);
    }

    std::unique_ptr<KestCache> cache;
    int trialProp = -1;
    int selectionProp = -1;
    KestRecordingTrialDescriptor trial{};
    BmFeSignalSelectionDesc selection{};
    CountingSink sink;
    FakeRoutes routes;
};

TEST_F(ClientDescriptors, ToTheProcessorThroughTheRing) {
    KestClient direct(&sink, &routes, cache.get());
    EXPECT_TRUE(direct.SendTrialDesc(kProcessor, &trial));
    EXPECT_TRUE(direct.SendTrialDesc(kProcessor, nullptr));
    EXPECT_TRUE(direct.SendSignalSelectionDescriptor(kProcessor, 1, &selection));
    EXPECT_TRUE(direct.SendSignalSelectionDescriptor(kProcessor, 0, nullptr));
    EXPECT_EQ(sink.publishes.load(), 4);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 4u);

    ExpectHead(packets[0], 888, 1, unsigned(trialProp));
    EXPECT_EQ(0, std::memcmp(packets[0].data() + 12, &trial, sizeof trial));
    EXPECT_EQ(Bytes(packets[0].begin() + 12 + 874, packets[0].end()), Bytes(2, 0));
    ExpectHead(packets[1], 12, 1, unsigned(trialProp));
    ExpectHead(packets[2], 532, 1, unsigned(selectionProp + 1));
    EXPECT_EQ(0, std::memcmp(packets[2].data() + 12, &selection, sizeof selection));
    ExpectHead(packets[3], 12, 1, unsigned(selectionProp));
    EXPECT_TRUE(routes.sent.empty());
}

TEST_F(ClientDescriptors, ToAnOperatorOverItsConnection) {
    routes.Connect(kOperator);
    KestClient tcp(&sink, &routes, cache.get());
    EXPECT_TRUE(tcp.SendTrialDesc(kOperator, &trial));
    EXPECT_TRUE(tcp.SendSignalSelectionDescriptor(kOperator, 31, nullptr));
    const auto& packets = routes.sent[kOperator];
    ASSERT_EQ(packets.size(), 2u);
    ExpectHead(packets[0], 888, 150, 0x7FFF);
    EXPECT_EQ(packets[0][12 + 618 + 255], 'x');
    ExpectHead(packets[1], 12, 150, 0x80A1 + 31);
    EXPECT_EQ(sink.WriteHead(), 0u);
}

TEST_F(ClientDescriptors, DirectLinkCarriesOperatorDescriptorsInTheRing) {
    FakeRoutes udp(true);
    KestClient direct(&sink, &udp, cache.get());
    EXPECT_TRUE(direct.SendTrialDesc(kAbsentOperator, &trial));
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 1u);
    ExpectHead(packets[0], 888, 150, 0x7FFF);
}

TEST_F(ClientDescriptors, Refusals) {
    KestClient tcp(&sink, &routes, cache.get());
    // No connection to that operator, no operator links at all, no descriptor property for a
    // second processor, an index outside the 32 descriptors, and no cache.
    EXPECT_FALSE(tcp.SendTrialDesc(kAbsentOperator, &trial));
    KestClient noRoutes(&sink, nullptr, cache.get());
    EXPECT_FALSE(noRoutes.SendTrialDesc(kOperator, &trial));
    EXPECT_FALSE(tcp.SendTrialDesc(kOtherProcessor, &trial));
    EXPECT_FALSE(tcp.SendSignalSelectionDescriptor(kOtherProcessor, 0, &selection));
    EXPECT_FALSE(tcp.SendSignalSelectionDescriptor(kProcessor, -1, &selection));
    EXPECT_FALSE(tcp.SendSignalSelectionDescriptor(kProcessor, 32, &selection));
    KestClient noCache(&sink, &routes, nullptr);
    KestCache* saved = gKestCache;
    gKestCache = nullptr;
    EXPECT_FALSE(noCache.SendTrialDesc(kProcessor, &trial));
    gKestCache = saved;
    EXPECT_EQ(sink.WriteHead(), 0u);
    EXPECT_TRUE(routes.sent.empty());
}

TEST_F(ClientDescriptors, FileSaveSelection) {
    KestClient plain(&sink);
    EXPECT_EQ(plain.SendFileSaveSelection(selection, 1, 0x1234), 1);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 1u);
    ExpectHead(packets[0], 532, 1, 0x1234);
    EXPECT_EQ(0, std::memcmp(packets[0].data() + 12, &selection, sizeof selection));
    EXPECT_EQ(plain.SendFileSaveSelection(selection, 256, 1), 0);
}

TEST(EndpointIds, HostPartDecidesProcessorOrOperator) {
    EXPECT_TRUE(KestEndpointIsProcessor(Address(192, 168, 42, 127)));
    EXPECT_FALSE(KestEndpointIsProcessor(Address(192, 168, 42, 128)));
    EXPECT_EQ(KestEndpointProcessorId(Address(192, 168, 42, 1)), 1);
    EXPECT_EQ(KestEndpointProcessorId(Address(192, 168, 42, 127)), 127);
    EXPECT_EQ(KestEndpointProcessorId(Address(192, 168, 43, 150)), 150);
    EXPECT_EQ(KestEndpointProcessorId(Address(10, 0, 0, 255)), 150);
}

} // namespace
