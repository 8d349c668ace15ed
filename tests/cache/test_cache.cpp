// KestCache fed with realistic packet sequences from the test model.
#include "TestModel.h"

#include "cache/ErrorBuffer.h"
#include "cache/ErrorMessage.h"
#include "cache/KestCache.h"
#include "include/kestlib.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using namespace testmodel;

namespace {

void Feed(KestCache& cache, const Bytes& packet, std::uint32_t source = kKestNoSource) {
    cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()), source);
}

void FeedAll(KestCache& cache, const std::vector<Bytes>& packets) {
    for (const Bytes& packet : packets) {
        Feed(cache, packet);
    }
}

// Electrode e of front end k (0-based ids): port k/4, slot k%4.
unsigned Electrode(unsigned frontEnd, unsigned channel) {
    return KestCache::GetElectrodeID(frontEnd / 4, frontEnd % 4, channel);
}

std::vector<std::int16_t> Row(std::int16_t base, unsigned channels = 32) {
    std::vector<std::int16_t> row(channels);
    for (unsigned c = 0; c < channels; ++c) {
        row[c] = std::int16_t(base + c);
    }
    return row;
}

class CacheTest : public ::testing::Test {
  protected:
    void Describe() { FeedAll(cache, model.DescribePackets()); }
    Processor model{2};
    KestCache cache;
};

TEST_F(CacheTest, StatusFollowsTheStartUp) {
    EXPECT_EQ(cache.GetStatus(), kCacheNoProcessor) << "nothing yet";
    Feed(cache, ConfigPacket(0, 0, model.Find(0).Records()[0], 0));
    EXPECT_EQ(cache.GetStatus(), kCacheNoProcessor)
        << "a module-0 packet stamped 0 gives no processor time";

    auto packets = model.DescribePackets();
    // Module descriptors only: the processor descriptor has not said how many to expect.
    const std::size_t moduleCount = model.modules.size();
    for (std::size_t i = 0; i < moduleCount; ++i) {
        Feed(cache, packets[i]);
    }
    EXPECT_EQ(cache.GetStatus(), kCacheModulesMissing);
    EXPECT_FALSE(cache.HaveModules());
    EXPECT_THAT(cache.GetBadModules(), ::testing::Contains(34u));

    for (std::size_t i = moduleCount; i + 1 < packets.size(); ++i) {
        Feed(cache, packets[i]);
    }
    EXPECT_TRUE(cache.HaveModules());
    EXPECT_EQ(cache.GetStatus(), kCachePropertiesMissing) << "one property still missing";
    EXPECT_EQ(cache.GetMissingPropIds(34).size(), 1u);
    EXPECT_FALSE(cache.IsInit());

    Feed(cache, packets.back());
    EXPECT_TRUE(cache.IsInit());
    EXPECT_EQ(cache.GetStatus(), kCacheReady);
    EXPECT_TRUE(cache.GetBadModules().empty());
}

TEST_F(CacheTest, ProcessorDescriptorCountsModulesBesidesItself) {
    Processor small(1);
    auto packets = small.DescribePackets();
    FeedAll(cache, packets);
    ASSERT_TRUE(cache.IsInit());
    EXPECT_EQ(cache.GetModuleList(), (std::vector<unsigned>{0, 1, 2, 33, 34}));

    // A processor descriptor announcing one module less keeps the cache from completing.
    KestCache other;
    Module& proc = small.Find(0);
    auto records = proc.Records();
    Bytes desc = records[2];
    reinterpret_cast<KestProcessorDesc*>(desc.data())->moduleCount = 3;
    for (Bytes packet : packets) {
        auto* config = reinterpret_cast<KestConfigPacket*>(packet.data());
        if (config->moduleId == 0 && config->propIndex == 2) {
            packet = ConfigPacket(0, 2, desc);
        }
        Feed(other, packet);
    }
    EXPECT_FALSE(other.HaveModules()) << "five modules registered, four expected";
    EXPECT_FALSE(other.IsInit());
}

