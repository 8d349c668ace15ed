// Datagrams taken in batches: each is framed on its own where it landed, a short, cut or
// oversize one among good ones costs only itself, a batch that fills every slot says so, and
// a stream endpoint hands over the run of whole packets it holds in one piece.
#include "LoopbackTest.h"
#include "PacketFill.h"
#include "transport/CircularKestBuffer.h"
#include "transport/DatagramBatch.h"
#include "transport/IOClient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

using Network::DatagramBatch;
using namespace std::chrono_literals;

class DatagramBatches : public nettest::LoopbackTest {};

std::vector<std::uint8_t> Packets(std::initializer_list<std::size_t> sizes, std::uint32_t first) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t size : sizes) {
        const auto packet = nettest::MakePacket(size, first++);
        bytes.insert(bytes.end(), packet.begin(), packet.end());
    }
    return bytes;
}

TEST_F(DatagramBatches, ShortAndCutDatagramsAmongGoodOnesCostOnlyThemselves) {
    net::UniqueSocket receiver = nettest::BoundUdp();
    net::UniqueSocket sender(::socket(AF_INET, SOCK_DGRAM, 0));
    const sockaddr_in to = nettest::Loopback(nettest::LocalPort(receiver.Get()));
    const std::vector<std::uint8_t> good = Packets({64, 600}, 1);
    std::vector<std::uint8_t> andAHalf = Packets({64, 128}, 3);
    andAHalf.resize(64 + 100);
    const std::vector<std::vector<std::uint8_t>> datagrams = {
        good, {5, 1, 0}, andAHalf, {0, 1, 0, 0, 9, 9, 9, 9}, Packets({32}, 5)};
    for (const auto& datagram : datagrams) {
        ASSERT_EQ(sendto(sender.Get(), datagram.data(), datagram.size(), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  long(datagram.size()));
    }
    ASSERT_TRUE(nettest::WaitReadable(receiver.Get(), 2000ms));

    DatagramBatch batch;
    unsigned taken = 0;
    std::vector<std::pair<std::vector<std::uint8_t>, std::uint32_t>> kept;
    ASSERT_TRUE(nettest::Eventually([&] {
        if (batch.Receive(receiver.Get()) > 0) {
            for (unsigned i = 0; i < batch.Count(); ++i, ++taken) {
                const auto& datagram = batch.At(i);
                kept.push_back(
                    {{datagram.packets, datagram.packets + datagram.length}, datagram.source});
            }
        }
        return taken == datagrams.size();
    }));
    EXPECT_FALSE(batch.Full());
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(kept[0].first, good);
    EXPECT_TRUE(kept[1].first.empty());
    EXPECT_EQ(kept[2].first, Packets({64}, 3)) << "the whole packet in front of the cut";
    EXPECT_TRUE(kept[3].first.empty());
    EXPECT_EQ(kept[4].first, Packets({32}, 5));
    EXPECT_EQ(kept[0].second, to.sin_addr.s_addr) << "the sender's address";
    EXPECT_EQ(batch.DroppedPackets(), 3u);
}

TEST_F(DatagramBatches, ADatagramLargerThanASlotIsDroppedWhole) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, pair), 0);
    net::UniqueSocket receiver(pair[0]);
    net::UniqueSocket sender(pair[1]);
    const int room = 1 << 20;
    setsockopt(sender.Get(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    std::vector<std::uint8_t> oversize;
    while (oversize.size() < DatagramBatch::kSlotBytes + 64) {
        const auto packet = nettest::MakePacket(1020, 1);
        oversize.insert(oversize.end(), packet.begin(), packet.end());
    }
    const auto after = Packets({64}, 2);
    ASSERT_EQ(send(sender.Get(), oversize.data(), oversize.size(), 0), long(oversize.size()));
    ASSERT_EQ(send(sender.Get(), after.data(), after.size(), 0), long(after.size()));

    DatagramBatch batch;
    ASSERT_EQ(batch.Receive(receiver.Get()), 2);
    EXPECT_EQ(batch.At(0).length, 0u) << "nothing of a datagram that was cut";
    EXPECT_EQ(batch.DroppedPackets(), 1u);
    ASSERT_EQ(batch.At(1).length, after.size());
    EXPECT_EQ(std::memcmp(batch.At(1).packets, after.data(), after.size()), 0);
    EXPECT_EQ(batch.Receive(receiver.Get()), 0) << "none waits";
}

TEST_F(DatagramBatches, ABatchThatFillsEverySlotSaysSo) {
    net::UniqueSocket receiver = nettest::BoundUdp();
    net::UniqueSocket sender(::socket(AF_INET, SOCK_DGRAM, 0));
    const sockaddr_in to = nettest::Loopback(nettest::LocalPort(receiver.Get()));
    for (unsigned i = 0; i < DatagramBatch::kSlots + 3; ++i) {
        const auto packet = Packets({16}, i);
        ASSERT_EQ(sendto(sender.Get(), packet.data(), packet.size(), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  long(packet.size()));
    }
    ASSERT_TRUE(nettest::WaitReadable(receiver.Get(), 2000ms));
    DatagramBatch batch;
    ASSERT_EQ(batch.Receive(receiver.Get()), int(DatagramBatch::kSlots));
    EXPECT_TRUE(batch.Full());
    EXPECT_EQ(batch.At(DatagramBatch::kSlots - 1).length, 16u);
    ASSERT_EQ(batch.Receive(receiver.Get()), 3);
    EXPECT_FALSE(batch.Full());
    EXPECT_EQ(std::memcmp(batch.At(2).packets, Packets({16}, DatagramBatch::kSlots + 2).data(), 16),
              0);
}

TEST_F(DatagramBatches, AStreamEndpointHandsOverItsWholePacketsInOnePiece) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    net::UniqueSocket sender(pair[1]);
    Network::CircularKestBuffer ring(4096, "configBuffer");
    Network::IOClient endpoint(pair[0], ring, 1024, 1024, nettest::Loopback(0), 0);
    const auto whole = Packets({64, 32}, 1);
    const auto next = Packets({48}, 3);
    std::vector<std::uint8_t> bytes = whole;
    bytes.insert(bytes.end(), next.begin(), next.begin() + 20);
    ASSERT_EQ(send(sender.Get(), bytes.data(), bytes.size(), 0), long(bytes.size()));
    ASSERT_EQ(endpoint.RecvFromNetwork(0), long(bytes.size()));

    const std::uint8_t* run = nullptr;
    ASSERT_EQ(endpoint.HeldPackets(&run), whole.size()) << "the cut packet waits";
    EXPECT_EQ(std::memcmp(run, whole.data(), whole.size()), 0);
    EXPECT_FALSE(endpoint.ReleasePackets(bytes.size() + 1));
    EXPECT_TRUE(endpoint.ReleasePackets(whole.size()));
    EXPECT_EQ(endpoint.HeldPackets(&run), 0u);
    ASSERT_EQ(send(sender.Get(), next.data() + 20, next.size() - 20, 0), long(next.size() - 20));
    ASSERT_EQ(endpoint.RecvFromNetwork(0), long(next.size()));
    ASSERT_EQ(endpoint.HeldPackets(&run), next.size());
    EXPECT_EQ(std::memcmp(run, next.data(), next.size()), 0);
}

} // namespace
