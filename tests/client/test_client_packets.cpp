// Property writes, requests and digital outputs: every packet byte by byte, one publish per
// call, and refused calls that leave nothing in the ring.
#include "ClientKit.h"

#include "client/KestClient.h"

#include <gtest/gtest.h>

using clientkit::Bytes;
using clientkit::CountingSink;
using clientkit::Field;

namespace {

class ClientPackets : public ::testing::Test {
  protected:
    CountingSink sink;
    KestClient client{&sink};

    // The one packet of the last call, which must have been published once.
    Bytes One() {
        auto packets = sink.Take();
        EXPECT_EQ(packets.size(), 1u);
        EXPECT_EQ(sink.publishes.exchange(0), 1);
        seen = sink.WriteHead();
        return packets.empty() ? Bytes{} : packets[0];
    }
    void ExpectNothing() {
        EXPECT_TRUE(sink.Take().empty());
        EXPECT_EQ(sink.publishes.load(), 0);
        EXPECT_EQ(sink.WriteHead(), seen) << "a refused call reserved ring space";
    }
    std::uint64_t seen = 0; // the write head after the last packet taken
};

TEST_F(ClientPackets, BoolWriteIsTwentyBytes) {
    EXPECT_EQ(client.SendBool(3, 0x1234, true), 1);
    Bytes expected = {5, 0, 0, 0, 1, 0, 0, 0, 1, 3, 0x34, 0x12, 1, 3, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(One(), expected);
    EXPECT_EQ(client.SendBool(3, 7, false), 1);
    EXPECT_EQ(One()[16], 0);
}

TEST_F(ClientPackets, PropertyWriteCopiesTheGivenLength) {
    std::uint8_t record[24];
    for (int i = 0; i < 24; ++i) {
        record[i] = std::uint8_t(0xA0 + i);
    }
    EXPECT_EQ(client.SendKestProperty(record, 2, 9, 20), 1);
    Bytes packet = One();
    ASSERT_EQ(packet.size(), 32u);
    EXPECT_EQ(packet[0], 8);
    EXPECT_EQ(Field<std::uint32_t>(packet, 4), 1u);
    EXPECT_EQ(packet[8], 1);
    EXPECT_EQ(packet[9], 2);
    EXPECT_EQ(Field<std::uint16_t>(packet, 10), 9);
    EXPECT_TRUE(std::equal(record, record + 20, packet.begin() + 12));

    // An odd length is padded with zeros to whole words.
    EXPECT_EQ(client.SendKestProperty(record, 2, 9, 5), 1);
    packet = One();
    ASSERT_EQ(packet.size(), 20u);
    EXPECT_EQ(packet[0], 5);
    EXPECT_EQ(packet[16], 0xA4);
    EXPECT_EQ(Bytes(packet.begin() + 17, packet.end()), Bytes(3, 0));
}

TEST_F(ClientPackets, PropertyWritesThatCannotBeCarriedAreRefused) {
    std::uint8_t record[kKestMaxRecordSize + 4] = {};
    EXPECT_EQ(client.SendKestProperty(record, 2, 9, 0), 0);
    EXPECT_EQ(client.SendKestProperty(record, 2, 9, kKestMaxRecordSize + 1), 0);
    EXPECT_EQ(client.SendKestProperty(nullptr, 2, 9, 8), 0);
    EXPECT_EQ(client.SendKestProperty(record, 256, 9, 8), 0);
    EXPECT_EQ(client.SendKestProperty(record, 2, 0x10000, 8), 0);
    ExpectNothing();
    EXPECT_EQ(client.SendKestProperty(record, 2, 9, kKestMaxRecordSize), 1);
    EXPECT_EQ(One().size(), kKestMaxPacketSize);
}

TEST_F(ClientPackets, ComboBoxAndAudioTone) {
    KestComboBox box{};
    box.head = {1, kKestComboBoxType, 0, 0};
    box.selection = 2;
    box.itemCount = 4;
    box.reserved2[127] = 0x5A;
    EXPECT_EQ(client.SendComboBox(box, 5, 40), 1);
    Bytes packet = One();
    ASSERT_EQ(packet.size(), 152u);
    EXPECT_EQ(packet[0], 38);
    EXPECT_EQ(Field<std::uint32_t>(packet, 4), 1u);
    EXPECT_EQ(0, std::memcmp(packet.data() + 12, &box, sizeof box));

    KestAudioTone tone{{1, kKestAudioToneType, 0, 0}, 0x11223344, 0x55667788};
    EXPECT_EQ(client.SendAudioTone(tone, 0, 77), 1);
    packet = One();
    ASSERT_EQ(packet.size(), 24u);
    EXPECT_EQ(packet[0], 6);
    EXPECT_EQ(Field<std::uint32_t>(packet, 16), 0x11223344u);
    EXPECT_EQ(Field<std::uint32_t>(packet, 20), 0x55667788u);
}

TEST_F(ClientPackets, FilterDescriptorIsSentWithItsStages) {
    KestSosFilterDesc filter{};
    filter.head = {1, kKestSosFilterDescType, 0, 0};
    filter.stageCount = 2;
    filter.coefficients[1][3] = 0.75f;
    filter.coefficients[2][0] = 9.0f; // beyond the stages: not sent
    EXPECT_EQ(client.SendComboBox(filter, 6, 300), 1);
    Bytes packet = One();
    ASSERT_EQ(packet.size(), 12u + 184u);
    EXPECT_EQ(packet[0], 49);
    EXPECT_EQ(packet[12 + 151], 2);
    EXPECT_EQ(Field<float>(packet, 12 + 152 + 7 * 4), 0.75f);

    filter.stageCount = std::uint8_t(kKestSosMaxStages + 1);
    EXPECT_EQ(client.SendComboBox(filter, 6, 300), 0);
    ExpectNothing();
}

TEST_F(ClientPackets, WordAndFloatArrays) {
    KestWordArray words{};
    words.count = 3;
    words.words[0] = 0x0102;
    words.words[2] = 0x0506;
    EXPECT_EQ(client.SendWordArray(words, 1, 2), 1);
    Bytes packet = One();
    ASSERT_EQ(packet.size(), 36u); // 28 + 2 x 3, padded
    EXPECT_EQ(packet[0], 9);
    EXPECT_EQ(Field<std::uint16_t>(packet, 18), 3);
    EXPECT_EQ(Field<std::uint16_t>(packet, 28), 0x0102);
    EXPECT_EQ(Field<std::uint16_t>(packet, 32), 0x0506);
    EXPECT_EQ(Field<std::uint16_t>(packet, 34), 0);

    KestFloatArray floats{};
    floats.count = 2;
    floats.values[0] = 1.5f;
    floats.values[1] = -2.0f;
    EXPECT_EQ(client.SendFloatArray(floats, 1, 3), 1);
    packet = One();
    ASSERT_EQ(packet.size(), 40u);
    EXPECT_EQ(packet[0], 8 + 2);
    EXPECT_EQ(Field<float>(packet, 32), 1.5f);
    EXPECT_EQ(Field<float>(packet, 36), -2.0f);

    words.count = std::uint16_t(kKestWordArrayMax + 1);
    floats.count = std::uint16_t(kKestFloatArrayMax + 1);
    EXPECT_EQ(client.SendWordArray(words, 1, 2), 0);
    EXPECT_EQ(client.SendFloatArray(floats, 1, 2), 0);
    ExpectNothing();
}

TEST_F(ClientPackets, RawPacketIsCopiedAsItStands) {
    Bytes raw = {4, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA};
    EXPECT_TRUE(client.SendKestPacket(*reinterpret_cast<const KestPacket*>(raw.data())));
    EXPECT_EQ(One(), raw);

    // A size byte of 0 would stall every reader of the ring.
    raw[0] = 0;
    EXPECT_FALSE(client.SendKestPacket(*reinterpret_cast<const KestPacket*>(raw.data())));
    ExpectNothing();
}

TEST_F(ClientPackets, Requests) {
    EXPECT_TRUE(client.RequestProperty(1, 255, 0));
    EXPECT_EQ(One(), (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 1, 255, 0, 0}));
    EXPECT_TRUE(client.RequestProperty(1, 4, 0xFFFF));
    EXPECT_EQ(One(), (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 1, 4, 0xFF, 0xFF}));
    EXPECT_FALSE(client.RequestProperty(256, 0, 0));
    EXPECT_FALSE(client.RequestProperty(1, 0, 0x10000));
    ExpectNothing();
}

