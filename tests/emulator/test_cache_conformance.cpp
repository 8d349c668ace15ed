// The emulator against the system's own device cache: after the start-up requests the
// cache is complete and every lookup the library makes finds what it needs; data packets
// land in the cache's rings with the documented values.
#include "cache/KestCache.h"
#include "emulator/model/ModelFactory.h"
#include "emulator/model/ProcessorModel.h"
#include "emulator/signal/DataGenerator.h"
#include "protocol/KestPacketBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace paxsim;

namespace {

void Feed(KestCache& cache, const Outbox& out) {
    const std::vector<std::uint8_t>& bytes = out.Bytes();
    std::size_t at = 0;
    while (at < bytes.size()) {
        // Packets are handed over on 4-byte boundaries, as a receive buffer holds them.
        std::size_t size = std::size_t(bytes[at]) * 4;
        std::vector<std::uint32_t> aligned(size / 4);
        std::memcpy(aligned.data(), &bytes[at], size);
        cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(aligned.data()));
        at += size;
    }
}

void Ask(ProcessorModel& model, KestCache& cache, std::uint8_t target, std::uint8_t module,
         std::uint16_t index) {
    std::uint8_t request[12];
    KestBuildRequest(request, sizeof request, target, module, index);
    Outbox out;
    model.HandlePacket(request, sizeof request, 30000, out);
    Feed(cache, out);
}

// The library's start-up: everything, all module descriptors, module 0's blocks and its
// processor descriptor, then every incomplete module's properties.
void StartUp(ProcessorModel& model, KestCache& cache) {
    Ask(model, cache, 255, 0, 0);
    Ask(model, cache, 1, 255, 0);
    const KestModuleDesc* desc = cache.GetPAXModuleDesc();
    ASSERT_NE(desc, nullptr);
    for (std::uint16_t i = 1; i <= desc->blockCount; ++i) {
        Ask(model, cache, 1, 0, i);
    }
    for (std::uint16_t i = 1; i <= desc->blockCount; ++i) {
        auto* block = reinterpret_cast<KestBlockDesc*>(cache.GetKestProperty(0, i));
        if (block && block->kind == kKestProcessorBlock) {
            Ask(model, cache, 1, 0, block->first);
        }
    }
    ASSERT_TRUE(cache.HaveModules());
    for (unsigned module : cache.GetBadModules()) {
        Ask(model, cache, 1, std::uint8_t(module), kKestAllPropsIndex);
    }
}

class CacheConformance : public ::testing::Test {
  protected:
    void SetUp() override { StartUp(model, cache); }
    ProcessorModel model{ModelConfig::Default(4)};
    KestCache cache;
};

TEST_F(CacheConformance, StartUpCompletesTheCache) {
    EXPECT_TRUE(cache.HaveProperties());
    EXPECT_EQ(cache.GetStatus(), 0);
    EXPECT_TRUE(cache.GetBadModules().empty());
    EXPECT_EQ(cache.GetModuleList().size(), 11u);
    std::vector<unsigned> electrodes(600);
    unsigned count = cache.GetElecList(electrodes.data(), 600, "");
    EXPECT_EQ(count, 4 * 32 + 16u) << "four front ends and the analog inputs";
    EXPECT_TRUE(cache.HaveElectrode(127));
    EXPECT_TRUE(cache.HaveElectrode(10240 + 15));
    EXPECT_FALSE(cache.HaveElectrode(128));
    EXPECT_EQ(cache.GetHWModule(37), 3);
    auto stim = cache.GetStimAddr();
    ASSERT_EQ(stim.size(), 32u) << "one stimulating front end";
    EXPECT_EQ(stim.begin()->second.first, 1u);
    EXPECT_EQ(cache.GetElecList(electrodes.data(), 600, "stim"), 32u);
    ASSERT_NE(cache.GetProcDesc(), nullptr);
    EXPECT_EQ(cache.GetProcDesc()->moduleCount, 10);
}