TEST_F(CacheTest, ElectrodeMapCoversFrontEndsAndAnalogInputs) {
    Processor four(5); // the fifth front end sits on port 1, slot 0
    FeedAll(cache, four.DescribePackets());
    ASSERT_TRUE(cache.IsInit());
    EXPECT_EQ(cache.GetHWModule(0), 1);
    EXPECT_EQ(cache.GetHWModule(Electrode(1, 31)), 3);
    EXPECT_EQ(cache.GetHWModule(128 + 5), 9) << "port 1 starts at 128";
    EXPECT_EQ(cache.GetHWModule(10240), 33);
    EXPECT_EQ(cache.GetHWModule(10241), 33);
    EXPECT_EQ(cache.GetHWModule(10242), -1) << "analog outputs are not electrodes";
    EXPECT_EQ(cache.GetHWModule(128 + 32), -1) << "no front end at slot 1 of port 1";

    std::vector<unsigned> list(400);
    unsigned count = cache.GetElecList(list.data(), unsigned(list.size()), "");
    EXPECT_EQ(count, 5 * 32 + 2);
    EXPECT_EQ(list[32], 32u);
    EXPECT_EQ(list[count - 1], 10241u);
    EXPECT_EQ(cache.GetElecList(list.data(), 10, ""), 10u);
    EXPECT_EQ(cache.GetElecList(list.data(), unsigned(list.size()), "stim"), 32u);
    EXPECT_EQ(cache.GetElecList(list.data(), unsigned(list.size()), "analog"), 2u);
}

TEST_F(CacheTest, PureAddressHelpers) {
    EXPECT_EQ(KestCache::GetElectrodeID(1, 2, 3), 195u);
    std::uint32_t guid = KestCache::GetGUID(1, 2, 3);
    EXPECT_EQ(guid, 0x01020300u);
    unsigned p, m, i;
    KestCache::GetAddrByGUID(guid, &p, &m, &i);
    EXPECT_EQ(p + m + i, 6u);
}

TEST_F(CacheTest, DataBeforeInitialisationChangesNothing) {
    auto packets = model.DescribePackets();
    packets.pop_back();
    FeedAll(cache, packets);
    Feed(cache, ContPacket(1, 1, 5000, Row(1)));
    Feed(cache, ContPacket(9, 1, 5000, Row(1)));
    EXPECT_EQ(cache.GetStatus(), kCachePropertiesMissing) << "the intact flag is untouched";
}

TEST_F(CacheTest, UnknownStreamsAndModulesMarkTheConfigurationChanged) {
    Describe();
    Feed(cache, ContPacket(1, 1, 5000, Row(1), 0x04));
    EXPECT_EQ(cache.GetStatus(), kCacheReady) << "a flagged packet is only dropped";
    Feed(cache, ContPacket(1, 60, 5000, Row(1)));
    EXPECT_EQ(cache.GetStatus(), kCacheConfigChanged);
    Feed(cache, ContPacket(1, 1, 5001, Row(1)));
    EXPECT_EQ(cache.GetStatus(), kCacheConfigChanged) << "for good";
}

// A new module once made the cache wait, for good, for a module count that never came: every
// call reported no connection and the configuration change was never reported.
TEST_F(CacheTest, NewModuleMarksTheConfigurationChanged) {
    Describe();
    const std::size_t modules = cache.GetModuleList().size();
    testing::internal::CaptureStdout();
    Module extra(40, 1, "late front end");
    Feed(cache, ConfigPacket(40, 0, extra.Records()[0]));
    Feed(cache, ConfigPacket(41, 0, extra.Records()[0]));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: new module? 40\n") << "said once";
    EXPECT_TRUE(cache.IsInit());
    EXPECT_EQ(cache.GetStatus(), kCacheConfigChanged);
    EXPECT_EQ(cache.GetModuleList().size(), modules) << "nothing of the new module is stored";
}