TEST_F(ClientPackets, RequestAllGoesToEveryOperatorAndNotToTheRing) {
    clientkit::FakeRoutes routes;
    routes.Connect(clientkit::Address(192, 168, 42, 150));
    routes.Connect(clientkit::Address(192, 168, 43, 151));
    client.SetOperatorRoutes(&routes);
    client.RequestAll();
    for (auto& [address, packets] : routes.sent) {
        ASSERT_EQ(packets.size(), 1u) << address;
        EXPECT_EQ(packets[0], (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0}));
    }
    ExpectNothing();

    KestClient alone(&sink);
    alone.RequestAll(); // no operator links: nothing anywhere
    ExpectNothing();
}

TEST_F(ClientPackets, DigitalOutputWord) {
    const int outputs[] = {0, 3, 4};
    const int values[] = {1, 0, 0xABCD};
    EXPECT_EQ(client.SetDigOut(outputs, values, 3), 1);
    Bytes expected(32, 0);
    expected[0] = 8;
    expected[8] = 1;
    expected[9] = 34;
    expected[10] = 53;
    expected[12] = 1;
    expected[13] = 4;
    kest::StoreLe<std::uint32_t>(expected.data() + 16, 0x9F01ABCD);
    EXPECT_EQ(One(), expected);

    const int all[] = {1, 2};
    const int high[] = {5, 7};
    EXPECT_EQ(client.SetDigOut(all, high, 2), 1);
    EXPECT_EQ(Field<std::uint32_t>(One(), 16), 0x20000000u + 0x00020000 + 0x40000000 + 0x00040000);

    // Only the low 16 bits of the parallel port value count.
    const int port[] = {4};
    const int wide[] = {0x12345};
    EXPECT_EQ(client.SetDigOut(port, wide, 1), 1);
    EXPECT_EQ(Field<std::uint32_t>(One(), 16), 0x0F002345u);

    EXPECT_EQ(client.SetDigOut(nullptr, nullptr, 0), 1);
    EXPECT_EQ(Field<std::uint32_t>(One(), 16), 0u);
}

