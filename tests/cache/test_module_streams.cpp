#include "module_records.h"

#include <gtest/gtest.h>

namespace {

// Module with 64 properties: the output-stream block holds streams 1-8 at indices 20-27.
constexpr std::uint16_t kStreamFirst = 20;
constexpr std::uint16_t kStreamCount = 8;

class ModuleStreams : public ::testing::Test {
  protected:
    void SetUp() override {
        Send(store, 1, BlockRecord(kKestOutputStreamBlock, kStreamFirst, kStreamCount));
    }
    ModuleData store = MakeStore(64, 2);
};

void SendStream(ModuleData& store, unsigned stream, const Bytes& record) {
    Send(store, std::uint16_t(kStreamFirst + stream - 1), record);
}

TEST_F(ModuleStreams, ContinuousRingDepthFollowsThePeriod) {
    SendStream(store, 1, StreamRecord(kKestContinuousData, 1, 32, "raw", "", 0, 0.25f));
    SendStream(store, 2, StreamRecord(kKestContinuousData16, 15, 32, "lfp"));
    SendStream(store, 3, StreamRecord(kKestContinuousData, 30, 4, "", "Hardware status"));

    ContDataBuffer<short>* raw = store.GetContDataBuffer(1);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->GetDepth(), 153600u);
    EXPECT_EQ(raw->GetChannels(), 32u);
    EXPECT_EQ(raw->GetPeriod(), 1);
    EXPECT_DOUBLE_EQ(raw->GetScale(), 0.25);
    ASSERT_NE(store.GetContDataBuffer(2), nullptr);
    EXPECT_EQ(store.GetContDataBuffer(2)->GetDepth(), 10240u);
    ASSERT_NE(store.GetContDataBuffer(3), nullptr);
    EXPECT_EQ(store.GetContDataBuffer(3)->GetDepth(), 5120u);

    EXPECT_EQ(store.GetStreamId("raw"), 1);
    EXPECT_EQ(store.GetStreamId("lfp"), 2);
    EXPECT_EQ(store.GetStreamId("Hardware status"), 3); // empty name: the label
    EXPECT_EQ(store.GetStreamId("spk"), -1);
    EXPECT_EQ(store.GetFloatDataBuffer(1), nullptr);
    EXPECT_EQ(store.GetSpikeDataBuffer(1), nullptr);
    EXPECT_EQ(store.IsFloatStream(1), 0);
}

TEST_F(ModuleStreams, FloatStreamGetsAFloatRing) {
    SendStream(store, 4, StreamRecord(kKestFloatData, 15, 2, "hifreq"));
    ContDataBuffer<float>* ring = store.GetFloatDataBuffer(4);
    ASSERT_NE(ring, nullptr);
    EXPECT_EQ(ring->GetDepth(), 10240u);
    EXPECT_EQ(ring->GetChannels(), 2u);
    EXPECT_EQ(store.GetContDataBuffer(4), nullptr);
    EXPECT_EQ(store.IsFloatStream(4), 1);
    EXPECT_EQ(store.IsFloatStream(5), -1); // descriptor not arrived
    EXPECT_EQ(store.IsFloatStream(9), -1); // beyond the block
    EXPECT_EQ(store.IsFloatStream(0), -1);
    EXPECT_EQ(store.GetStreamId("hifreq"), 4);
}

// A continuous descriptor with sample period 0 used to divide by zero while sizing its
// ring; without period or channels the stream now stays unbuffered.
TEST_F(ModuleStreams, StreamWithoutPeriodOrChannelsGetsNoRing) {
    SendStream(store, 1, StreamRecord(kKestContinuousData, 0, 32, "raw"));
    SendStream(store, 2, StreamRecord(kKestContinuousData, 1, 0, "lfp"));
    SendStream(store, 3, StreamRecord(kKestFloatData, 0, 2, "hifreq"));
    SendStream(store, 4, StreamRecord(kKestFloatData, 1, 0, "emg"));
    for (unsigned stream = 1; stream <= 4; ++stream) {
        EXPECT_EQ(store.GetContDataBuffer(stream), nullptr) << stream;
        EXPECT_EQ(store.GetFloatDataBuffer(stream), nullptr) << stream;
    }
    EXPECT_TRUE(store.GetStreamStrings().empty());

    // A later, sound descriptor for the stream creates its ring.
    SendStream(store, 1, StreamRecord(kKestContinuousData, 1, 32, "raw"));
    EXPECT_NE(store.GetContDataBuffer(1), nullptr);
    EXPECT_EQ(store.GetStreamId("raw"), 1);
}

