// Stimulation packets: sequences, clears, parameter texts and calibration. Each call builds
// all of its packets and publishes once; a call refused part-way publishes nothing.
#include "ClientKit.h"

#include "client/KestClient.h"
#include "stim/StimParamManager.h"
#include "stim/StimSeqManager.h"

#include <gtest/gtest.h>

using clientkit::Bytes;
using clientkit::CountingSink;
using clientkit::Field;

namespace {

class ClientStim : public ::testing::Test {
  protected:
    void SetUp() override {
        cache = clientkit::ReadyCache();
        table = cache->GetStimAddr();
        ASSERT_EQ(table.size(), 32u);
        client.SetStimAddr(table);
    }

    // Checks the head of one electrode's sequence packet and returns its words.
    std::vector<std::uint32_t> Words(const Bytes& packet, unsigned electrode) {
        EXPECT_GE(packet.size(), 32u);
        const std::size_t n = (packet.size() - 28) / 4;
        EXPECT_EQ(packet[0], n + 7);
        EXPECT_EQ(Bytes(packet.begin() + 1, packet.begin() + 8), Bytes(7, 0));
        EXPECT_EQ(packet[8], 1);
        EXPECT_EQ(packet[9], table[electrode].first);
        EXPECT_EQ(Field<std::uint16_t>(packet, 10), table[electrode].second);
        EXPECT_EQ(Field<std::uint32_t>(packet, 12), 0u);
        EXPECT_EQ(Field<std::uint16_t>(packet, 16), 2 * n);
        EXPECT_EQ(Field<std::uint16_t>(packet, 18), 2 * n);
        EXPECT_EQ(Bytes(packet.begin() + 20, packet.begin() + 28), Bytes(8, 0));
        std::vector<std::uint32_t> words;
        for (std::size_t i = 0; i < n; ++i) {
            words.push_back(Field<std::uint32_t>(packet, 28 + 4 * i));
        }
        return words;
    }

    std::unique_ptr<KestCache> cache;
    std::map<unsigned, std::pair<unsigned, unsigned>> table;
    CountingSink sink;
    KestClient client{&sink};
};

TEST_F(ClientStim, TenWordSequenceIsSixtyEightBytes) {
    StimSeqManager manager;
    manager.AddNewSeq(4, 3000, 10, StimActionType::Trigger);
    manager.AddWordToSeq(0, 3, 20, true, true, true, 0, false); // 0x0003A094
    for (int i = 0; i < 8; ++i) {
        manager.AddWordToSeq(0, std::uint16_t(10 + i), 5, false, true, false, 1, false);
    }
    EXPECT_EQ(client.SendStimSeq(manager), kStimSent);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 1u);
    ASSERT_EQ(packets[0].size(), 68u);
    EXPECT_EQ(packets[0][0], 17);
    EXPECT_EQ(Field<std::uint16_t>(packets[0], 16), 20);
    EXPECT_EQ(Field<std::uint16_t>(packets[0], 18), 20);
    auto words = Words(packets[0], 4);
    EXPECT_EQ(words[0], 0x30BB800Au);
    EXPECT_EQ(words[1], 0x0003A094u);
    EXPECT_EQ(words, manager.GetStimCmd(0));
    // The words are little-endian on the wire.
    EXPECT_EQ((Bytes(packets[0].begin() + 28, packets[0].begin() + 32)),
              (Bytes{0x0A, 0x80, 0xBB, 0x30}));
}

TEST_F(ClientStim, ThreeSequencesOnePublish) {
    StimSeqManager manager;
    for (int elec : {7, 2, 31}) {
        std::size_t i = manager.AddNewSeq(elec, 100, 5, StimActionType::Immed);
        manager.AddWordToSeq(i, 4, std::uint32_t(elec), false, true, false, 0, false);
    }
    EXPECT_EQ(client.SendStimSeq(manager), kStimSent);
    EXPECT_EQ(sink.publishes.load(), 1);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(Words(packets[0], 7), manager.GetStimCmd(0));
    EXPECT_EQ(Words(packets[1], 2), manager.GetStimCmd(1));
    EXPECT_EQ(Words(packets[2], 31), manager.GetStimCmd(2));
}

TEST_F(ClientStim, UnknownElectrodeSendsNothingAtAll) {
    // Before, the packets ahead of the unknown electrode stayed reserved in the ring, and the
    // next publish of any writer sent them along with the unfilled one.
    StimSeqManager manager;
    for (int elec : {3, 4, 40}) {
        std::size_t i = manager.AddNewSeq(elec, 100, 5, StimActionType::Immed);
        manager.AddWordToSeq(i, 4, 1, false, true, false, 0, false);
    }
    EXPECT_EQ(client.SendStimSeq(manager), kStimUnknownElectrode);
    EXPECT_EQ(sink.WriteHead(), 0u);
    EXPECT_EQ(sink.publishes.load(), 0);

    // The next call publishes only its own packet.
    EXPECT_EQ(client.SendBool(0, 2, false), 1);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size(), 20u);
}

