// Helpers of the configuration sender tests: a sink over a private ring that counts its
// publishes, a reader of what was published, fake operator routes, and a ready cache built
// from the test processor model.
#pragma once

#include "cache/KestCache.h"
#include "client/KestConfigSink.h"
#include "client/KestOperatorRoutes.h"
#include "protocol/KestPacket.h"
#include "tests/cache/TestModel.h"
#include "transport/CircularKestBuffer.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace clientkit {

using Bytes = std::vector<std::uint8_t>;

// A sink over a ring of its own; counts publishes and reads back what was published.
class CountingSink : public KestRingSink {
  public:
    explicit CountingSink(std::uint64_t capacity = 1u << 20)
        : KestRingSink(ring_), ring_(capacity, "testConfig") {}

    void SendConfigPacket() override {
        publishes.fetch_add(1);
        KestRingSink::SendConfigPacket();
    }

    // Every packet published since the previous call, in order. The tests stay within one
    // lap of the ring.
    std::vector<Bytes> Take() {
        std::vector<Bytes> packets;
        const std::uint64_t published = ring_.PublishedHead();
        if (published > ring_.Capacity()) {
            throw std::runtime_error("test ring wrapped");
        }
        while (read_ < published) {
            const std::uint8_t* at = ring_.Data() + read_;
            const std::size_t bytes = std::size_t(at[0]) * 4;
            if (bytes == 0) {
                throw std::runtime_error("packet of size 0 in the ring");
            }
            packets.emplace_back(at, at + bytes);
            read_ += (bytes + 3) / 4 * 4;
        }
        return packets;
    }

    std::uint64_t WriteHead() { return ring_.WriteHead(); }

    std::atomic<int> publishes{0};

  private:
    Network::CircularKestBuffer ring_;
    std::uint64_t read_ = 0;
};

// Operators that are "connected" by address; records what each one was sent.
class FakeRoutes : public KestOperatorRoutes {
  public:
    explicit FakeRoutes(bool direct = false) : direct_(direct) {}

    void Connect(std::uint32_t address) { sent[address]; }

    bool IsDirectLink() const override { return direct_; }
    bool SendToOperator(std::uint32_t address, const KestPacket& packet) override {
        auto found = sent.find(address);
        if (found == sent.end()) {
            return false;
        }
        found->second.emplace_back(packet.Bytes(), packet.Bytes() + packet.ByteSize());
        return true;
    }
    unsigned SendToAllOperators(const KestPacket& packet) override {
        for (auto& [address, packets] : sent) {
            packets.emplace_back(packet.Bytes(), packet.Bytes() + packet.ByteSize());
        }
        return unsigned(sent.size());
    }

    std::map<std::uint32_t, std::vector<Bytes>> sent;

  private:
    bool direct_;
};

// An address in network order from its dotted octets.
constexpr std::uint32_t Address(unsigned a, unsigned b, unsigned c, unsigned d) {
    return a | b << 8 | c << 16 | std::uint32_t(d) << 24;
}

// A cache that holds the whole test processor (two front ends, the first stimulating).
inline std::unique_ptr<KestCache> ReadyCache() {
    auto cache = std::make_unique<KestCache>();
    testmodel::Processor processor;
    for (const Bytes& packet : processor.DescribePackets()) {
        cache->ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
    }
    if (!cache->HaveProperties()) {
        throw std::runtime_error("test cache incomplete");
    }
    return cache;
}

template <typename T> T Field(const Bytes& packet, std::size_t offset) {
    return kest::LoadLe<T>(packet.data() + offset);
}

} // namespace clientkit
