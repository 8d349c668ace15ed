// The event rings: newest packets oldest first, destructive reads, sequence gaps.
#include "cache/SpikeDataBuffer.h"
#include "protocol/KestPacket.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using SegmentRing = SpikeDataBuffer<KestSegmentDataPacketFixed>;
using DigitalRing = SpikeDataBuffer<KestDigitalEventPacket>;

KestSegmentDataPacketFixed Segment(std::uint32_t time, std::uint16_t sequence) {
    KestSegmentDataPacketFixed packet{};
    packet.header.size = 30;
    packet.header.procId = 1;
    packet.header.moduleId = 4;
    packet.header.streamId = 9;
    packet.header.timestamp = time;
    packet.dataKind = kKestSegmentData;
    packet.sequence = sequence;
    packet.unit = static_cast<std::uint16_t>(time % 5);
    for (std::size_t i = 0; i < kKestSegmentWaveformSamples; ++i) {
        packet.waveform[i] = static_cast<std::int16_t>(time * 3 + i);
    }
    return packet;
}

// Adds `count` packets with times first, first + 1, ... and sequence numbers following on.
void AddRun(SegmentRing& ring, std::uint32_t first, std::uint32_t count, int sequence) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto packet = Segment(first + i, static_cast<std::uint16_t>(sequence + int(i)));
        ring.AddEventPacket(&packet, sequence + int(i));
    }
}

TEST(EventRing, KeepsTheNewestPacketsOldestFirstAndReportsAllArrivals) {
    SegmentRing ring(1024);
    AddRun(ring, 100, 1030, 0);
    std::vector<KestSegmentDataPacketFixed> dest(1024);
    std::vector<int> sequences(1024, -1);
    EXPECT_EQ(ring.GetEventPackets(dest.data(), sequences.data(), 1024), 1030u);
    for (std::uint32_t i = 0; i < 1024; ++i) {
        const auto expected = Segment(106 + i, static_cast<std::uint16_t>(6 + i));
        ASSERT_EQ(0, std::memcmp(&dest[i], &expected, sizeof expected)) << "record " << i;
        ASSERT_EQ(sequences[i], int(6 + i));
    }
    EXPECT_EQ(ring.GetEventPackets(dest.data(), sequences.data(), 1024), 0u);
}

TEST(EventRing, SmallerMaxTakesTheNewestAndStillClears) {
    SegmentRing ring(8);
    AddRun(ring, 50, 11, 200);
    KestSegmentDataPacketFixed dest[4];
    std::memset(static_cast<void*>(dest), 0xAB, sizeof dest);
    EXPECT_EQ(ring.GetEventPackets(dest, nullptr, 3), 11u);
    EXPECT_EQ(dest[0].header.timestamp, 58u);
    EXPECT_EQ(dest[2].header.timestamp, 60u);
    EXPECT_EQ(dest[3].header.timestamp, 0xABABABABu) << "nothing written past max";
    EXPECT_EQ(ring.GetCount(), 0u);

    // After the clear the slots fill from the start again.
    AddRun(ring, 70, 2, 300);
    int sequences[8] = {};
    EXPECT_EQ(ring.GetEventPackets(dest, sequences, 4), 2u);
    EXPECT_EQ(dest[0].header.timestamp, 70u);
    EXPECT_EQ(dest[1].header.timestamp, 71u);
    EXPECT_EQ(sequences[1], 301);
}

TEST(EventRing, NullDestinationClears) {
    SegmentRing ring(16);
    AddRun(ring, 1, 5, 0);
    int sequences[4] = {9, 9, 9, 9};
    EXPECT_EQ(ring.GetEventPackets(nullptr, sequences, 4), 0u);
    EXPECT_EQ(sequences[0], 9);
    EXPECT_EQ(ring.GetEventCount(), (std::pair<std::uint32_t, std::uint32_t>(0, 0)));
}