TEST_F(ModuleStreams, RepeatedDescriptorKeepsRingAndName) {
    SendStream(store, 1, StreamRecord(kKestContinuousData, 1, 32, "raw"));
    ContDataBuffer<short>* ring = store.GetContDataBuffer(1);
    SendStream(store, 1, StreamRecord(kKestContinuousData, 15, 16, "renamed"));
    EXPECT_EQ(store.GetContDataBuffer(1), ring);
    EXPECT_EQ(ring->GetDepth(), 153600u);
    EXPECT_EQ(store.GetStreamId("raw"), 1);
    EXPECT_EQ(store.GetStreamId("renamed"), -1);
    // The stored descriptor itself is the newest copy.
    EXPECT_EQ(store.GetOutputStreamDesc(1)->period, 15);
}

TEST_F(ModuleStreams, SegmentStreamsShareTheNameOfTheirFirstStream) {
    SendStream(store, 7, StreamRecord(kKestSegmentData, 1, 1, "spk"));
    SendStream(store, 5, StreamRecord(kKestSegmentData, 1, 1, "spk"));
    SendStream(store, 6, StreamRecord(kKestSegmentData, 1, 1, "spk"));
    EXPECT_EQ(store.GetStreamId("spk"), 5);
    for (unsigned stream : {5u, 6u, 7u})
        EXPECT_NE(store.GetSpikeDataBuffer(stream), nullptr) << stream;
    EXPECT_EQ(store.GetSpikeDataBuffer(8), nullptr);
    EXPECT_EQ(store.GetContDataBuffer(5), nullptr);
}

TEST_F(ModuleStreams, DigitalEventStreamIsCalledDiginWhateverItsName) {
    EXPECT_EQ(store.GetEventDataBuffer(), nullptr);
    SendStream(store, 2, StreamRecord(kKestDigitalEventData, 1, 1, "parallel", "Digital In"));
    EXPECT_EQ(store.GetStreamId("digin"), 2);
    EXPECT_EQ(store.GetStreamId("parallel"), -1);
    ASSERT_NE(store.GetEventDataBuffer(), nullptr);

    // With two digital event rings the module has no single one to hand out.
    SendStream(store, 3, StreamRecord(kKestDigitalEventData, 1, 1, "serial"));
    EXPECT_EQ(store.GetEventDataBuffer(), nullptr);
    EXPECT_EQ(store.GetStreamId("digin"), 3);
}

TEST_F(ModuleStreams, KindsWithoutDataAndDescriptorsOutsideTheBlockGetNoRing) {
    SendStream(store, 1, StreamRecord(3, 1, 4, "status"));
    Send(store, 5, StreamRecord(kKestContinuousData, 1, 4, "early")); // before the block start
    EXPECT_EQ(store.GetStreamId("status"), -1);
    EXPECT_EQ(store.GetStreamId("early"), -1);
    EXPECT_EQ(store.GetContDataBuffer(1), nullptr);
}

TEST(ModuleStreamBlock, DescriptorBeforeTheStreamBlockCreatesNoRing) {
    ModuleData store = MakeStore(64, 2);
    SendStream(store, 1, StreamRecord(kKestContinuousData, 1, 32, "raw"));
    EXPECT_EQ(store.GetContDataBuffer(1), nullptr);
    EXPECT_EQ(store.GetOutputStreamDesc(1), nullptr);
    EXPECT_EQ(store.IsFloatStream(1), -1);

    Send(store, 1, BlockRecord(kKestOutputStreamBlock, kStreamFirst, kStreamCount));
    EXPECT_NE(store.GetOutputStreamDesc(1), nullptr);
    EXPECT_EQ(store.GetContDataBuffer(1), nullptr); // only a fresh descriptor makes one
}

