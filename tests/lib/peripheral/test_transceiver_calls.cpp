// The implant transceiver calls against the emulated transceiver front end (electrodes
// 96-127, module 7): answers at once, late and never.
#include "tests/lib/peripheral/PeripheralFixture.h"

#include "protocol/KestPacket.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using peripheraltest::kTransceiverElectrode;
using peripheraltest::kTransceiverModule;
using peripheraltest::PeripheralLive;

namespace {

constexpr int kElec = kTransceiverElectrode;

// The emulated implant's status words: word 0 says connected, word w is 0x5100 + w.
void ExpectImplantStatus(const std::uint16_t* words) {
    EXPECT_EQ(words[0], 1);
    for (unsigned w = 1; w < KL_TRANSCEIVER_WORDS; ++w) {
        ASSERT_EQ(words[w], 0x5100 + w) << w;
    }
}

KestTransceiverCommand Command(std::uint16_t word, std::uint16_t count) {
    KestTransceiverCommand command{};
    command.command = word;
    command.count = count;
    for (unsigned i = 0; i < KL_TRANSCEIVER_WORDS; ++i) {
        command.data[i] = std::uint16_t(0xA000 + i);
    }
    return command;
}

} // namespace

TEST_F(PeripheralLive, TransceiverEnableConnectedStatusCommandAndResponse) {
    EXPECT_EQ(kl_transceiver_enable(kElec + 5, 1), KL_SUCCESS);
    EXPECT_TRUE(
        WaitFor([&] { return Stored(kTransceiverModule, "Implant Search Trigger")[4] == 1; }));

    std::int32_t connected = -1;
    ASSERT_EQ(kl_transceiver_connected(kElec, &connected), KL_SUCCESS);
    EXPECT_EQ(connected, 1) << "the processor's answer, not the false that was written";

    std::uint16_t status[KL_TRANSCEIVER_WORDS] = {};
    ASSERT_EQ(kl_transceiver_status(status, kElec), KL_SUCCESS);
    ExpectImplantStatus(status);

    // 40 data words: 32 are sent; the count itself is not.
    KestTransceiverCommand command = Command(0x1234, 40);
    ASSERT_EQ(kl_transceiver_command(kElec, &command), KL_SUCCESS);
    const auto stored = Stored(kTransceiverModule, "Transceiver Command");
    ASSERT_EQ(stored.size(), 8u + 64u) << "the command packet is 84 bytes";
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&stored[4]), 0x1234);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&stored[6]), 32);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&stored[8 + 2 * 31]), 0xA000 + 31);

    std::uint16_t response[KL_TRANSCEIVER_WORDS] = {};
    ASSERT_EQ(kl_transceiver_cmd_response(response, kElec), KL_SUCCESS);
    EXPECT_EQ(response[0], 0x1234);
    EXPECT_EQ(response[1], 0xA000);
    EXPECT_EQ(response[31], 0xA000 + 30);

    // A command of 3 words sends them zero-padded to 32.
    command = Command(0x0042, 3);
    ASSERT_EQ(kl_transceiver_command(kElec, &command), KL_SUCCESS);
    const auto shorter = Stored(kTransceiverModule, "Transceiver Command");
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&shorter[8 + 2 * 2]), 0xA002);
    EXPECT_EQ(kest::LoadLe<std::uint16_t>(&shorter[8 + 2 * 3]), 0);
}

