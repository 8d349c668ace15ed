// A ready cache of the small test processor, made the library's connection: the data calls
// read it and send through a configuration sender whose packets the test reads back.
#pragma once

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "protocol/KestPacket.h"
#include "tests/cache/TestModel.h"
#include "tests/client/ClientKit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace datatest {

using Bytes = std::vector<std::uint8_t>;

class FedCache : public ::testing::Test {
  protected:
    void SetUp() override { Connect(); }
    void TearDown() override {
        gKestClient = nullptr;
        gKestCache = nullptr;
    }

    // Describes `processor_` to a new cache and installs it with a sender.
    void Connect() {
        gKestClient = nullptr;
        gKestCache = nullptr;
        cache_ = std::make_unique<KestCache>();
        for (const Bytes& packet : processor_.DescribePackets()) {
            Feed(packet);
        }
        ASSERT_TRUE(cache_->IsInit());
        sink_ = std::make_unique<clientkit::CountingSink>();
        client_ = std::make_unique<KestClient>(sink_.get(), nullptr, cache_.get());
        gKestCache = cache_.get();
        gKestClient = client_.get();
    }

    void Feed(const Bytes& packet) {
        cache_->ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
    }

    // Index of module `module`'s record for which match(record) holds.
    template <typename Match> unsigned FindRecord(unsigned module, Match match) {
        const auto& records = processor_.Find(module).Records();
        for (unsigned i = 0; i < records.size(); ++i) {
            if (match(records[i])) {
                return i;
            }
        }
        ADD_FAILURE() << "no such record in module " << module;
        return 0;
    }

    unsigned StreamDescIndex(unsigned module, const std::string& name) {
        return FindRecord(module, [&](const Bytes& record) {
            if (record.size() < sizeof(KestOutputStreamDesc) || record[1] != 18) {
                return false;
            }
            const auto* desc = reinterpret_cast<const KestOutputStreamDesc*>(record.data());
            return name == desc->name;
        });
    }

    testmodel::Processor processor_;
    std::unique_ptr<KestCache> cache_;
    std::unique_ptr<clientkit::CountingSink> sink_;
    std::unique_ptr<KestClient> client_;
};

// The bytes of a configuration packet as the library sends it: header with the size in
// words and the timestamp, the address (processor 1, module, property) and the record.
inline Bytes ExpectedConfigPacket(std::uint8_t module, std::uint16_t index, std::uint32_t timestamp,
                                  const Bytes& record) {
    Bytes packet = {std::uint8_t((12 + record.size() + 3) / 4), 0, 0, 0};
    for (int shift = 0; shift < 32; shift += 8) {
        packet.push_back(std::uint8_t(timestamp >> shift));
    }
    packet.insert(packet.end(), {1, module, std::uint8_t(index), std::uint8_t(index >> 8)});
    packet.insert(packet.end(), record.begin(), record.end());
    packet.resize(std::size_t(packet[0]) * 4, 0);
    return packet;
}

inline void AppendFloat(Bytes& bytes, float value) {
    std::uint8_t raw[4];
    std::memcpy(raw, &value, 4);
    bytes.insert(bytes.end(), raw, raw + 4);
}

} // namespace datatest
