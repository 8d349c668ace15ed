// The packet ring: where reserved areas land, how the lap end follows a wrap, and reset;
// and the two families' process-wide rings.
#include "transport/CircularKestBuffer.h"
#include "transport/ClientFamily.h"
#include "transport/server/ServerFamily.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

using Network::CircularKestBuffer;

namespace {

TEST(Ring, ConstructionTouchesEveryPageAndStartsEmpty) {
    CircularKestBuffer ring(3 * 4096 + 8, "dataBuffer");
    EXPECT_EQ(ring.Data()[0], 0xFF);
    EXPECT_EQ(ring.Data()[4096], 0xFF);
    EXPECT_EQ(ring.Data()[8192], 0xFF);
    EXPECT_EQ(ring.Data()[12288], 0xFF);
    EXPECT_EQ(ring.LapEnd(), ring.Capacity());
    EXPECT_EQ(ring.WriteHead(), 0u);
    EXPECT_EQ(ring.PublishedHead(), 0u);
    EXPECT_STREQ(ring.Name(), "dataBuffer");
    EXPECT_THROW(CircularKestBuffer(4098, "odd"), std::invalid_argument);
    EXPECT_THROW(CircularKestBuffer(0, "empty"), std::invalid_argument);
}

TEST(Ring, SizesGoUpToWholeWords) {
    CircularKestBuffer ring(4096, "r");
    std::uint8_t* first = ring.Reserve(13);
    EXPECT_EQ(first, ring.Data());
    EXPECT_EQ(ring.WriteHead(), 16u) << "a 13-byte request takes 16 bytes";
    std::uint8_t* second = ring.Reserve(12);
    EXPECT_EQ(second, ring.Data() + 16);
    EXPECT_EQ(ring.WriteHead(), 28u);
    EXPECT_EQ(ring.PublishedHead(), 0u) << "nothing is visible before the publish";
    ring.Publish();
    EXPECT_EQ(ring.PublishedHead(), 28u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(second) % 4, 0u);
}

TEST(Ring, ExactFitEndsTheLapWithoutWrapping) {
    CircularKestBuffer ring(4096, "r");
    for (int i = 0; i < 4; ++i) {
        ring.Reserve(1000);
    }
    std::uint8_t* last = ring.Reserve(96);
    EXPECT_EQ(last, ring.Data() + 4000);
    EXPECT_EQ(ring.LapEnd(), 4096u);
    EXPECT_EQ(ring.WriteHead(), 4096u);
    EXPECT_EQ(ring.Reserve(8), ring.Data()) << "the next lap starts at the beginning";
    EXPECT_EQ(ring.WriteHead(), 4104u);
}

TEST(Ring, OneByteMoreWrapsAndCountsTheSkippedTail) {
    CircularKestBuffer ring(4096, "r");
    for (int i = 0; i < 4; ++i) {
        ring.Reserve(1000);
    }
    std::uint8_t* wrapped = ring.Reserve(97); // 100 bytes, 96 left before the end
    EXPECT_EQ(wrapped, ring.Data());
    EXPECT_EQ(ring.LapEnd(), 4000u);
    EXPECT_EQ(ring.WriteHead(), 4000u + 96u + 100u);

    // A later exact fit at the end of the next lap moves the lap end back to the capacity.
    for (int i = 0; i < 3; ++i) {
        ring.Reserve(1000);
    }
    EXPECT_EQ(ring.WriteHead() % 4096, 3100u);
    EXPECT_EQ(ring.Reserve(996), ring.Data() + 3100);
    EXPECT_EQ(ring.LapEnd(), 4096u);
    EXPECT_EQ(ring.WriteHead(), 8192u);
}

TEST(Ring, RefusesAnAreaLargerThanTheRing) {
    CircularKestBuffer ring(1024, "r");
    EXPECT_EQ(ring.Reserve(1025), nullptr);
    EXPECT_EQ(ring.WriteHead(), 0u);
    EXPECT_NE(ring.Reserve(1024), nullptr);
}

TEST(Ring, ResetZeroesAndRewinds) {
    CircularKestBuffer ring(8192, "r");
    for (int i = 0; i < 9; ++i) {
        std::uint8_t* area = ring.Reserve(1000);
        area[0] = 0xAB;
    }
    ring.Publish();
    ASSERT_NE(ring.LapEnd(), 8192u);
    ring.Reset();
    EXPECT_EQ(ring.WriteHead(), 0u);
    EXPECT_EQ(ring.PublishedHead(), 0u);
    EXPECT_EQ(ring.LapEnd(), 8192u);
    for (std::uint64_t i = 0; i < ring.Capacity(); ++i) {
        ASSERT_EQ(ring.Data()[i], 0) << "byte " << i;
    }
}

} // namespace

namespace {

TEST(RingFamilies, EachFamilyHasItsOwnPairAndState) {
    EXPECT_TRUE(Network::ServerStaticsReady());
    EXPECT_TRUE(Network::OperNetwork::NetworkStaticsReady());
    CircularKestBuffer* rings[] = {&Network::gDataBuffer, &Network::gConfigBuffer,
                                   &Network::OperNetwork::gDataBuffer,
                                   &Network::OperNetwork::gConfigBuffer};
    const char* names[] = {"dataBuffer", "configBuffer", "dataBuffer", "configBuffer"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rings[i]->Capacity(), 16u * 1024u * 1024u);
        EXPECT_STREQ(rings[i]->Name(), names[i]);
    }
    EXPECT_NE(&Network::gCurrentNetwork, &Network::OperNetwork::gCurrentNetwork);
    EXPECT_NE(&Network::gNetworkState, &Network::OperNetwork::gNetworkState);

    Network::OperNetwork::gConfigBuffer.Reserve(100);
    Network::OperNetwork::gConfigBuffer.Publish();
    Network::gConfigBuffer.Reserve(40);
    Network::gConfigBuffer.Publish();
    Network::OperNetwork::ResetRings();
    EXPECT_EQ(Network::OperNetwork::gConfigBuffer.PublishedHead(), 0u);
    EXPECT_EQ(Network::gConfigBuffer.PublishedHead(), 40u) << "the other family is untouched";
}

} // namespace
