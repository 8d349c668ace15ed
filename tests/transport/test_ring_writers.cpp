// Two threads writing into one ring through RingWriter, with a reader thread sending what is
// published: every packet arrives whole, each writer's packets in its own order.
#include "LoopbackTest.h"
#include "PacketFill.h"
#include "transport/CircularKestBuffer.h"
#include "transport/IOClient.h"
#include "transport/OutputClient.h"
#include "transport/SocketOptions.h"

#include <atomic>
#include <thread>

namespace {

using Network::CircularKestBuffer;
using Network::RingWriter;
using namespace std::chrono_literals;

class RingWriters : public nettest::LoopbackTest {};

TEST_F(RingWriters, SerialisedWritersNeverInterleaveInsideAPacket) {
    auto [listenerPort, listener] = [] {
        net::UniqueSocket socket = nettest::Listener();
        unsigned short port = nettest::LocalPort(socket.Get());
        return std::make_pair(port, std::move(socket));
    }();
    net::UniqueSocket client = nettest::Connect(listenerPort);
    net::sock_t accepted = accept(listener.Get(), nullptr, nullptr);
    Network::SetOptNonblock(accepted);

    CircularKestBuffer ring(16 * 1024 * 1024, "configBuffer");
    Network::OutputClient sender(accepted, ring, 131072, nettest::Loopback(listenerPort), 0);
    constexpr std::uint32_t kPerWriter = 3000;
    std::atomic<int> writersDone{0};
    auto writer = [&](std::uint32_t base) {
        for (std::uint32_t i = 0; i < kPerWriter; ++i) {
            RingWriter turn(ring);
            nettest::FillPacket(turn.Reserve(64), 64, base + i);
            turn.Publish();
        }
        writersDone.fetch_add(1);
    };
    std::thread sending([&] {
        while (writersDone.load() < 2 || sender.ReadPosition() < ring.PublishedHead()) {
            if (sender.Send() == -1) {
                return;
            }
            std::this_thread::sleep_for(50us);
        }
    });
    std::thread first(writer, 0u);
    std::thread second(writer, 1000000u);

    auto bytes = nettest::RecvStream(client.Get(), 2 * kPerWriter * 64, 20000ms);
    first.join();
    second.join();
    sending.join();
    ASSERT_EQ(bytes.size(), 2 * kPerWriter * 64u);
    std::uint32_t next[2] = {0, 1000000u};
    for (std::size_t offset = 0; offset < bytes.size(); offset += 64) {
        std::uint32_t sequence;
        std::memcpy(&sequence, bytes.data() + offset + 4, 4);
        const int which = sequence >= 1000000u ? 1 : 0;
        ASSERT_EQ(sequence, next[which]) << "each writer's packets in order";
        ASSERT_TRUE(nettest::IsPacket(bytes.data() + offset, 64, sequence));
        ++next[which];
    }
}

} // namespace