TEST(EventRing, SequenceGapsAreNoted) {
    SegmentRing ring(16);
    for (int sequence : {7, 8, 11}) {
        const auto packet = Segment(1000u + std::uint32_t(sequence), std::uint16_t(sequence));
        ring.AddEventPacket(&packet, sequence);
    }
    const auto gaps = ring.GetMissingEvents();
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0], (SegmentRing::MissingEvent(1011u, 3u)));
    EXPECT_TRUE(ring.GetMissingEvents().empty()) << "taking the list empties it";
    EXPECT_EQ(ring.GetCount(), 3u) << "the packets stay";

    // Wrap of the 16-bit number, a repeat and a step back are not gaps; a jump backwards by
    // more than one is (taken mod 2^16).
    for (int sequence : {0xFFFE, 0xFFFF, 0, 0, 0xFFFF, 0xFFFD}) {
        const auto packet = Segment(2000, std::uint16_t(sequence));
        ring.AddEventPacket(&packet, sequence);
    }
    const auto more = ring.GetMissingEvents();
    ASSERT_EQ(more.size(), 2u);
    EXPECT_EQ(more[0].second, 0xFFFEu - 11u) << "11 then 0xFFFE";
    EXPECT_EQ(more[1].second, 0xFFFEu) << "0xFFFF then 0xFFFD";
}

TEST(EventRing, FirstPacketAfterAClearIsNotCompared) {
    SegmentRing ring(16);
    AddRun(ring, 1, 3, 5);
    EXPECT_EQ(ring.GetEventCount(), (std::pair<std::uint32_t, std::uint32_t>(0, 3)));
    AddRun(ring, 10, 2, 400);
    EXPECT_EQ(ring.GetEventCount(), (std::pair<std::uint32_t, std::uint32_t>(0, 2)));
}

TEST(EventRing, ListReadsReturnWhatArrivedAndClear) {
    SegmentRing ring(4);
    AddRun(ring, 10, 3, 0);
    AddRun(ring, 20, 3, 10); // one gap (2 -> 10) of seven packets
    auto block = ring.GetEventPackets();
    EXPECT_EQ(block.count, 6u);
    EXPECT_EQ(block.missing, 7u) << "packets lost, not gaps";
    ASSERT_EQ(block.records.size(), 4u);
    EXPECT_EQ(block.records[0].header.timestamp, 12u);
    EXPECT_EQ(block.records[3].header.timestamp, 22u);
    EXPECT_EQ(block.records[3].waveform[51], std::int16_t(22 * 3 + 51));

    EXPECT_TRUE(ring.GetEventPackets().records.empty());

    AddRun(ring, 30, 2, 50);
    AddRun(ring, 40, 1, 60);
    const auto times = ring.GetEventTimes();
    EXPECT_EQ(times.first, (std::vector<std::uint32_t>{30, 31, 40}));
    EXPECT_EQ(times.second, 8u);

    // Counting clears too: a read right after a count read sees nothing the count covered.
    AddRun(ring, 50, 2, 70);
    EXPECT_EQ(ring.GetEventCount(), (std::pair<std::uint32_t, std::uint32_t>(0, 2)));
    EXPECT_EQ(ring.GetEventPackets().count, 0u);
}

// Between reads the gap list used to grow by one entry per gap without limit, allocating on
// the receive thread; it now holds the newest `capacity` gaps while the count keeps them all.
TEST(EventRing, GapListIsBoundedButEveryGapIsCounted) {
    SegmentRing ring(4);
    for (int i = 0; i < 10; ++i) {
        const auto packet = Segment(std::uint32_t(i), std::uint16_t(i * 2));
        ring.AddEventPacket(&packet, i * 2);
    }
    EXPECT_EQ(ring.GetMissingCount(), 9u);
    const auto gaps = ring.GetMissingEvents();
    ASSERT_EQ(gaps.size(), 4u);
    EXPECT_EQ(gaps.front(), (SegmentRing::MissingEvent(6u, 2u)));
    EXPECT_EQ(gaps.back(), (SegmentRing::MissingEvent(9u, 2u)));
    EXPECT_EQ(ring.GetMissingCount(), 0u);

    const auto packet = Segment(10, 40);
    ring.AddEventPacket(&packet, 40);
    const auto after = ring.GetEventPackets();
    EXPECT_EQ(after.missing, 21u);
    EXPECT_EQ(after.count, 11u);
}