TEST_F(CacheTest, TimeComesFromTheNewestSixteenBitSample) {
    Describe();
    EXPECT_EQ(cache.GetPAXTime(), 1000u) << "module-0 packets until samples arrive";
    Feed(cache, ContPacket(1, 1, 7000, Row(1)));
    Feed(cache, ContPacket(3, 1, 6000, Row(1)));
    EXPECT_EQ(cache.GetPAXTime(), 7000u);
    Feed(cache, ContPacket(3, 1, 0xF0000000u, Row(1)));
    EXPECT_EQ(cache.GetPAXTime(), 7000u) << "a time behind by signed difference is dropped";
    Feed(cache, ContPacket(3, 1, 0x70000000u, Row(1)));
    EXPECT_EQ(cache.GetPAXTime(), 0x70000000u);
}

// A newest sample past 2^31 ticks (about 20 hours) once lost the comparison against the
// starting value 0, and the processor time fell back to the last module-0 packet.
TEST_F(CacheTest, TimePastTwoToTheThirtyOneTicks) {
    Describe();
    Feed(cache, ContPacket(3, 1, 0x90000000u, Row(1)));
    EXPECT_EQ(cache.GetPAXTime(), 0x90000000u);
}

// A continuous stream described with sample period 0 has no ring: its packets are
// dropped, and the configuration is not reported as changed.
TEST(CacheStreams, PeriodZeroStreamIsDroppedQuietly) {
    Processor model(1);
    auto packets = model.DescribePackets();
    for (Bytes& packet : packets) {
        auto* config = reinterpret_cast<KestConfigPacket*>(packet.data());
        if (config->header.moduleId == kKestDigitalModule &&
            config->RecordType() == kKestOutputStreamDescType) {
            auto* desc = reinterpret_cast<KestOutputStreamDesc*>(config->Record());
            desc->dataKind = kKestContinuousData;
            desc->period = 0;
        }
    }
    KestCache cache;
    FeedAll(cache, packets);
    ASSERT_TRUE(cache.IsInit());
    Feed(cache, ContPacket(kKestDigitalModule, 1, 5000, Row(1, 1)));
    EXPECT_EQ(cache.GetStatus(), kCacheReady);
    EXPECT_EQ(cache.GetMalformedCount(), 0u);
}

TEST_F(CacheTest, ContinuousReadsAreAlignedWithinAFrontEnd) {
    Describe();
    for (std::uint32_t t = 5000; t < 5100; ++t) {
        Feed(cache, ContPacket(1, 1, t, Row(std::int16_t(t - 5000))));
        if (t < 5090) {
            Feed(cache, ContPacket(3, 1, t, Row(std::int16_t(1000 + t - 5000))));
        }
    }
    const std::uint32_t electrodes[3] = {2, 37, 33};
    std::vector<float> dest(3 * 10, -1.0f);
    std::uint32_t start = 0;
    ASSERT_EQ(cache.GetContDataRaw(&start, dest.data(), 10, electrodes, 3, 0), 10);
    // Electrode 2: newest ten samples of front end 0, scaled by 0.25 µV a count.
    EXPECT_EQ(dest[0], 0.25f * (90 + 2));
    EXPECT_EQ(dest[9], 0.25f * (99 + 2));
    // Electrode 37 (front end 1, channel 5) is read from its own newest sample ...
    EXPECT_EQ(dest[10], 0.25f * (1000 + 80 + 5));
    // ... and electrode 33 of the same front end from exactly the same time.
    EXPECT_EQ(dest[20], 0.25f * (1000 + 80 + 1));
    EXPECT_EQ(start, 5080u);

    std::vector<float> none(4, 7.0f);
    EXPECT_EQ(cache.GetContDataRaw(&start, none.data(), 4, electrodes, 0, 0), 0);
    EXPECT_EQ(none[0], 7.0f);
}

TEST_F(CacheTest, ContinuousReadsFromATime) {
    Describe();
    for (std::uint32_t t = 5000; t < 5100; ++t) {
        Feed(cache, ContPacket(1, 1, t, Row(std::int16_t(t - 5000))));
    }
    const std::uint32_t electrode = 4;
    std::vector<float> dest(5);
    std::uint32_t start = 0;
    EXPECT_EQ(cache.GetContDataRaw(&start, dest.data(), 5, &electrode, 1, 5095), 5);
    EXPECT_EQ(start, 5095u);
    EXPECT_EQ(dest[0], 0.25f * (95 + 4));

    testing::internal::CaptureStderr();
    EXPECT_EQ(cache.GetContDataRaw(&start, dest.data(), 5, &electrode, 1, 5200), 0);
    EXPECT_EQ(cache.GetContDataRaw(&start, dest.data(), 5, &electrode, 1, 5099 - 153600), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "warning: invalid timestamp\nwarning: invalid timestamp\n");
}

