// An emulated processor with four front ends (the fourth, electrodes 96-127, a transceiver)
// and the library opened on it over loopback TCP, whose configuration stream loses no
// packet however busy the machine (a press or an echo in a dropped datagram would fail a
// test for no fault of the calls).
#pragma once

#include "tests/links/LinkTestEnv.h"

#include "cache/KestCache.h"
#include "client/Connection.h"
#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace peripheraltest {

constexpr std::uint8_t kTransceiverModule = 7;
constexpr int kTransceiverElectrode = 96;

class PeripheralLive : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(3);
        server_ = links_test::StartProcessor(net_, paxsim::TransportMode::Tcp, 4);
        // A busy machine may answer slowly: these tests are not about the open's bounds.
        links_test::GenerousHandshake();
        ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
    }
    void TearDown() override {
        kl_close();
        if (server_) {
            server_->Stop();
        }
    }

    std::vector<std::uint8_t> Stored(std::uint8_t module, const std::string& name) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Find(module)->Value(name);
        });
    }
    std::uint16_t Index(std::uint8_t module, const std::string& name) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Find(module)->Index(name);
        });
    }
    // Property sets the processor has received.
    std::uint64_t Sets() {
        return server_->WithModel([](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Counters().sets;
        });
    }
    template <typename Done> bool WaitFor(Done done) {
        return links_test::WaitFor(done, std::chrono::milliseconds(30000));
    }
    void SetTransceiverFaults(paxsim::TransceiverAnswer answer, std::uint32_t delayMs = 0) {
        server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            model.SetTransceiverFaults({answer, delayMs * 30});
        });
    }
    // Hands the cache a configuration packet as if the processor had sent it.
    void FeedRecord(std::uint8_t module, std::uint16_t index, std::vector<std::uint8_t> record) {
        std::vector<std::uint8_t> packet(12 + record.size());
        packet[0] = std::uint8_t(packet.size() / 4);
        packet[1] = 1;
        packet[2] = module;
        packet[8] = 1;
        packet[9] = module;
        packet[10] = std::uint8_t(index);
        packet[11] = std::uint8_t(index >> 8);
        std::copy(record.begin(), record.end(), packet.begin() + 12);
        gKestCache->ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
    }

    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
};

} // namespace peripheraltest