TEST(EventRing, DigitalEventsKeepEveryField) {
    DigitalRing ring(1024);
    KestDigitalEventPacket packet{};
    packet.header.size = 7;
    packet.header.moduleId = kKestDigitalModule;
    packet.header.timestamp = 0xDEADBEEF;
    packet.dataKind = kKestDigitalEventData;
    packet.sequence = 77;
    packet.reason = 3;
    packet.parallel = 0xBEEF;
    packet.sma[0] = 1;
    packet.sma[3] = 0x8001;
    ring.AddEventPacket(&packet, 77);
    // Fed from a byte buffer at an address that is not a multiple of 4.
    alignas(4) unsigned char bytes[sizeof packet + 2];
    std::memcpy(bytes + 2, &packet, sizeof packet);
    bytes[2 + 10] = 80;
    ring.AddEventPacket(reinterpret_cast<const KestDigitalEventPacket*>(bytes + 2), 80);

    KestDigitalEventPacket out[2];
    int sequences[2] = {};
    ASSERT_EQ(ring.GetEventPackets(out, sequences, 2), 2u);
    EXPECT_EQ(0, std::memcmp(&out[0], &packet, sizeof packet));
    EXPECT_EQ(0, std::memcmp(&out[1], bytes + 2, sizeof packet));
    EXPECT_EQ(sequences[1], 80);
}

// Packets longer than a record were stored cut to it with their own size byte, so a record
// handed out claimed more bytes than it has (158 words in a 30-word record).
TEST(EventRing, LongerPacketsAreStoredWithTheRecordsSize) {
    std::vector<std::uint8_t> longSegment(632, 0x5A);
    const auto segment = Segment(700, 3);
    std::memcpy(longSegment.data(), &segment, sizeof segment);
    longSegment[0] = 158;
    SegmentRing segments(4);
    segments.AddEventPacket(reinterpret_cast<const KestSegmentDataPacketFixed*>(longSegment.data()),
                            3);
    segments.AddEventPacket(&segment, 4);
    KestSegmentDataPacketFixed out[2];
    ASSERT_EQ(segments.GetEventPackets(out, nullptr, 2), 2u);
    for (const auto& record : out) {
        EXPECT_EQ(0, std::memcmp(&record, &segment, sizeof segment)) << "only the size cut";
    }

    std::vector<std::uint8_t> longDigital(36, 0x11);
    longDigital[0] = 9;
    DigitalRing digital(2);
    digital.AddEventPacket(reinterpret_cast<const KestDigitalEventPacket*>(longDigital.data()), 1);
    const auto block = digital.GetEventPackets();
    ASSERT_EQ(block.records.size(), 1u);
    EXPECT_EQ(block.records[0].header.size, 7);
    EXPECT_EQ(block.records[0].header.procId, 0x11);
}

TEST(EventRing, ZeroCapacityCountsButHoldsNothing) {
    SegmentRing ring(0);
    AddRun(ring, 1, 3, 0);
    AddRun(ring, 9, 1, 9);
    KestSegmentDataPacketFixed dest{};
    EXPECT_EQ(ring.GetMissingCount(), 6u);
    EXPECT_TRUE(ring.GetMissingEvents().empty());
    EXPECT_EQ(ring.GetEventPackets(&dest, nullptr, 1), 4u);
    AddRun(ring, 1, 2, 0);
    const auto block = ring.GetEventPackets();
    EXPECT_TRUE(block.records.empty());
    EXPECT_EQ(block.count, 2u);
    EXPECT_TRUE(ring.GetEventTimes().first.empty());
}

} // namespace