TEST_F(CacheTest, StreamKindsPickTheirModules) {
    Describe();
    for (std::uint32_t t = 30; t <= 300; t += 30) {
        Feed(cache, ContPacket(2, 1, t, Row(std::int16_t(t))));     // lfp
        Feed(cache, ContPacket(33, 2, t, Row(std::int16_t(t), 4))); // 1ksps
    }
    for (std::uint32_t t = 15; t <= 300; t += 15) {
        Feed(cache, FloatPacket(2, 2, t, std::vector<float>(32, float(t) + 0.5f))); // hi-res
    }
    const std::uint32_t lfpElectrodes[2] = {3, 10241};
    std::vector<float> dest(2 * 3);
    std::uint32_t start = 0;
    ASSERT_EQ(cache.GetContDataLFP(&start, dest.data(), 3, lfpElectrodes, 2, 0), 3);
    EXPECT_EQ(dest[2], 0.5f * (300 + 3));
    EXPECT_FLOAT_EQ(dest[5], 0.1f * (300 + 1));

    std::uint32_t electrode = 7;
    ASSERT_EQ(cache.GetContDataFloat(&start, dest.data(), 2, &electrode, 1, 0), 2);
    EXPECT_EQ(dest[1], 300.5f);
    EXPECT_EQ(start, 285u);

    EXPECT_EQ(cache.GetContDataEMG(&start, dest.data(), 2, &electrode, 1, 0), -1)
        << "no emg stream: the lookup's result";
    electrode = 200;
    EXPECT_EQ(cache.GetContDataRaw(&start, dest.data(), 2, &electrode, 1, 0), -1);

    std::vector<float> all(32 * 2);
    EXPECT_EQ(cache.GetContDataByModule(&start, all.data(), 2, 2, "lfp", 0, false), 2);
    EXPECT_EQ(all[32 + 31], float(300 + 31));
}

TEST_F(CacheTest, StatusStreamUsesTheChannelFactor) {
    Describe();
    Feed(cache, ContPacket(1, 2, 30, Row(10, 4)));
    std::uint32_t electrode = 2;
    float value = 0;
    ASSERT_EQ(cache.GetContDataStatus(nullptr, &value, 1, &electrode, 1, 0), 1);
    EXPECT_EQ(value, 0.5f * 12) << "unscaled count times the channel's status factor";
    electrode = 9; // beyond the four status channels
    EXPECT_EQ(cache.GetContDataStatus(nullptr, &value, 1, &electrode, 1, 0), 0);
}

