// The confirmed property writes that commands share, against the emulated processor over
// loopback: a write counts only when the processor echoes the value asked for, and every
// other outcome ends the command with its fixed text.
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/SendProperty.h"

#include "cache/KestCache.h"
#include "client/Connection.h"
#include "emulator/server/NetConfig.h"
#include "emulator/server/Server.h"
#include "include/kestlib.h"
#include "links/OperNetwork.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using KestMexFcn::MexError;
using KestMexFcn::SendBool;
using KestMexFcn::SendComboBox;

constexpr unsigned kDigitalModule = 34;
constexpr unsigned kFrontEndModule = 1;

std::string ThrownText(void (*call)(void*), void* arg) {
    try {
        call(arg);
    } catch (const MexError& error) {
        return error.Text();
    }
    return "(nothing thrown)";
}

class SendPropertyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"KEST_WIRED_NET", "KEST_WIRELESS_NET"}) {
            const char* value = std::getenv(name);
            ASSERT_TRUE(value != nullptr && paxsim::IsLoopbackNet(value))
                << "refusing to run: " << name << " is not a loopback network";
        }
        paxsim::NetConfig net;
        net.wiredNet = std::getenv("KEST_WIRED_NET");
        net.wirelessNet = std::getenv("KEST_WIRELESS_NET");
        net.portBase = static_cast<std::uint16_t>(54000 + (unsigned(getpid()) % 200) * 8);
        setenv("KEST_PORT_BASE", std::to_string(net.portBase).c_str(), 1);

        paxsim::ServerOptions options;
        options.net = net;
        paxsim::DataConfig data;
        data.spikeRate = 0;
        data.digitalRate = 0;
        // No 30 kS/s stream: these writes need no data, and their echoes would queue behind it
        // on a link that the thread checker and a busy machine slow down.
        paxsim::ModelConfig model = paxsim::ModelConfig::Default(1);
        model.frontEnds[0].raw = false;
        server_ = std::make_unique<paxsim::Server>(model, data, options);
        server_->Start();
        // The open is waited for as on any condition, with generous deadlines: the thread
        // checker on a busy machine can take many times the handshake's own bounds.
        Network::OperNetwork::HandshakeLimits& limits = Network::OperNetwork::Limits();
        limits.startWaitPolls = 600;
        limits.moduleWaitMs = 30000;
        limits.propertyWaitMs = 10000;
        ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    }

    void TearDown() override {
        kl_close();
        if (server_) {
            server_->Stop();
        }
        Network::OperNetwork::Limits() = Network::OperNetwork::HandshakeLimits();
    }

    unsigned Index(unsigned module, const char* name) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, auto&) {
            return unsigned(model.Find(std::uint8_t(module))->Index(name));
        });
    }

    std::uint8_t StoredByte(unsigned module, unsigned index, std::size_t offset) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, auto&) {
            return model.Find(std::uint8_t(module))->records.at(index).at(offset);
        });
    }

    void SetEcho(paxsim::EchoMode mode) {
        server_->WithModel([&](paxsim::ProcessorModel& model, auto&) {
            model.SetEchoMode(mode);
            return 0;
        });
    }

    std::unique_ptr<paxsim::Server> server_;
};

TEST_F(SendPropertyTest, BooleanWriteIsStoredByTheProcessorAndConfirmed) {
    const unsigned capture = Index(kDigitalModule, "Capture Any Parallel Bit Change");
    EXPECT_NO_THROW(SendBool(kDigitalModule, capture, true));
    EXPECT_EQ(StoredByte(kDigitalModule, capture, 4), 1);
    EXPECT_NO_THROW(SendBool(kDigitalModule, capture, false));
    EXPECT_EQ(StoredByte(kDigitalModule, capture, 4), 0);
}

TEST_F(SendPropertyTest, UnconfirmedBooleanWritesFail) {
    static unsigned capture;
    capture = Index(kDigitalModule, "Capture Any Parallel Bit Change");
    // A property the cache does not know is never sent.
    EXPECT_EQ(ThrownText([](void*) { SendBool(kDigitalModule, 250, true); }, nullptr),
              "failed to set property");
    // The processor stores the value but its echo never comes.
    SetEcho(paxsim::EchoMode::Drop);
    EXPECT_EQ(ThrownText([](void*) { SendBool(kDigitalModule, capture, true); }, nullptr),
              "failed to set property");
    // The echo carries another value than the one asked for.
    SetEcho(paxsim::EchoMode::Alter);
    EXPECT_EQ(ThrownText([](void*) { SendBool(kDigitalModule, capture, false); }, nullptr),
              "failed to set property");
}

TEST_F(SendPropertyTest, SelectionWriteIsConfirmedAndRefusalsFail) {
    const unsigned selector = Index(kFrontEndModule, "ADC to Physical Units Selector");
    KestComboBox box{};
    const KestProperty* cached = gKestCache->GetKestProperty(kFrontEndModule, selector);
    ASSERT_NE(cached, nullptr);
    {
        // The record's bytes change when a new copy arrives: read them under the lock.
        auto hold = gKestCache->GetLock();
        std::memcpy(&box, cached, sizeof box);
    }
    ASSERT_EQ(box.itemCount, 2);
    box.selection = 1;
    EXPECT_NO_THROW(SendComboBox(&box, kFrontEndModule, selector));
    EXPECT_EQ(box.selection, 1) << "the echoed record comes back to the caller";
    EXPECT_EQ(StoredByte(kFrontEndModule, selector, 4), 1);

    static KestComboBox wrong;
    static unsigned where;
    wrong = box;
    where = selector;
    wrong.selection = 7; // out of range: the processor keeps its selection
    EXPECT_EQ(ThrownText([](void*) { SendComboBox(&wrong, kFrontEndModule, where); }, nullptr),
              "failed to set selection");
    EXPECT_EQ(StoredByte(kFrontEndModule, selector, 4), 1);
    EXPECT_EQ(ThrownText([](void*) { SendComboBox(nullptr, kFrontEndModule, where); }, nullptr),
              "failed to set selection");
}

} // namespace