TEST_F(ClientPackets, DigitalOutputRefusals) {
    // An unknown output anywhere in the list refuses the whole call; so does an output named
    // twice, whose sum would carry into the next output's bits.
    const int unknown[] = {0, 5};
    const int negative[] = {-1};
    const int twice[] = {0, 0};
    const int values[] = {1, 1};
    EXPECT_EQ(client.SetDigOut(unknown, values, 2), 0);
    EXPECT_EQ(client.SetDigOut(negative, values, 1), 0);
    EXPECT_EQ(client.SetDigOut(twice, values, 2), 0);
    EXPECT_EQ(client.SetDigOut(unknown, values, -1), 0);
    EXPECT_EQ(client.SetDigOut(nullptr, values, 1), 0);
    ExpectNothing();
}

TEST(ClientDefaults, DefaultClientWritesIntoTheSharedConfigRing) {
    KestClient client;
    EXPECT_EQ(&client.Sink(), static_cast<KestConfigSink*>(&KestDefaultConfigSink()));
    auto& ring = KestDefaultConfigSink().Ring();
    const std::uint64_t before = ring.PublishedHead();
    EXPECT_TRUE(client.RequestProperty(255, 0, 0));
    EXPECT_EQ(ring.PublishedHead(), before + 12);
    EXPECT_STREQ(ring.Name(), "configBuffer");
}

} // namespace