TEST_F(PeripheralLive, TransceiverCallsNameWhyAnElectrodeHasNoTransceiver) {
    std::uint16_t words[KL_TRANSCEIVER_WORDS] = {};
    std::int32_t connected = 7;
    const KestTransceiverCommand command = Command(1, 1);
    struct Case {
        int electrode;
        std::string message;
    };
    const Case cases[] = {
        {512, "lookup_transceiver: electrode index 512 is invalid.\n"},
        {-1, "lookup_transceiver: electrode index -1 is invalid.\n"},
        {200, "lookup_transceiver: No front end exists at that location.\n"},
        {32, "lookup_transceiver: [Front End 32ch rec A2] is not a transciever.\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(kl_transceiver_status(words, c.electrode), KL_ERR_UNKNOWN);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        testing::internal::CaptureStderr();
        EXPECT_EQ(kl_transceiver_connected(c.electrode, &connected), KL_ERR_UNKNOWN);
        EXPECT_EQ(kl_transceiver_enable(c.electrode, 1), KL_ERR_UNKNOWN);
        EXPECT_EQ(kl_transceiver_command(c.electrode, &command), KL_ERR_UNKNOWN);
        EXPECT_EQ(kl_transceiver_cmd_response(words, c.electrode), KL_ERR_INVALID_ELECTRODE);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(connected, 0);
    }
    EXPECT_EQ(kl_transceiver_connected(kElec, nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_transceiver_status(nullptr, kElec), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_transceiver_command(kElec, nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_transceiver_cmd_response(nullptr, kElec), KL_ERR_INVALID_PARAMETER);
}

TEST_F(PeripheralLive, TransceiverThatAnswersLateIsWaitedFor) {
    SetTransceiverFaults(paxsim::TransceiverAnswer::Late, 300);
    std::int32_t connected = 0;
    ASSERT_EQ(kl_transceiver_connected(kElec, &connected), KL_SUCCESS);
    EXPECT_EQ(connected, 1);
    std::uint16_t status[KL_TRANSCEIVER_WORDS] = {};
    ASSERT_EQ(kl_transceiver_status(status, kElec), KL_SUCCESS);
    ExpectImplantStatus(status);
    const KestTransceiverCommand command = Command(0x0777, 2);
    ASSERT_EQ(kl_transceiver_command(kElec, &command), KL_SUCCESS);
    std::uint16_t response[KL_TRANSCEIVER_WORDS] = {};
    ASSERT_EQ(kl_transceiver_cmd_response(response, kElec), KL_SUCCESS);
    EXPECT_EQ(response[0], 0x0777);
}

TEST_F(PeripheralLive, TransceiverThatNeverAnswersFailsWithinItsWait) {
    // Answers arrive first, so that a stale answer in the cache could be mistaken for a new one.
    std::uint16_t words[KL_TRANSCEIVER_WORDS] = {};
    std::int32_t connected = 0;
    const KestTransceiverCommand command = Command(0x0101, 1);
    ASSERT_EQ(kl_transceiver_status(words, kElec), KL_SUCCESS);
    ASSERT_EQ(kl_transceiver_command(kElec, &command), KL_SUCCESS);
    ASSERT_EQ(kl_transceiver_cmd_response(words, kElec), KL_SUCCESS);

    SetTransceiverFaults(paxsim::TransceiverAnswer::Never);
    connected = 5;
    EXPECT_EQ(kl_transceiver_connected(kElec, &connected), KL_ERR_UNKNOWN)
        << "no answer is not \"not connected\"";
    EXPECT_EQ(connected, 0);

    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_transceiver_status(words, kElec), KL_ERR_UNKNOWN);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_transceiver_status: unable to read implant status\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_transceiver_command(kElec, &command), KL_ERR_UNKNOWN);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_transceiver_command: Transceiver command not acknowledged\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_transceiver_cmd_response(words, kElec), KL_ERR_NO_RESPONSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_transceiver_cmd_response: unable to read implant command response\n");
}

TEST_F(PeripheralLive, TransceiverCountsFromTheWireStayInsideTheRecord) {
    // Records that claim 65535 words: clearing them before a request must stay inside the
    // stored record, and the answers that follow are read whole.
    for (const char* name : {"Implant Status", "Transceiver Command", "Implant Command Response"}) {
        std::vector<std::uint8_t> record(80, 0);
        record[0] = 1;
        record[1] = std::string(name) == "Transceiver Command" ? kKestTransceiverCommandType
                                                               : kKestImplantStatusType;
        kest::StoreLe<std::uint16_t>(&record[6], 0xFFFF);
        FeedRecord(kTransceiverModule, Index(kTransceiverModule, name), record);
    }
    std::uint16_t words[KL_TRANSCEIVER_WORDS] = {};
    ASSERT_EQ(kl_transceiver_status(words, kElec), KL_SUCCESS);
    ExpectImplantStatus(words);
    const KestTransceiverCommand command = Command(0x0202, 1);
    ASSERT_EQ(kl_transceiver_command(kElec, &command), KL_SUCCESS);
    ASSERT_EQ(kl_transceiver_cmd_response(words, kElec), KL_SUCCESS);
    EXPECT_EQ(words[0], 0x0202);
}