TEST_F(ClientStim, EmptyManagerMakesAnEmptyPublish) {
    StimSeqManager manager;
    EXPECT_EQ(client.SendStimSeq(manager), kStimSent);
    EXPECT_EQ(sink.publishes.load(), 1);
    EXPECT_TRUE(sink.Take().empty());
}

TEST_F(ClientStim, SequenceTooLongForOnePacketIsRefused) {
    StimSeqManager manager;
    manager.AddNewSeq(1, 60000, 1, StimActionType::Immed);
    for (std::size_t i = 0; i < kStimMaxSeqWords; ++i) { // header + 248 = 249 words
        manager.AddWordToSeq(0, 1, 0, false, false, false, 0, false);
    }
    EXPECT_EQ(client.SendStimSeq(manager), kStimUnknownElectrode);
    EXPECT_EQ(sink.WriteHead(), 0u);

    StimSeqManager fits;
    fits.AddNewSeq(1, 60000, 1, StimActionType::Immed);
    for (std::size_t i = 0; i + 1 < kStimMaxSeqWords; ++i) {
        fits.AddWordToSeq(0, 1, 0, false, false, false, 0, false);
    }
    EXPECT_EQ(client.SendStimSeq(fits), kStimSent);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size(), 28u + 4 * 248);
    EXPECT_EQ(packets[0][0], 255);
}

TEST_F(ClientStim, CRecordsCopyTheirCountedWords) {
    StimSeq_t records[2] = {};
    records[0].elec = 9;
    records[0].count = 3;
    records[0].words[0] = 0x30BB800A;
    records[0].words[1] = 0x0003A094;
    records[0].words[2] = 0x00050000;
    records[0].words[3] = 0xDEADBEEF; // beyond the count
    records[1].elec = 0;
    records[1].count = 1;
    records[1].words[0] = 0x10000000;
    EXPECT_EQ(client.SendStimSeq(records, 2), kStimSent);
    EXPECT_EQ(sink.publishes.exchange(0), 1);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(Words(packets[0], 9),
              (std::vector<std::uint32_t>{0x30BB800A, 0x0003A094, 0x00050000}));
    EXPECT_EQ(Words(packets[1], 0), (std::vector<std::uint32_t>{0x10000000}));

    EXPECT_EQ(client.SendStimSeq(records, 0), kStimSent);
    EXPECT_EQ(sink.publishes.exchange(0), 1);
    for (int count : {0, -3, KL_STIM_SEQ_MAX_WORDS}) {
        records[1].count = count;
        EXPECT_EQ(client.SendStimSeq(records, 2), kStimUnknownElectrode) << count;
    }
    EXPECT_EQ(client.SendStimSeq(nullptr, 1), kStimUnknownElectrode);
    EXPECT_TRUE(sink.Take().empty());
    EXPECT_EQ(sink.publishes.load(), 0);
}

TEST_F(ClientStim, ClearTwoElectrodesAtEndOfAllCycles) {
    EXPECT_EQ(client.SendStimClear({5, 9}, 2), kStimSent);
    EXPECT_EQ(sink.publishes.exchange(0), 1);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const unsigned electrode = i == 0 ? 5 : 9;
        Bytes expected(32, 0);
        expected[0] = 8;
        expected[8] = 1;
        expected[9] = std::uint8_t(table[electrode].first);
        kest::StoreLe(expected.data() + 10, std::uint16_t(table[electrode].second));
        expected[16] = 2;
        expected[18] = 2;
        kest::StoreLe<std::uint32_t>(expected.data() + 28, 0x20000000);
        EXPECT_EQ(packets[i], expected);
    }

    EXPECT_EQ(client.SendStimClear({5}, 0), kStimSent);
    EXPECT_EQ(client.SendStimClear({5}, 1), kStimSent);
    packets = sink.Take();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(Field<std::uint32_t>(packets[0], 28), 0x00000000u);
    EXPECT_EQ(Field<std::uint32_t>(packets[1], 28), 0x10000000u);

    EXPECT_EQ(client.SendStimClear({}, 1), kStimSent);
    EXPECT_TRUE(sink.Take().empty());
}

TEST_F(ClientStim, ClearRefusals) {
    const std::uint64_t head = sink.WriteHead();
    EXPECT_EQ(client.SendStimClear({5, 9}, 3), kStimInvalid);
    EXPECT_EQ(client.SendStimClear({5, 9}, -1), kStimInvalid);
    EXPECT_EQ(client.SendStimClear({5, 600, 9}, 1), kStimUnknownElectrode);
    EXPECT_EQ(client.SendStimClear({-1}, 1), kStimUnknownElectrode);
    EXPECT_EQ(sink.WriteHead(), head);
}

