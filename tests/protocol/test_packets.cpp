// Wire layouts of the configuration packets the library builds, byte by byte.
#include "protocol/KestPacket.h"
#include "protocol/KestPacketBuilder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

std::vector<std::uint8_t> Build(std::uint8_t proc, std::uint8_t module, std::uint16_t index,
                                const void* record, std::size_t length, std::uint32_t stamp) {
    std::vector<std::uint8_t> out(kKestMaxPacketSize + 8, 0xEE);
    std::size_t bytes =
        KestBuildConfigPacket(out.data(), out.size(), proc, module, index, record, length, stamp);
    out.resize(bytes);
    return out;
}

TEST(ConfigPacket, RequestIsTwelveBytesOfSizeThree) {
    std::vector<std::uint8_t> out(64, 0xEE);
    ASSERT_EQ(KestBuildRequest(out.data(), out.size(), 1, 7, 0xFFFF), 12u);
    const std::uint8_t expected[12] = {3, 0, 0, 0, 0, 0, 0, 0, 1, 7, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(out.data(), expected, 12));
    EXPECT_EQ(out[12], 0xEE) << "nothing written past the packet";
}

TEST(ConfigPacket, ReservedRequestAddresses) {
    auto everything = Build(kKestAllProcessors, 0, 0, nullptr, 0, 0);
    const std::uint8_t send_all[12] = {3, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(everything.data(), send_all, 12));

    auto modules = Build(1, kKestAllModules, 0, nullptr, 0, 0);
    const std::uint8_t all_modules[12] = {3, 0, 0, 0, 0, 0, 0, 0, 1, 255, 0, 0};
    EXPECT_EQ(0, std::memcmp(modules.data(), all_modules, 12));

    auto trial = Build(kKestOperatorProcId, 0, kKestOperatorTrialPropIndex, nullptr, 0, 0);
    const std::uint8_t trial_request[12] = {3, 0, 0, 0, 0, 0, 0, 0, 150, 0, 0xFF, 0x7F};
    EXPECT_EQ(0, std::memcmp(trial.data(), trial_request, 12));
}

TEST(ConfigPacket, BooleanSetIsTwentyBytesOfSizeFive) {
    KestBool value{};
    value.head = {1, kKestBoolType, 0, 0};
    value.value = 1;
    auto packet = Build(1, 3, 0x0102, &value, sizeof value, kKestSetTimestamp);
    const std::uint8_t expected[20] = {5,    0,    0, 0, 1, 0, 0, 0, 1, 3,
                                       0x02, 0x01, 1, 3, 0, 0, 1, 0, 0, 0};
    ASSERT_EQ(packet.size(), 20u);
    EXPECT_EQ(0, std::memcmp(packet.data(), expected, 20));
}

TEST(ConfigPacket, ComboBoxSetIsOneHundredFiftyTwoBytes) {
    KestComboBox box{};
    box.head = {1, kKestComboBoxType, 0, 0};
    box.selection = 0x0203;
    box.firstItem = 40;
    box.itemCount = 5;
    auto packet = Build(1, 2, 9, &box, sizeof box, kKestSetTimestamp);
    ASSERT_EQ(packet.size(), 152u);
    EXPECT_EQ(packet[0], 38);
    EXPECT_EQ(packet[12 + 4], 0x03);
    EXPECT_EQ(packet[12 + 5], 0x02);
    EXPECT_EQ(packet[12 + 8], 40);
    EXPECT_EQ(packet[12 + 10], 5);
}

TEST(ConfigPacket, SosFilterRecordLengthGrowsBySixteenPerStage) {
    KestSosFilterDesc filter{};
    filter.head = {1, kKestSosFilterDescType, 0, 0};
    filter.stageCount = 2;
    filter.coefficients[1][3] = 1.5f;
    EXPECT_EQ(filter.RecordLength(), 184u);
    auto packet = Build(1, 2, 77, &filter, filter.RecordLength(), kKestSetTimestamp);
    ASSERT_EQ(packet.size(), 196u);
    EXPECT_EQ(packet[0], 49);
    EXPECT_EQ(packet[12 + 151], 2);
    float last;
    std::memcpy(&last, &packet[12 + 152 + 16 + 12], 4);
    EXPECT_EQ(last, 1.5f);
}