TEST_F(CacheTest, EventDrainsAndCounts) {
    Describe();
    // Spikes of electrode 40 (front end 1, channel 8) live in module 4, stream "spk" + 8.
    for (std::uint16_t seq = 1; seq <= 5; ++seq) {
        Feed(cache, SegmentPacket(4, 3 + 8, 100 * seq, seq == 5 ? 9 : seq, 2));
    }
    auto counts = cache.GetSpikeCountsByElec({40});
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts[0].second, 5u);
    EXPECT_EQ(counts[0].first, 4u) << "sequence 4 then 9: four packets missing";
    EXPECT_EQ(cache.GetSpikesByElec({40})[0].count, 0u) << "the count read cleared the ring";

    Feed(cache, SegmentPacket(4, 3 + 8, 1000, 10, 3));
    auto blocks = cache.GetSpikesByElec({40, 41});
    ASSERT_EQ(blocks.size(), 2u);
    ASSERT_EQ(blocks[0].records.size(), 1u);
    EXPECT_EQ(blocks[0].records[0].unit, 3);
    EXPECT_EQ(blocks[1].count, 0u);

    // Stimulation segments come from the hardware module itself.
    Feed(cache, SegmentPacket(1, 3 + 6, 500, 1, 1));
    KestSegmentDataPacketFixed segment[4];
    int sequences[4];
    EXPECT_EQ(cache.GetStimData(segment, sequences, 4, 6), 1);
    EXPECT_EQ(segment[0].header.timestamp, 500u);
    EXPECT_EQ(cache.GetSpikeData(segment, sequences, 4, 300), -1);

    EXPECT_THROW(cache.GetSpikesByElec({40, 300}), std::runtime_error);
    try {
        cache.GetStimCountsByElec({300});
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "GetSegmentCountByElecCould not find electrode");
    }

    Feed(cache, DigitalPacket(700, 1, 0xABCD));
    Feed(cache, DigitalPacket(701, 2, 0x1234));
    KestDigitalEventPacket events[1];
    EXPECT_EQ(cache.GetDigitalInput(events, nullptr, 1), 2) << "arrivals, not copies";
    EXPECT_EQ(events[0].parallel, 0x1234) << "the newest one";
    EXPECT_EQ(cache.GetDigitalInput(events, nullptr, 1), 0);
}

TEST_F(CacheTest, PropertyQueriesFollowTheElectrode) {
    Describe();
    int module = -1, index = -1;
    // Electrode 37: front end 1, hardware module 3, processing module 4, channel 5.
    auto thresholds = cache.GetSpikeThreshValues(37, &module, &index);
    EXPECT_EQ(module, 4);
    EXPECT_EQ(thresholds.first, -105.0f);
    EXPECT_EQ(thresholds.second, 105.0f);
    thresholds = cache.GetSpikeThreshValues(300, nullptr, nullptr);
    EXPECT_EQ(thresholds.first, -6554.0f);

    int stream = -1;
    auto* lfp = cache.GetOutputStreamDesc(37, "lfp", &module, &stream);
    ASSERT_NE(lfp, nullptr);
    EXPECT_EQ(module, 4) << "found only in the processing module";
    EXPECT_EQ(stream, 1);
    EXPECT_EQ(cache.GetOutputStreamDesc(10240, "lfp", &module, &stream), nullptr)
        << "no fallback from the analog module";

    int count = 0;
    EXPECT_EQ(cache.GetSignalEnableProp(38, "spk", &module, &index, &count), 1);
    EXPECT_EQ(module, 4);
    EXPECT_EQ(count, 1) << "per-channel spike stream of channel 6";

    auto* enable = cache.GetStimModuleEnable(5, &module, &index);
    ASSERT_NE(enable, nullptr);
    EXPECT_EQ(enable->value, 1);
    EXPECT_EQ(module, 1);
    module = 99;
    EXPECT_EQ(cache.GetStimModuleEnable(300, &module, &index), nullptr);
    EXPECT_EQ(module, 99) << "outputs untouched for an unknown electrode";

    EXPECT_NE(cache.GetGlobalStimEnable(&module, &index), nullptr);
    EXPECT_EQ(module, 0);
    EXPECT_EQ(cache.GetInternalBatteryPct(), 87);
    EXPECT_EQ(cache.GetExternalBatteryPct(), -1);
    EXPECT_FALSE(cache.GetExternalBatteryDetected());
    EXPECT_NE(cache.GetDigitalCaptureBitChange(&module, &index), nullptr);
    EXPECT_EQ(module, 34);

    float resolutions[8];
    EXPECT_EQ(cache.GetStimResOptions(3, resolutions), 3);
    EXPECT_EQ(resolutions[1], 2.5f);
    EXPECT_EQ(cache.GetStimResOptions(10240, resolutions), 0) << "the analog module offers none";

    char names[4][128];
    EXPECT_EQ(cache.GetStreamStrings(names, 4, 1), 4) << "cut to max";
    EXPECT_STREQ(names[0], "HW Status");
    EXPECT_EQ(cache.GetStreamStrings(names, 4, 300), -1);

    EXPECT_EQ(cache.GetSpikeConv(40), 0.25f);
    EXPECT_EQ(cache.GetStimConv(1), 0.5f);

    auto stimAddr = cache.GetStimAddr();
    EXPECT_EQ(stimAddr.size(), 32u) << "only the stimulating front end";
    EXPECT_EQ(stimAddr.at(31).first, 1u);
}