TEST_F(ModuleStreams, StreamNamesComeOutInAscendingOrder) {
    SendStream(store, 1, StreamRecord(kKestContinuousData, 1, 32, "raw"));
    SendStream(store, 2, StreamRecord(kKestContinuousData, 30, 32, "lfp"));
    SendStream(store, 3, StreamRecord(kKestSegmentData, 1, 1, "spk"));
    SendStream(store, 4, StreamRecord(kKestContinuousData, 15, 32, "hi-res"));
    EXPECT_EQ(store.GetStreamStrings(), (std::vector<std::string>{"hi-res", "lfp", "raw", "spk"}));
}

TEST_F(ModuleStreams, EnableSwitchAndPhysicalChannelsOfAStream) {
    // Stream 1 has two channels with per-channel records at 40 and 41, physical channel
    // records at 50 and 51, and its enable switch at 45.
    SendStream(store, 1, StreamRecord(kKestContinuousData, 1, 2, "raw", "", 40));
    Send(store, 40, ChannelRecord(50, 45));
    Send(store, 41, ChannelRecord(51));
    Send(store, 45, BoolRecord(1));
    Send(store, 50, PhysChannelRecord(1, 2, 3));
    Send(store, 51, PhysChannelRecord(1, 2, 4));

    int index = -1;
    KestBool* enable = store.GetSignalEnableProp(1, &index);
    EXPECT_EQ(index, 45);
    ASSERT_NE(enable, nullptr);
    EXPECT_EQ(enable->value, 1);
    EXPECT_EQ(store.GetSignalEnableProp(2, &index), nullptr);

    ASSERT_NE(store.GetPhysChanDesc(1, 1), nullptr);
    EXPECT_EQ(store.GetPhysChanDesc(1, 1)->channel, 4);
    EXPECT_EQ(store.GetPhysChanDesc(1, 0)->channel, 3);
    EXPECT_EQ(store.GetPhysChanDesc(1, 2), nullptr);

    // A per-channel record pointing at index 0 does not hand out the module descriptor.
    SendStream(store, 2, StreamRecord(kKestContinuousData, 1, 1, "lfp", "", 42));
    Send(store, 42, ChannelRecord(0, 0));
    EXPECT_EQ(store.GetSignalEnableProp(2, nullptr), nullptr);
    EXPECT_EQ(store.GetPhysChanDesc(2, 0), nullptr);
}

TEST_F(ModuleStreams, ProcessorTimeIsTheNewestSixteenBitSample) {
    EXPECT_EQ(store.GetPAXTime(), 0u);
    SendStream(store, 1, StreamRecord(kKestContinuousData, 1, 1, "raw"));
    SendStream(store, 2, StreamRecord(kKestContinuousData, 1, 1, "lfp"));
    SendStream(store, 3, StreamRecord(kKestFloatData, 1, 1, "hifreq"));
    EXPECT_EQ(store.GetPAXTime(), 0u);

    short sample = 1;
    float value = 1.0f;
    store.GetFloatDataBuffer(3)->AddTimeSample(&value, 5000); // float rings do not count
    store.GetContDataBuffer(1)->AddTimeSample(&sample, 1000);
    store.GetContDataBuffer(2)->AddTimeSample(&sample, 1200);
    EXPECT_EQ(store.GetPAXTime(), 1200u);
}

// Times past 2^31 ticks (about 20 hours) used to lose against the start value 0 in the
// signed comparison, and the module reported time 0.
TEST_F(ModuleStreams, ProcessorTimeSurvivesLargeTimesAndWrap) {
    SendStream(store, 1, StreamRecord(kKestContinuousData, 1, 1, "raw"));
    SendStream(store, 2, StreamRecord(kKestContinuousData, 1, 1, "lfp"));
    short sample = 1;
    store.GetContDataBuffer(1)->AddTimeSample(&sample, 0x90000000u);
    EXPECT_EQ(store.GetPAXTime(), 0x90000000u);

    // Just after the clock wrapped, the wrapped time is the newer one.
    store.GetContDataBuffer(1)->AddTimeSample(&sample, 0xFFFFFF00u);
    store.GetContDataBuffer(2)->AddTimeSample(&sample, 0x00000010u);
    EXPECT_EQ(store.GetPAXTime(), 0x10u);
}

} // namespace