TEST_F(CacheConformance, FrontEndQueriesFindTheirProperties) {
    int module = -1, index = -1;
    EXPECT_NE(cache.GetStimModuleEnable(5, &module, &index), nullptr);
    EXPECT_EQ(module, 1);
    EXPECT_NE(cache.GetModuleStimTriggerEnable(5, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetStimScaleFloat(5, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetStimTriggerSourceComboBox(5, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetStimTriggerTypeComboBox(5, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetStimEventTriggerMap(5, nullptr, nullptr), nullptr);
    char items[16][128];
    KestComboBox* settle = cache.GetFastSettleStimComboBox(5, nullptr, nullptr, items);
    ASSERT_NE(settle, nullptr);
    EXPECT_STREQ(items[1], "On");
    EXPECT_NE(cache.GetFastSettleSourceComboBox(40, nullptr, nullptr, items), nullptr);
    EXPECT_EQ(cache.GetFastSettleSourceComboBox(70, nullptr, nullptr, items), nullptr)
        << "the EMG front end has no fast settle";
    EXPECT_NE(cache.GetFastSettleStimDurFloat(5, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetFastSettleDurFloat(5, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetADC2PhysComboBox(100, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetHwLowCornerComboBox(100, nullptr, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetHwGroundEnable(100, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetHwReferenceEnable(100, nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetStimResComboBox(5, nullptr, nullptr), nullptr);
    EXPECT_EQ(cache.GetStimResComboBox(40, nullptr, nullptr), nullptr);

    float values[32];
    ASSERT_EQ(cache.GetStimResOptions(5, values), 5);
    EXPECT_FLOAT_EQ(values[3], 10.0f);
    ASSERT_EQ(cache.GetExhaustOptions(5, values), 4);
    EXPECT_FLOAT_EQ(values[0], 0.0f) << "the off position reads 0";
    EXPECT_FLOAT_EQ(values[2], 10000.0f);

    KestFEVersion version = cache.GetFEVersion(5);
    EXPECT_EQ(version.name, "SF3217-0042");
    EXPECT_EQ(version.major, 2);
    EXPECT_EQ(version.minor, 1);
    EXPECT_EQ(version.build, 42);
    EXPECT_TRUE(cache.HasStimCalib(5));
    EXPECT_TRUE(cache.HasMaxStimLimit(5));
    EXPECT_FALSE(cache.HasStimCalib(40));
    unsigned short table[640];
    EXPECT_LE(cache.GetStimCalibData(5, table, &module, &index), 3u) << "not yet calibrated";

    // Filters and thresholds live in the processing module.
    EXPECT_NE(cache.GetFilterComboBox(37, "hi-res", &module, &index), nullptr);
    EXPECT_EQ(module, 4);
    KestSosFilterDesc* sos = cache.GetSosFilterDesc(37, "LFP Filter", 1, &module, &index);
    ASSERT_NE(sos, nullptr);
    EXPECT_FLOAT_EQ(sos->highCutoff, 250.0f);
    char names[16][128];
    EXPECT_EQ(cache.GetFilterStrings(names, 16, 37), 5);
    auto thresholds = cache.GetSpikeThreshValues(37, &module, &index);
    EXPECT_FLOAT_EQ(thresholds.first, -200.0f);
    EXPECT_EQ(module, 4);

    // Streams: raw in the hardware module, lfp and spk in the processing module.
    int stream = -1;
    ASSERT_NE(cache.GetOutputStreamDesc(37, "raw", &module, &stream), nullptr);
    EXPECT_EQ(module, 3);
    ASSERT_NE(cache.GetOutputStreamDesc(37, "lfp", &module, &stream), nullptr);
    EXPECT_EQ(module, 4);
    int count = 0;
    EXPECT_EQ(cache.GetSignalEnableProp(37, "raw", &module, &index, &count), 1);
    EXPECT_EQ(count, 32);
    EXPECT_EQ(cache.GetSignalEnableProp(38, "spk", &module, &index, &count), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(cache.GetSignalEnableProp(38, "hi-res", &module, &index, &count), 0);
    EXPECT_GT(cache.GetSpikeConv(38), 0.0f);
    EXPECT_GT(cache.GetStimConv(3), 0.0f);
    EXPECT_GE(cache.GetStreamStrings(names, 16, 37), 8);
    EXPECT_EQ(cache.GetOutputStrings(names, 34), 4);
    EXPECT_STREQ(names[0], "SMA Out 1");
}

TEST_F(CacheConformance, ProcessorAndDigitalQueries) {
    int module = -1, index = -1;
    ASSERT_NE(cache.GetGlobalStimEnable(&module, &index), nullptr);
    EXPECT_EQ(module, 0);
    EXPECT_NE(cache.GetGlobalStimTriggerEnable(nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetAudioTone(nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetStimLatency(nullptr, nullptr), nullptr);
    EXPECT_NE(cache.GetWallSensor(), nullptr);
    EXPECT_NE(cache.GetVddSensor(), nullptr);
    EXPECT_EQ(cache.GetInternalBatteryPct(), 87);
    EXPECT_EQ(cache.GetExternalBatteryPct(), 64);
    EXPECT_TRUE(cache.GetExternalBatteryDetected());
    EXPECT_NE(cache.GetDigitalCaptureBitChange(&module, &index), nullptr);
    EXPECT_EQ(module, 34);
    EXPECT_EQ(cache.GetDigIOSignalProp(nullptr, nullptr), 1);
    EXPECT_GT(cache.GetTrialDescriptorPropID(0x0100007F), 0) << "processor 1's own descriptor";
    unsigned selection = 0;
    EXPECT_NE(cache.GetFileSaveSelectionProp(100, &selection), nullptr);
}

TEST_F(CacheConformance, ButtonPressesAndErrorsReachTheCache) {
    Outbox out;
    model.PressButton("f1", 31000, out);
    model.PressButton("f1", 31001, out);
    ProcessorModel::AppendErrorMessage(6, 17, "front end 2 lost", 31002, out);
    Feed(cache, out);
    EXPECT_EQ(cache.GetButtonCount(3), 2);
    EXPECT_EQ(cache.GetErrorBuffer().Size(), 1u);
}

TEST_F(CacheConformance, DataLandsInTheRingsWithTheDocumentedValues) {
    DataConfig data;
    data.seed = 21;
    DataGenerator generator(model, data);
    generator.Restart(30000);
    Outbox out;
    generator.Generate(30000, 33000, out); // 100 ms
    Feed(cache, out);
    EXPECT_EQ(cache.GetStatus(), 0) << "no unknown module or stream";
    EXPECT_EQ(cache.GetPAXTime(), 32999u);
    std::vector<float> samples(300);
    std::uint32_t start = 0;
    ASSERT_EQ(cache.GetContData(&start, samples.data(), 300, 37, 3, 1, 0, false), 300);
    EXPECT_EQ(start, 32700u);
    for (std::uint32_t i = 0; i < 300; ++i) {
        ASSERT_FLOAT_EQ(samples[i], float(ContinuousSample(21, ChannelKey(37, 0), start + i)));
    }
}

TEST_F(CacheConformance, StimulationSequenceComesBackAsStimSegments) {
    // Enable stimulation, then load a sequence for electrode 7 the way the configuration
    // sender lays it out: size n + 7, word counts at bytes 16 and 18, words from byte 28.
    int module = -1, index = -1;
    ASSERT_NE(cache.GetGlobalStimEnable(&module, &index), nullptr);
    std::uint8_t enable[8] = {1, kKestBoolType, 0, 0, 1, 0, 0, 0};
    std::uint8_t set[20];
    KestBuildConfigPacket(set, sizeof set, 1, 0, std::uint16_t(index), enable, 8, 1);
    Outbox out;
    model.HandlePacket(set, sizeof set, 40000, out);
    Feed(cache, out);
    auto address = cache.GetStimAddr().at(7);
    const std::uint32_t words[] = {(2u << 28) | (600u << 12) | 2, (3u << 16) | 0x2000 | 4};
    std::vector<std::uint8_t> packet(28 + 4 * 2, 0);
    packet[0] = std::uint8_t(packet.size() / 4);
    packet[8] = 1;
    packet[9] = std::uint8_t(address.first);
    kest::StoreLe(&packet[10], std::uint16_t(address.second));
    kest::StoreLe<std::uint16_t>(&packet[16], 4);
    kest::StoreLe<std::uint16_t>(&packet[18], 4);
    std::memcpy(&packet[28], words, sizeof words);
    out.Clear();
    model.HandlePacket(packet.data(), packet.size(), 40000, out);
    model.Poll(41000, out);
    Feed(cache, out);
    std::vector<KestSegmentBlock> blocks = cache.GetStimDataByElec({7});
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_EQ(blocks[0].records.size(), 2u) << "two cycles";
    EXPECT_EQ(blocks[0].records[1].header.timestamp, 40600u);
    EXPECT_EQ(blocks[0].records[0].waveform[2], -4);
    EXPECT_EQ(blocks[0].records[0].waveform[3], 0);
}

TEST_F(CacheConformance, UnannouncedModuleMeansConfigurationChanged) {
    DataGenerator generator(model, DataConfig{});
    generator.Restart(30000);
    Outbox out;
    generator.Generate(30000, 30030, out);
    Feed(cache, out);
    ASSERT_EQ(cache.GetStatus(), 0);
    EXPECT_EQ(model.AddFrontEnd(FrontEndKind::Recording), 9);
    out.Clear();
    generator.Generate(30030, 30060, out);
    Feed(cache, out);
    EXPECT_EQ(cache.GetStatus(), 4);
}

} // namespace