TEST_F(CacheTest, FrontEndVersionAndModelLists) {
    Describe();
    KestFEVersion version = cache.GetFEVersion(0);
    EXPECT_EQ(version.name, "SF3217-0042");
    EXPECT_EQ(version.major, 2);
    EXPECT_EQ(version.minor, 1);
    EXPECT_EQ(version.build, 42);
    EXPECT_TRUE(cache.HasStimCalib(0));
    EXPECT_TRUE(cache.HasMaxStimLimit(0));
    EXPECT_FALSE(cache.HasStimCalib(40));
    try {
        cache.GetFEVersion(300);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "GetFEVersionCould not find electrode");
    }
}

// A version text too short for its revision digits once escaped as an out-of-range
// error from a substring request; it now fails like any other lookup.
TEST(CacheVersion, ShortVersionTextFailsCleanly) {
    Processor model(1);
    KestCache cache;
    auto packets = model.DescribePackets();
    Bytes desc = model.Find(1).Records()[0];
    std::memcpy(reinterpret_cast<KestModuleDesc*>(desc.data())->hwVersion, "SF3217-00\0", 10);
    for (Bytes& packet : packets) {
        auto* config = reinterpret_cast<KestConfigPacket*>(packet.data());
        if (config->header.moduleId == 1 && config->propIndex == 0) {
            packet = ConfigPacket(1, 0, desc);
        }
    }
    FeedAll(cache, packets);
    ASSERT_TRUE(cache.IsInit());
    EXPECT_THROW(cache.GetFEVersion(0), std::runtime_error);
    EXPECT_FALSE(cache.HasStimCalib(0));
}

TEST_F(CacheTest, ErrorPacketsQueueAndReachCallbacks) {
    Describe();
    struct Seen {
        int calls = 0;
        std::string text;
    } seen;
    auto callback = [](void* user, const KestErrorMessage_t* message) {
        auto* s = static_cast<Seen*>(user);
        ++s->calls;
        s->text = message->text;
    };
    EXPECT_TRUE(cache.RegisterKestErrorCallback(callback, &seen));
    EXPECT_TRUE(cache.RegisterKestErrorCallback(callback, &seen));
    Feed(cache, ErrorPacket(7, 12, "overheating"));
    EXPECT_EQ(seen.calls, 1) << "registered once";
    EXPECT_EQ(seen.text, "overheating");
    Feed(cache, ErrorPacket(7, 12, "overheating"));
    EXPECT_EQ(cache.GetErrorBuffer().Size(), 1u) << "duplicates are queued once";
    cache.UnregisterKestErrorCallback(callback, &seen);
    Feed(cache, ErrorPacket(4, 13, "low battery"));
    EXPECT_EQ(seen.calls, 2);
    KestErrorMessage_t* newest = cache.GetErrorBuffer().Pop();
    ASSERT_NE(newest, nullptr);
    EXPECT_STREQ(newest->text, "low battery");
    FreeErrorMessage(newest);
}

