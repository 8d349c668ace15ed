// Trials over the datagram link: operators announce their descriptors from their own
// addresses, all with processor id 150; each is filed under its source address, so each is
// reported for itself. Operators cannot be added on this link.
#include "TrialTestKit.h"
#include "tests/links/LinkTestEnv.h"

#include "emulator/server/Fd.h"
#include "protocol/KestPacketBuilder.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using links_test::WaitFor;
using trial_test::Trial;

// An operator on the datagram network that sends its trial descriptor every 10 ms from
// its own address to the client's port.
class DatagramOperator {
  public:
    // A null file base fills the file base and error text fields to their last byte, with no
    // terminator.
    DatagramOperator(const std::string& address, std::uint16_t clientPort, std::int32_t status,
                     const char* fileBase)
        : fd_(paxsim::BindUdp(paxsim::MakeAddress(address, 0), 65536)),
          to_(paxsim::MakeAddress("127.0.0.1", clientPort)), packet_(888) {
        KestRecordingTrialDescriptor trial{};
        trial.head = {1, kKestTrialDescType, 0, 0};
        trial.SetStatus(status);
        if (fileBase != nullptr) {
            std::snprintf(trial.fileName, sizeof trial.fileName, "%s", fileBase);
        } else {
            std::memset(trial.fileName, 'f', sizeof trial.fileName);
            std::memset(trial.errorMessage, 'e', sizeof trial.errorMessage);
        }
        KestBuildConfigPacket(packet_.data(), packet_.size(), kKestOperatorProcId, 0,
                              kKestOperatorTrialPropIndex, &trial, sizeof trial, 1);
        thread_ = std::thread([this] {
            while (!stop_) {
                ::sendto(fd_.Get(), packet_.data(), packet_.size(), 0,
                         reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
                std::this_thread::sleep_for(10ms);
            }
        });
    }
    ~DatagramOperator() {
        stop_ = true;
        thread_.join();
    }

  private:
    paxsim::Fd fd_;
    sockaddr_in to_;
    std::vector<std::uint8_t> packet_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(TrialUdpTest, OperatorsAreToldApartByTheirSourceAddress) {
    LINKS_REQUIRE_LOOPBACK();
    const paxsim::NetConfig net = links_test::UseLoopbackNet(1);
    auto server = links_test::StartProcessor(net, paxsim::TransportMode::Udp, 1);
    // A busy machine may answer slowly: these tests are not about the open's bounds.
    links_test::GenerousHandshake();
    ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    {
        DatagramOperator recording(net.wiredNet + ".130", net.ClientPort(), kKestTrialRecording,
                                   "udp-130");
        DatagramOperator stopped(net.wiredNet + ".131", net.ClientPort(), kKestTrialStopped,
                                 "udp-131");
        DatagramOperator unterminated(net.wiredNet + ".132", net.ClientPort(), kKestTrialPaused,
                                      nullptr);
        int first = -1, second = -1, third = -1;
        ASSERT_TRUE(WaitFor([&] { return kl_operator_lookup(&first, "130") == KL_SUCCESS; }));
        ASSERT_TRUE(WaitFor([&] { return kl_operator_lookup(&second, "131") == KL_SUCCESS; }));
        ASSERT_TRUE(WaitFor([&] { return kl_operator_lookup(&third, "132") == KL_SUCCESS; }));
        auto a = Trial(first);
        auto b = Trial(second);
        ASSERT_EQ(a.code, KL_SUCCESS);
        ASSERT_EQ(b.code, KL_SUCCESS);
        EXPECT_EQ(a.status, "recording");
        EXPECT_EQ(a.fileBase, "udp-130");
        EXPECT_EQ(b.status, "stopped");
        EXPECT_EQ(b.fileBase, "udp-131");

        // Texts that fill their fields are copied no further than the fields (they were once
        // read with "%s" to wherever a terminator came).
        auto c = Trial(third);
        ASSERT_EQ(c.code, KL_SUCCESS);
        EXPECT_EQ(c.status, "paused");
        EXPECT_EQ(c.fileBase, std::string(511, 'f'));
        EXPECT_EQ(c.error, std::string(255, 'e'));
        char big[1024];
        ASSERT_EQ(kl_trial(third, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, big,
                           sizeof big, nullptr, 0, nullptr, nullptr, nullptr),
                  KL_SUCCESS);
        EXPECT_EQ(std::string(big), std::string(512, 'f')) << "the whole field, no more";
    }
    int id = 0;
    EXPECT_EQ(kl_operator_add(&id, "130", nullptr, nullptr), KL_ERR_INVALID_NETWORK);
    EXPECT_EQ(id, -1);
    // Nobody answers for the default operator (host 150 of the wired network).
    EXPECT_EQ(Trial(0).code, KL_ERR_NO_RESPONSE);
    kl_close();
}

} // namespace