TEST(ConfigPacket, DescriptorSetsAndTheirEmptyForms) {
    KestRecordingTrialDescriptor trial{};
    trial.head = {1, kKestTrialDescType, 0, 0};
    trial.SetStatus(kKestTrialStartRequested);
    auto trial_set = Build(150, 0, 0x7FFF, &trial, sizeof trial, kKestSetTimestamp);
    ASSERT_EQ(trial_set.size(), 888u);
    EXPECT_EQ(trial_set[0], 222);
    EXPECT_EQ(trial_set[12 + 50], 5);
    EXPECT_EQ(trial_set[887], 0) << "padding is zero";

    BmFeSignalSelectionDesc selection{};
    selection.head = {1, kKestSignalSelectionDescType, 0, 0};
    auto selection_set = Build(150, 0, 0x80A1, &selection, sizeof selection, kKestSetTimestamp);
    ASSERT_EQ(selection_set.size(), 532u);
    EXPECT_EQ(selection_set[0], 133);
    EXPECT_EQ(selection_set[4], 1) << "descriptor sets carry timestamp 1";
}

TEST(ConfigPacket, RefusesWhatDoesNotFit) {
    std::array<std::uint8_t, 16> small{};
    KestBool value{};
    EXPECT_EQ(KestBuildConfigPacket(small.data(), small.size(), 1, 0, 0, &value, sizeof value, 1),
              0u);
    std::vector<std::uint8_t> big(2048);
    std::vector<std::uint8_t> record(1009, 7);
    EXPECT_EQ(KestBuildConfigPacket(big.data(), big.size(), 1, 0, 0, record.data(), 1009, 1), 0u);
    EXPECT_EQ(KestBuildConfigPacket(big.data(), big.size(), 1, 0, 0, record.data(), 1008, 1),
              1020u);
    EXPECT_EQ(KestBuildConfigPacket(big.data(), big.size(), 1, 0, 0, nullptr, 4, 1), 0u);
}

TEST(ConfigPacket, RecordLengthFollowsTheSizeByte) {
    std::array<std::uint8_t, 32> bytes{};
    auto* packet = reinterpret_cast<KestConfigPacket*>(bytes.data());
    packet->header.size = 5;
    EXPECT_EQ(packet->RecordLength(), 8u);
    packet->header.size = 2; // shorter than the address: no record at all
    EXPECT_EQ(packet->RecordLength(), 0u);
    EXPECT_EQ(packet->RecordType(), 0);
}

// Offsets of the records read in place, checked against the raw bytes of a record.
TEST(Records, FieldsReadFromTheirOffsets) {
    std::array<std::uint8_t, kKestMaxRecordSize> raw{};
    raw[1] = kKestOutputStreamDescType;
    raw[4] = kKestFloatData;
    raw[5] = 15;
    raw[6] = 0x34;
    raw[7] = 0x12;
    raw[8] = 32;
    float scale = 0.25f;
    std::memcpy(&raw[12], &scale, 4);
    std::memcpy(&raw[148], "hi-res", 7);
    const auto* stream = reinterpret_cast<const KestOutputStreamDesc*>(raw.data());
    EXPECT_EQ(stream->dataKind, kKestFloatData);
    EXPECT_EQ(stream->period, 15);
    EXPECT_EQ(stream->firstChannelRecord, 0x1234);
    EXPECT_EQ(stream->channelCount, 32);
    EXPECT_EQ(stream->adcScale, 0.25f);
    EXPECT_STREQ(stream->name, "hi-res");

    raw.fill(0);
    raw[50] = 0x02;
    raw[53] = 0x80;
    raw[16] = 7;
    raw[39] = 0x01;
    const auto* trial = reinterpret_cast<const KestRecordingTrialDescriptor*>(raw.data());
    EXPECT_EQ(trial->Status(), std::int32_t(0x80000002u));
    EXPECT_EQ(trial->Setting(0), 7);
    EXPECT_EQ(trial->Setting(2), 0x01000000);

    raw.fill(0);
    raw[4] = 6;
    raw[8] = 0x10;
    raw[9] = 0x20;
    raw[13] = 1;
    raw[14] = 2;
    raw[15] = 3;
    raw[18] = 5;
    const auto* error = reinterpret_cast<const KestErrorMessage*>(raw.data());
    EXPECT_EQ(error->level, 6u);
    EXPECT_EQ(error->code, 0x2010u);
    EXPECT_EQ(error->detail1 + error->detail2 + error->detail3, 6);
    EXPECT_EQ(error->textLength, 5);
}

TEST(Records, TextLengthStopsAtCapacity) {
    char text[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(KestTextLength(text, sizeof text), 4u);
    text[2] = 0;
    EXPECT_EQ(KestTextLength(text, sizeof text), 2u);
}

} // namespace
