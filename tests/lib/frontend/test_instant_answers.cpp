// The impedance measurement against a processor that answers before the send returns: the
// emulator's model runs inside the publish of every configuration packet and its answers go
// straight into the cache. A call that cleared the record it waits on only after sending
// would wipe such an answer out and time out.
#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "emulator/model/ProcessorModel.h"
#include "include/kestlib.h"
#include "protocol/KestPacketBuilder.h"
#include "tests/client/ClientKit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kNow = 30000;

void Feed(KestCache& cache, const paxsim::Outbox& out) {
    const std::vector<std::uint8_t>& bytes = out.Bytes();
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t size = std::size_t(bytes[at]) * 4;
        std::vector<std::uint32_t> aligned(size / 4);
        std::memcpy(aligned.data(), &bytes[at], size);
        cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(aligned.data()));
        at += size;
    }
}

// Hands every published packet to the model and its answers to the cache, at once.
class InstantProcessor : public clientkit::CountingSink {
  public:
    InstantProcessor(paxsim::ProcessorModel& model, KestCache& cache)
        : model_(model), cache_(cache) {}

    void SendConfigPacket() override {
        clientkit::CountingSink::SendConfigPacket();
        for (const clientkit::Bytes& packet : Take()) {
            sent.push_back(packet);
            paxsim::Outbox out;
            model_.HandlePacket(packet.data(), packet.size(), kNow, out);
            Feed(cache_, out);
        }
    }

    void Ask(std::uint8_t target, std::uint8_t module, std::uint16_t index) {
        std::uint8_t request[12];
        KestBuildRequest(request, sizeof request, target, module, index);
        paxsim::Outbox out;
        model_.HandlePacket(request, sizeof request, kNow, out);
        Feed(cache_, out);
    }

    std::vector<clientkit::Bytes> sent;

  private:
    paxsim::ProcessorModel& model_;
    KestCache& cache_;
};

class InstantAnswers : public ::testing::Test {
  protected:
    void SetUp() override {
        processor_.Ask(255, 0, 0);
        processor_.Ask(1, 255, 0);
        for (unsigned module : cache_.GetModuleList()) {
            processor_.Ask(1, std::uint8_t(module), kKestAllPropsIndex);
        }
        ASSERT_TRUE(cache_.IsInit());
        gKestCache = &cache_;
        gKestClient = &client_;
    }
    void TearDown() override {
        gKestClient = nullptr;
        gKestCache = nullptr;
    }

    paxsim::ProcessorModel model_{paxsim::ModelConfig::Default(1)};
    KestCache cache_;
    InstantProcessor processor_{model_, cache_};
    KestClient client_{&processor_, nullptr, &cache_};
};

TEST_F(InstantAnswers, ImpedanceMeasurementSeesAnAnswerThatArrivesDuringTheSend) {
    const std::uint32_t electrodes[2] = {3, 4};
    float results[2] = {};
    ASSERT_EQ(kl_imp(results, electrodes, 2, 100, 7), KL_SUCCESS);
    EXPECT_EQ(results[0], paxsim::ProcessorModel::ImpedanceOhms(3));
    EXPECT_EQ(results[1], paxsim::ProcessorModel::ImpedanceOhms(4));

    // The set-up packet, byte by byte: header, address, record head, the entry counts, the
    // control words of the cached record (offsets 8, 10, 12: 1, 0, 0 in the emulator), then
    // per electrode its channel, the frequency index, the current index (100 uA: item 2)
    // and the cycles.
    const std::uint16_t control = model_.Find(1)->Index("Impedance Control");
    const std::uint8_t low = std::uint8_t(control);
    const std::uint8_t high = std::uint8_t(control >> 8);
    // clang-format off
    const clientkit::Bytes expected = {
        11, 0, 0, 0,  0, 0, 0, 0,  1, 1, low, high,  // 11 words, timestamp 0, address
        1, 24, 0, 0,  8, 0, 8, 0,                    // head, 4 x count twice
        1, 0, 0, 0, 0, 0, 0, 0,                      // cached control words, 0
        3, 0, 0, 0, 2, 0, 7, 0,                      // electrode 3
        4, 0, 0, 0, 2, 0, 7, 0};                     // electrode 4
    // clang-format on
    ASSERT_FALSE(processor_.sent.empty());
    EXPECT_EQ(processor_.sent.front(), expected);
}

} // namespace