TEST_F(CacheTest, OperatorAndProcessorDescriptors) {
    Describe();
    const std::uint32_t processor = 0x0100007F; // 127.0.0.1 in network order
    const std::uint32_t oper = 0x9600007F;      // 127.0.0.150
    EXPECT_FALSE(cache.CheckProcID(oper));
    EXPECT_EQ(cache.GetTrialDescriptorPropID(oper), 0x7FFF);
    EXPECT_EQ(cache.GetSignalSelectionDescriptorPropID(oper), 0x80A1);
    EXPECT_GT(cache.GetTrialDescriptorPropID(processor), 0);
    EXPECT_GT(cache.GetSignalSelectionDescriptorPropID(processor), 0);
    EXPECT_EQ(cache.GetTrialDescriptorPropID(0x0200007F), -1);

    // An operator's packet makes it known; its descriptors are stored whatever the
    // valid byte says.
    BmFeSignalSelectionDesc selection{};
    selection.head = {1, kKestSignalSelectionDescType, 0, 0};
    selection.valid = 0;
    selection.entries[0].channelMask = 0xF0;
    Feed(cache, ConfigPacket(0, 0x80A1, RecordBytes(selection), 1, 150), oper);
    EXPECT_TRUE(cache.CheckProcID(oper));
    auto copy = cache.GetSignalSelectionDescriptor(oper);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->entries[0].channelMask, 0xF0u);
    EXPECT_EQ(cache.GetTrialDescriptor(oper), nullptr) << "known but still empty";
    unsigned operators[4];
    EXPECT_EQ(cache.GetOperators(operators, 4), 2u) << "the processor's own entry and one operator";
    EXPECT_EQ(operators[1], 150u);

    // The processor's own signal selection with valid 0 is ignored: the stored copy stays.
    Feed(cache, ConfigPacket(0, 0x80A1, RecordBytes(selection)));
    auto own = cache.GetSignalSelectionDescriptor(processor);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->entries[0].channelMask, 0u);

    KestRecordingTrialDescriptor trial{};
    trial.head = {1, kKestTrialDescType, 0, 0};
    trial.SetStatus(kKestTrialRecording);
    Feed(cache, ConfigPacket(0, 0x7FFF, RecordBytes(trial), 1, 150), oper);
    auto first = cache.GetTrialDescriptor(0);
    ASSERT_NE(first, nullptr) << "processor id 0 picks the first entry";
    EXPECT_EQ(first->Status(), kKestTrialStopped) << "the processor's, key 1";
    EXPECT_EQ(cache.GetTrialDescriptor(oper)->Status(), kKestTrialRecording);
    cache.ResetTrialDescriptor(oper);
    EXPECT_EQ(cache.GetTrialDescriptor(oper), nullptr);

    unsigned index = 0;
    auto* save = cache.GetFileSaveSelectionProp(Electrode(1, 3), &index);
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->slot, 1);
    EXPECT_EQ(cache.GetFileSaveSelectionProp(Electrode(3, 0), &index), nullptr);
}

// Every operator writes processor id 150 (or its own host part) into its headers; its
// descriptors are filed under the address they came from, so two operators never share an
// entry (they once did: the last answer won and resetting one wiped the other's).
TEST_F(CacheTest, OperatorDescriptorsAreKeptPerSource) {
    Describe();
    const std::uint32_t first = 0x822A007F;  // 127.0.42.130
    const std::uint32_t second = 0x832B007F; // 127.0.43.131
    KestRecordingTrialDescriptor trial{};
    trial.head = {1, kKestTrialDescType, 0, 0};
    trial.SetStatus(kKestTrialRecording);
    Feed(cache, ConfigPacket(0, 0x7FFF, RecordBytes(trial), 1, 150), first);
    trial.SetStatus(kKestTrialPaused);
    Feed(cache, ConfigPacket(0, 0x7FFF, RecordBytes(trial), 1, 131), second); // own host part
    ASSERT_NE(cache.GetTrialDescriptor(first), nullptr);
    ASSERT_NE(cache.GetTrialDescriptor(second), nullptr);
    EXPECT_EQ(cache.GetTrialDescriptor(first)->Status(), kKestTrialRecording);
    EXPECT_EQ(cache.GetTrialDescriptor(second)->Status(), kKestTrialPaused);
    EXPECT_EQ(cache.GetTrialDescriptor(0x842A007F), nullptr) << "127.0.42.132 sent nothing";
    EXPECT_FALSE(cache.CheckProcID(0x842A007F));
    EXPECT_TRUE(cache.CheckProcID(second));

    cache.ResetTrialDescriptor(first);
    EXPECT_EQ(cache.GetTrialDescriptor(first), nullptr);
    ASSERT_NE(cache.GetTrialDescriptor(second), nullptr) << "the other operator's stays";
    EXPECT_TRUE(cache.CheckProcID(first)) << "known, waiting for its answer";

    // The processor's own descriptor stays under its id whatever the source.
    ASSERT_NE(cache.GetTrialDescriptor(0x0100007F), nullptr);
    EXPECT_EQ(cache.GetTrialDescriptor(0x0100007F)->Status(), kKestTrialStopped);
    unsigned ids[4];
    ASSERT_EQ(cache.GetOperators(ids, 4), 2u) << "processor ids: 1, and 150 once";
    EXPECT_EQ(ids[0], 1u);
    EXPECT_EQ(ids[1], 150u);
}