TEST_F(ClientStim, ParameterTextSendsHeaderThenPulse) {
    const std::string text = "Elect=6,12;TL=100,200;Freq=50,100;Dur=0.2,0.1;Amp=10,20";
    StimParamManager params(text, nullptr);
    ASSERT_TRUE(params.IsValid());
    EXPECT_EQ(client.SendStimCmd(text), kStimSent);
    EXPECT_EQ(sink.publishes.load(), 1);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        std::vector<std::uint32_t> expected = params.GetStimCmd(i);
        expected.insert(expected.begin(), params.GetPAXControlWord(i));
        EXPECT_EQ(Words(packets[i], unsigned(params.GetElecID(i))), expected);
    }
}

TEST_F(ClientStim, ParameterTextRefusals) {
    EXPECT_EQ(client.SendStimCmd("Elect=3;Freq=100"), kStimInvalid); // no train length
    // Electrode 40 exists, but only the first 32 electrodes stimulate.
    EXPECT_EQ(client.SendStimCmd("Elect=6,40;TL=100,100;Freq=50,50;Dur=0.2,0.2;Amp=10,10"),
              kStimUnknownElectrode);
    EXPECT_EQ(sink.WriteHead(), 0u);
    EXPECT_EQ(sink.publishes.load(), 0);

    EXPECT_EQ(client.SendStimCmd(""), kStimSent); // valid, no trains: an empty publish
    EXPECT_EQ(sink.publishes.load(), 1);
    EXPECT_TRUE(sink.Take().empty());
}

TEST_F(ClientStim, CalibrationCommand) {
    EXPECT_EQ(client.SendStimCalibCmd(1, 1, 400), 1);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 1u);
    Bytes expected(32, 0);
    expected[0] = 8;
    kest::StoreLe<std::uint32_t>(expected.data() + 4, 1);
    expected[8] = 1;
    expected[9] = 1;
    kest::StoreLe<std::uint16_t>(expected.data() + 10, 400);
    expected[18] = 2;
    expected[28] = 1;
    EXPECT_EQ(packets[0], expected);
}

TEST_F(ClientStim, CalibrationDataSixPacketsInOnePublish) {
    std::vector<std::uint16_t> table(640);
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = std::uint16_t(i * 3 + 1);
    }
    EXPECT_EQ(client.SendStimCalibData(0xCAFEF00D, table.data(), 1, 400), 1);
    EXPECT_EQ(sink.publishes.load(), 1);
    auto packets = sink.Take();
    ASSERT_EQ(packets.size(), 6u);
    EXPECT_EQ(packets[0].size(), 32u);
    EXPECT_EQ(Field<std::uint32_t>(packets[0], 28), 2u);
    for (unsigned k = 1; k <= 5; ++k) {
        const Bytes& packet = packets[k];
        ASSERT_EQ(packet.size(), 288u);
        EXPECT_EQ(packet[0], 72);
        EXPECT_EQ(Field<std::uint16_t>(packet, 10), 400 + k);
        EXPECT_EQ(Field<std::uint16_t>(packet, 18), 130);
        EXPECT_EQ(Field<std::uint32_t>(packet, 28), 0xCAFEF00Du);
        EXPECT_EQ(Field<std::uint16_t>(packet, 32), table[128 * (k - 1)]);
        EXPECT_EQ(Field<std::uint16_t>(packet, 286), table[128 * k - 1]);
    }
    EXPECT_EQ(client.SendStimCalibData(1, nullptr, 1, 400), 0);
    EXPECT_EQ(client.SendStimCalibData(1, table.data(), 1, 0xFFFB), 0);
    EXPECT_TRUE(sink.Take().empty());
}

TEST_F(ClientStim, StimAddressTable) {
    int module = -1, prop = -1;
    EXPECT_EQ(client.GetStimAddrByElec(&module, &prop, 31), 0);
    EXPECT_EQ(unsigned(module), table[31].first);
    EXPECT_EQ(unsigned(prop), table[31].second);
    EXPECT_EQ(client.GetStimAddrByElec(&module, &prop, 32), -1);

    // Addresses a packet cannot carry are left out instead of being cut to another property.
    client.SetStimAddr({{0, {1, 10}}, {1, {300, 10}}, {2, {1, 0x10000}}});
    EXPECT_EQ(client.GetStimAddrByElec(nullptr, nullptr, 0), 0);
    EXPECT_EQ(client.GetStimAddrByElec(nullptr, nullptr, 1), -1);
    EXPECT_EQ(client.GetStimAddrByElec(nullptr, nullptr, 2), -1);

    client.SetElecAddr({{3, 0x01020304}});
    EXPECT_EQ(client.GetElecAddr().at(3), 0x01020304u);
}

} // namespace
