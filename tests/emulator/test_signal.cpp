// Synthetic data: every packet is a known function of the seed and the processor time.
#include "ModelDecoder.h"

#include "emulator/model/ModelFactory.h"
#include "emulator/signal/DataGenerator.h"
#include "protocol/KestPacketBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

using namespace paxsim;
using paxsim_test::ModelDecoder;

namespace {

std::vector<std::vector<std::uint8_t>> Generate(DataGenerator& generator, std::uint32_t from,
                                                std::uint32_t to) {
    Outbox out;
    generator.Generate(from, to, out);
    ModelDecoder decoder;
    EXPECT_GE(decoder.Feed(out.Bytes()), 0);
    EXPECT_EQ(decoder.configPackets, 0u);
    return decoder.dataPackets;
}

const KestPacket& Head(const std::vector<std::uint8_t>& packet) {
    return *reinterpret_cast<const KestPacket*>(packet.data());
}

void SetBool(ProcessorModel& model, std::uint8_t module, std::uint16_t index, bool value) {
    std::uint8_t record[8] = {1, kKestBoolType, 0, 0, value, 0, 0, 0};
    std::uint8_t packet[20];
    KestBuildConfigPacket(packet, sizeof packet, 1, module, index, record, 8, 1);
    Outbox out;
    model.HandlePacket(packet, sizeof packet, 0, out);
}

TEST(SignalModelTest, SamplesFollowTheDocumentedTriangleAndNoise) {
    // key 0: half period 75, x = t mod 150.
    EXPECT_EQ(ContinuousSample(1, 0, 0), -800 + int(Mix(1, 0, 0) % 33) - 16);
    EXPECT_EQ(ContinuousSample(1, 0, 75), 800 + int(Mix(1, 0, 75) % 33) - 16);
    EXPECT_EQ(ContinuousSample(1, 0, 30), -800 + 2 * 800 * 30 / 75 + int(Mix(1, 0, 30) % 33) - 16);
    // key 100 (electrode 100, raw): half 75 + 7 × 3 = 96, offset 131 × 100 mod 192 = 44.
    EXPECT_EQ(ContinuousSample(7, 100, 0),
              -800 + 2 * 800 * 44 / 96 + int(Mix(7, 100, 0) % 33) - 16);
    EXPECT_NE(ContinuousSample(1, 5, 1000), ContinuousSample(2, 5, 1000)) << "seed matters";
    EXPECT_FLOAT_EQ(FloatSample(3, 9, 99), ContinuousSample(3, 9, 99) * 0.25f);
    EXPECT_EQ(ChannelKey(37, StreamOrdinal("lfp")), 37u + 2 * 16384u);
    EXPECT_EQ(StreamOrdinal("spk"), -1);
}

TEST(DataGeneratorTest, ContinuousStreamsAtTheirRatesWithExactSamples) {
    ModelConfig config = ModelConfig::Default(2);
    config.frontEnds[1].hiRes = true;
    config.analog1k = true;
    ProcessorModel model(config);
    DataConfig data;
    data.seed = 11;
    data.spikeRate = 0;
    data.digitalRate = 0;
    DataGenerator generator(model, data);
    auto packets = Generate(generator, 0, 3000); // 100 ms

    std::map<std::pair<int, int>, std::vector<std::uint32_t>> times;
    auto at = [&](int m, int s) -> std::vector<std::uint32_t>& {
        return times[std::make_pair(m, s)];
    };
    for (const auto& p : packets) {
        at(Head(p).moduleId, Head(p).streamId).push_back(Head(p).timestamp);
        const auto& data = *reinterpret_cast<const KestDataPacket*>(p.data());
        EXPECT_EQ(data.dataKind, kKestContinuousData);
        EXPECT_EQ(Head(p).procId, 1);
        int frontEnd = Head(p).moduleId < 33 ? (Head(p).moduleId - 1) / 2 : -1;
        const ModuleModel* module = model.Find(Head(p).moduleId);
        const StreamInfo* stream = module->StreamById(Head(p).streamId);
        ASSERT_NE(stream, nullptr);
        std::uint32_t base = frontEnd >= 0 ? 32u * unsigned(frontEnd) : 10240u;
        int ordinal = StreamOrdinal(stream->name);
        for (unsigned c = 0; c < stream->channels; c += 7) {
            std::uint32_t key = ChannelKey(base + c, ordinal);
            if (stream->dataKind == kKestFloatData) {
                float value;
                std::memcpy(&value, &p[12 + 4 * c], 4);
                ASSERT_FLOAT_EQ(value, FloatSample(11, key, Head(p).timestamp));
            } else {
                std::int16_t value;
                std::memcpy(&value, &p[12 + 2 * c], 2);
                ASSERT_EQ(value, ContinuousSample(11, key, Head(p).timestamp))
                    << stream->name << " channel " << c;
            }
        }
    }
    // raw of both front ends every tick, lfp every 30, hi-res (front end 1) every 15,
    // analog 1 kS/s every 30; nothing else is on.
    ASSERT_EQ(times.size(), 6u);
    EXPECT_EQ(at(1, 1).size(), 3000u);
    EXPECT_EQ(at(3, 1).size(), 3000u);
    EXPECT_EQ(at(2, 1).size(), 100u);
    EXPECT_EQ(at(4, 2).size(), 200u);
    EXPECT_EQ(at(33, 2).size(), 100u);
    for (std::uint32_t i = 0; i < 100; ++i) {
        ASSERT_EQ(at(2, 1)[i], 30 * i);
        ASSERT_EQ(at(4, 2)[2 * i + 1], 30 * i + 15);
    }
    EXPECT_EQ(packets.front().size(), 76u) << "raw: 12 + 32 × 2 bytes";
}

TEST(DataGeneratorTest, ChunkedGenerationEqualsOneRun) {
    ProcessorModel model(ModelConfig::Default(1));
    DataConfig data;
    data.spikeRate = 50;
    data.digitalRate = 20;
    DataGenerator whole(model, data), parts(model, data);
    auto all = Generate(whole, 0, 9000);
    auto first = Generate(parts, 0, 4000);
    auto second = Generate(parts, 4000, 9000);
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(all, first);
}

TEST(DataGeneratorTest, SpikesFollowTheirTrainsWithUnitsAndWaveforms) {
    ModelConfig config = ModelConfig::Default(1);
    config.frontEnds[0].raw = false;
    config.frontEnds[0].lfp = false;
    config.analog1k = false;
    ProcessorModel model(config);
    DataConfig data;
    data.seed = 5;
    data.spikeRate = 20;
    data.digitalRate = 0;
    DataGenerator generator(model, data);
    auto packets = Generate(generator, 0, 30000);
    const StreamInfo* spk = model.Find(2)->Stream("spk");
    std::map<int, std::vector<const std::vector<std::uint8_t>*>> byStream;
    for (const auto& p : packets) {
        ASSERT_EQ(p.size(), 120u);
        ASSERT_EQ(Head(p).moduleId, 2);
        byStream[Head(p).streamId].push_back(&p);
    }
    ASSERT_EQ(byStream.size(), 32u);
    for (unsigned c = 0; c < 32; ++c) {
        SpikeTrain train(5, c, 20);
        const auto& list = byStream[spk->id + int(c)];
        EXPECT_GT(list.size(), 10u);
        EXPECT_LT(list.size(), 30u);
        for (std::size_t k = 0; k < list.size(); ++k) {
            const auto& seg = *reinterpret_cast<const KestSegmentDataPacketFixed*>(list[k]->data());
            ASSERT_EQ(seg.header.timestamp, train.Time()) << "channel " << c << " spike " << k;
            EXPECT_EQ(seg.sequence, k);
            EXPECT_EQ(seg.unit, train.Unit());
            std::int16_t waveform[kKestSegmentWaveformSamples];
            SpikeWaveform(seg.unit, waveform);
            EXPECT_EQ(0, std::memcmp(seg.waveform, waveform, sizeof waveform));
            train.Next();
        }
        EXPECT_GE(train.Time(), 30000u) << "no spike left out";
    }
}

TEST(DataGeneratorTest, DigitalEventsScheduledAndInjected) {
    ModelConfig config = ModelConfig::Default(1);
    config.frontEnds[0].raw = false;
    config.frontEnds[0].lfp = false;
    config.frontEnds[0].spk = false;
    config.analog1k = false;
    ProcessorModel model(config);
    DataConfig data;
    data.seed = 9;
    data.digitalRate = 5;
    DataGenerator generator(model, data);
    generator.InjectDigital(0xABCD);
    auto packets = Generate(generator, 0, 30001);
    ASSERT_EQ(packets.size(), 6u);
    const auto* injected = reinterpret_cast<const KestDigitalEventPacket*>(packets[0].data());
    EXPECT_EQ(injected->header.size, 7);
    EXPECT_EQ(injected->header.moduleId, 34);
    EXPECT_EQ(injected->header.streamId, 1);
    EXPECT_EQ(injected->header.timestamp, 0u);
    EXPECT_EQ(injected->parallel, 0xABCD);
    for (std::uint32_t k = 0; k < 5; ++k) {
        const auto* e = reinterpret_cast<const KestDigitalEventPacket*>(packets[k + 1].data());
        DigitalEvent expected = DigitalEventAt(9, 5, k);
        EXPECT_EQ(e->header.timestamp, 6000 * (k + 1));
        EXPECT_EQ(e->parallel, expected.parallel);
        EXPECT_EQ(e->sma[2], (k >> 2) & 1);
        EXPECT_EQ(e->sequence, k + 1);
        EXPECT_EQ(e->reason, 1);
    }
}

TEST(DataGeneratorTest, EnableSwitchesAndFaultKnobs) {
    ModelConfig config = ModelConfig::Default(1);
    config.frontEnds[0].lfp = false;
    config.analog1k = false;
    ProcessorModel model(config);
    const StreamInfo* raw = model.Find(1)->Stream("raw");
    SetBool(model, 1, std::uint16_t(raw->enableFirst + 3), false);
    DataConfig data;
    data.spikeRate = 100;
    data.digitalRate = 0;
    data.flagEvery = 10;
    data.sequenceGapEvery = 4;
    data.sequenceGapSize = 3;
    DataGenerator generator(model, data);
    auto packets = Generate(generator, 0, 3000);
    unsigned flagged = 0;
    std::map<int, std::vector<std::uint16_t>> sequences;
    for (const auto& p : packets) {
        const auto& head = *reinterpret_cast<const KestDataPacket*>(p.data());
        if (head.dataKind == kKestContinuousData) {
            std::int16_t channel3;
            std::memcpy(&channel3, &p[12 + 6], 2);
            EXPECT_EQ(channel3, 0) << "a switched-off channel sends zeros";
            flagged += head.flagsOrSeq == kKestStreamUnavailableFlags;
        } else {
            sequences[head.header.streamId].push_back(head.flagsOrSeq);
        }
    }
    EXPECT_EQ(flagged, 300u);
    EXPECT_EQ(generator.Counters().flagged, 300u);
    unsigned gaps = 0, events = 0;
    for (const auto& [stream, list] : sequences) {
        events += unsigned(list.size());
        for (std::size_t i = 1; i < list.size(); ++i) {
            EXPECT_GE(list[i], list[i - 1] + 1);
            gaps += list[i] != list[i - 1] + 1;
        }
    }
    EXPECT_GT(gaps, events / 8) << "about one packet in four opens a gap";

    // Every raw channel off: the stream is silent.
    for (unsigned c = 0; c < raw->channels; ++c) {
        SetBool(model, 1, std::uint16_t(raw->enableFirst + c), false);
    }
    generator.Config().spikeRate = 0;
    EXPECT_TRUE(Generate(generator, 3000, 4000).empty());
}

} // namespace
