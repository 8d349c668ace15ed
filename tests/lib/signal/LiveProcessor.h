// The library opened on an emulated processor over loopback, with the helpers the signal and
// filter call tests share: waiting on a condition and reading what the processor stores.
#pragma once

#include "tests/links/LinkTestEnv.h"

#include "emulator/model/ProcessorModel.h"
#include "emulator/server/Server.h"
#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace signaltest {

using Record = std::vector<std::uint8_t>;
using ModelEdit = std::function<void(paxsim::ProcessorModel&)>;

template <typename Done> bool WaitFor(Done done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

template <typename Done> bool WaitFor(Done done) {
    return WaitFor(done, std::chrono::milliseconds(30000));
}

class LiveProcessor : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(1);
    }
    void TearDown() override {
        kl_close();
        if (server_) {
            server_->Stop();
        }
    }

    // Starts the processor (edited by `edit` before anyone asks for it) and opens the library
    // on it over UDP, or over TCP with emulated operators.
    void Open(unsigned frontEnds, const ModelEdit& edit = nullptr, bool tcp = false,
              std::vector<unsigned> operators = {}) {
        paxsim::ServerOptions options;
        options.mode = tcp ? paxsim::TransportMode::Tcp : paxsim::TransportMode::Udp;
        options.net = net_;
        options.operators = std::move(operators);
        paxsim::DataConfig data;
        data.spikeRate = 0;
        data.digitalRate = 0;
        server_ = std::make_unique<paxsim::Server>(paxsim::ModelConfig::Default(frontEnds), data,
                                                   options);
        if (edit) {
            server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
                edit(model);
                return 0;
            });
        }
        server_->Start();
        // A busy machine may answer slowly: these tests are not about the open's bounds.
        links_test::GenerousHandshake();
        ASSERT_EQ(tcp ? kl_open_tcp() : kl_open_udp(), KL_SUCCESS);
    }

    Record Stored(std::uint8_t module, std::uint16_t index) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Find(module)->records.at(index);
        });
    }
    std::uint16_t NamedIndex(std::uint8_t module, const std::string& name) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Find(module)->Index(name);
        });
    }

    std::string Wired(unsigned host) const { return net_.wiredNet + "." + std::to_string(host); }

    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
};

} // namespace signaltest
