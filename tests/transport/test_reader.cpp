// How a ring reader picks what to send next: runs of whole packets, the skipped tail of a
// lap, and what happens to a reader the writer catches up with. No socket is involved.
#include "PacketFill.h"
#include "transport/CircularKestBuffer.h"
#include "transport/OutputClient.h"
#include "transport/SocketAddress.h"

#include <gtest/gtest.h>

#include <string>

using Network::CircularKestBuffer;
using Network::OutputClient;

namespace {

sockaddr_in Peer() {
    sockaddr_in peer;
    Network::MakeAddress("127.0.0.1", 9, &peer);
    return peer;
}

void Put(CircularKestBuffer& ring, std::size_t bytes, std::uint32_t sequence) {
    nettest::FillPacket(ring.Reserve(bytes), bytes, sequence);
    ring.Publish();
}

TEST(Reader, CutsOnlyWholePackets) {
    CircularKestBuffer ring(16384, "r");
    OutputClient reader(net::kInvalidSocket, ring, 1440, Peer(), OutputClient::kDatagram);
    for (std::uint32_t i = 0; i < 3; ++i) {
        Put(ring, 600, i);
    }
    EXPECT_EQ(reader.GetTargetWriteSize(ring.PublishedHead(), 0), 1440u) << "the chunk limit";
    EXPECT_EQ(reader.GetPacketBoundary(0, 1440), 1200u) << "two packets of 600 fit in 1440";
    EXPECT_EQ(reader.GetPacketBoundary(1200, 600), 600u);
    EXPECT_EQ(reader.GetPacketBoundary(0, 599), 0u) << "not even the first packet fits";
    // A size byte of 0 ends the walk: such a packet can never be cut out.
    ring.Data()[600] = 0;
    EXPECT_EQ(reader.GetPacketBoundary(0, 1440), 600u);
}

TEST(Reader, NewReaderStartsAtThePublishedHead) {
    CircularKestBuffer ring(16384, "r");
    Put(ring, 100, 1);
    OutputClient reader(net::kInvalidSocket, ring, 1440, Peer(), 0);
    EXPECT_EQ(reader.ReadPosition(), 100u);
    EXPECT_EQ(reader.GetTargetWriteSize(ring.PublishedHead(), 100), 0u);
    Put(ring, 40, 2);
    EXPECT_EQ(reader.GetTargetWriteSize(ring.PublishedHead(), 100), 40u);
}

TEST(Reader, PassesTheSkippedTailAndGoesOnAtTheStart) {
    CircularKestBuffer ring(4096, "r");
    OutputClient reader(net::kInvalidSocket, ring, 1440, Peer(), OutputClient::kDatagram);
    for (std::uint32_t i = 0; i < 4; ++i) {
        Put(ring, 1000, i);
    }
    reader.SetReadPosition(4000); // as if the first four had been sent
    Put(ring, 1000, 4);           // wraps: lap end 4000
    ASSERT_EQ(ring.LapEnd(), 4000u);
    const std::uint64_t published = ring.PublishedHead();
    EXPECT_EQ(reader.GetTargetWriteSize(published, 4000), 0u);
    EXPECT_EQ(reader.ReadPosition(), 4096u) << "the tail from the lap end on is skipped";
    EXPECT_EQ(reader.GetTargetWriteSize(published, 0), 1000u);
    EXPECT_TRUE(nettest::IsPacket(ring.Data(), 1000, 4));
}

TEST(Reader, StopsAtTheLapEndBeforeSkipping) {
    CircularKestBuffer ring(4096, "r");
    OutputClient reader(net::kInvalidSocket, ring, 1440, Peer(), OutputClient::kDatagram);
    for (std::uint32_t i = 0; i < 4; ++i) {
        Put(ring, 1000, i);
    }
    reader.SetReadPosition(3000);
    Put(ring, 1000, 4); // wraps
    EXPECT_EQ(reader.GetTargetWriteSize(ring.PublishedHead(), 3000), 1000u)
        << "only the bytes up to the lap end, not the published bytes of the next lap";
}

// A reader that has caught up with the writer after a wrap used to be bounded by the lap
// end of the previous lap once the writer passed that offset again: a packet straddling it
// could never be cut and the reader stalled.
TEST(Reader, AnOldLapEndDoesNotBoundTheWritersOwnLap) {
    CircularKestBuffer ring(4096, "r");
    OutputClient reader(net::kInvalidSocket, ring, 1440, Peer(), OutputClient::kDatagram);
    for (std::uint32_t i = 0; i < 4; ++i) {
        Put(ring, 1000, i);
    }
    Put(ring, 1000, 4); // wraps at 4000: lap end 4000, packet 4 at offset 0
    Put(ring, 1000, 5);
    Put(ring, 1000, 6);
    Put(ring, 900, 7); // offsets 3000..3900
    reader.SetReadPosition(4096 + 3900);
    Put(ring, 152, 8); // offsets 3900..4052, across the old lap end
    ASSERT_EQ(ring.LapEnd(), 4000u);
    const std::uint64_t size = reader.GetTargetWriteSize(ring.PublishedHead(), 3900);
    EXPECT_EQ(size, 152u);
    EXPECT_EQ(reader.GetPacketBoundary(3900, size), 152u);
    EXPECT_TRUE(nettest::IsPacket(ring.Data() + 3900, 152, 8));
}

TEST(Reader, LappedReaderJumpsToTheNewestBytesAndIsCounted) {
    CircularKestBuffer ring(4096, "r");
    OutputClient reader(net::kInvalidSocket, ring, 1440, Peer(), OutputClient::kDatagram);
    for (std::uint32_t i = 0; i < 5; ++i) {
        Put(ring, 1000, i);
    }
    const std::uint64_t published = ring.PublishedHead();
    reader.CheckSpace(published, 0);
    EXPECT_EQ(reader.OvertakenCount(), 1);
    EXPECT_EQ(reader.ReadPosition(), published);
}

TEST(Reader, NearlyOverrunReaderDropsItsBacklogWithoutBeingCounted) {
    // A 4096-byte ring keeps a sixteenth of itself (256 bytes) as the margin.
    CircularKestBuffer ring(4096, "r");
    OutputClient reader(net::kInvalidSocket, ring, 1440, Peer(), OutputClient::kDatagram);
    for (std::uint32_t i = 0; i < 3; ++i) {
        Put(ring, 1000, i);
    }
    reader.CheckSpace(ring.PublishedHead(), 0);
    EXPECT_EQ(reader.ReadPosition(), 0u) << "1096 bytes of room left: nothing happens";

    Put(ring, 900, 3); // 196 bytes of room left
    testing::internal::CaptureStderr();
    reader.CheckSpace(ring.PublishedHead(), 0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "NET panic abort!!!!\n");
    EXPECT_EQ(reader.ReadPosition(), ring.PublishedHead());
    EXPECT_EQ(reader.OvertakenCount(), 0);
}

} // namespace
