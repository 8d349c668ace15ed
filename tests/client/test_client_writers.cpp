// Two threads sending configuration packets at once, as the command thread and a timed event
// do: each reserve-fill-publish is serialised, so every packet arrives whole and none is
// lost.
#include "ClientKit.h"

#include "client/KestClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using clientkit::Bytes;
using clientkit::CountingSink;
using clientkit::Field;

TEST(ConcurrentWriters, EveryPacketArrivesWhole) {
    constexpr int kRounds = 20000;
    CountingSink sink(8u << 20);
    KestClient client(&sink);
    client.SetStimAddr({{5, {1, 100}}, {9, {1, 104}}});

    std::atomic<bool> go{false};
    std::thread event([&] {
        while (!go.load()) {
        }
        for (int i = 0; i < kRounds; ++i) {
            client.SendStimClear({5, 9}, 1);
        }
    });
    go.store(true);
    for (int i = 0; i < kRounds; ++i) {
        client.SendBool(0, 3, (i & 1) != 0);
    }
    event.join();

    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 3u * kRounds);
    EXPECT_EQ(sink.publishes.load(), 2 * kRounds);
    int bools = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const Bytes& packet = packets[i];
        if (packet.size() == 20) {
            EXPECT_EQ(packet[13], kKestBoolType);
            EXPECT_EQ(packet[16], bools & 1);
            ++bools;
        } else {
            // The two clears of one call stay together.
            ASSERT_EQ(packet.size(), 32u);
            ASSERT_LT(i + 1, packets.size());
            EXPECT_EQ(Field<std::uint16_t>(packet, 10), 100);
            EXPECT_EQ(Field<std::uint16_t>(packets[i + 1], 10), 104);
            EXPECT_EQ(Field<std::uint32_t>(packets[i + 1], 28), 0x10000000u);
            ++i;
        }
    }
    EXPECT_EQ(bools, kRounds);
}