TEST_F(CacheTest, ButtonCountsAreTakenOnce) {
    Describe();
    const auto& records = model.Find(0).Records();
    unsigned eventButton = 0;
    for (unsigned i = 0; i < records.size(); ++i) {
        auto* desc = reinterpret_cast<const KestPropertyDesc*>(records[i].data());
        if (desc->head.type == kKestPropertyDescType && std::string(desc->name) == "Event Button") {
            eventButton = desc->valueIndex;
        }
    }
    ASSERT_GT(eventButton, 0u);
    KestBool pressed{};
    pressed.head = {1, kKestBoolType, 0, 0};
    pressed.value = 1;
    for (int i = 0; i < 3; ++i) {
        Feed(cache, ConfigPacket(0, eventButton, RecordBytes(pressed)));
    }
    EXPECT_EQ(cache.GetButtonCount(2), 3);
    EXPECT_EQ(cache.GetButtonCount(2), 0);
    EXPECT_EQ(cache.GetButtonCount(5), -1);
}

// Packets shorter than the records they announce once made the cache read past their
// end; they are now dropped and counted.
TEST_F(CacheTest, ShortPacketsAreDroppedAndCounted) {
    Describe();
    const std::uint64_t before = cache.GetMalformedCount();

    Bytes zero(8, 0); // size byte 0
    Feed(cache, zero);

    Bytes error = ErrorPacket(7, 1, "a long text that the size byte does not cover");
    reinterpret_cast<KestPacket*>(error.data())->size = 6;
    Feed(cache, error);
    EXPECT_EQ(cache.GetErrorBuffer().Size(), 0u);

    KestRecordingTrialDescriptor trial{};
    trial.head = {1, kKestTrialDescType, 0, 0};
    Bytes shortTrial = ConfigPacket(0, 0x7FFF, RecordBytes(trial, 100), 1, 150);
    Feed(cache, shortTrial, 0x9600007F);

    Bytes shortRow = ContPacket(1, 1, 9000, Row(1, 8)); // 8 values for a 32-channel stream
    Feed(cache, shortRow);

    Bytes segment = SegmentPacket(4, 3, 100, 1, 1);
    reinterpret_cast<KestPacket*>(segment.data())->size = 10;
    Feed(cache, segment);

    EXPECT_EQ(cache.GetMalformedCount() - before, 5u);
    EXPECT_EQ(cache.GetStatus(), kCacheReady) << "nothing else changed";
    EXPECT_EQ(cache.GetTrialDescriptor(0x9600007F), nullptr);
}

} // namespace

namespace {

// Error callbacks once ran with the cache lock held, so a callback that asked the cache
// anything deadlocked the receive thread. They now run after the lock is released.
TEST(CacheCallbacks, CallbackMayQueryTheCache) {
    Processor model(1);
    KestCache cache;
    FeedAll(cache, model.DescribePackets());
    struct Seen {
        KestCache* cache;
        std::uint32_t time = 0;
        int status = -1;
    } seen{&cache};
    cache.RegisterKestErrorCallback(
        [](void* user, const KestErrorMessage_t*) {
            auto* s = static_cast<Seen*>(user);
            s->time = s->cache->GetPAXTime();
            s->status = s->cache->GetStatus();
        },
        &seen);
    Feed(cache, ErrorPacket(6, 2, "link lost"));
    EXPECT_EQ(seen.time, 100u) << "the error packet's own module-0 timestamp";
    EXPECT_EQ(seen.status, 0);
}

} // namespace
