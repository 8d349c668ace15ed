// The continuous ring: storing rows, gap markers, windows by newest row and by time.
#include "cache/ContDataBuffer.h"
#include "cache/ZeroedArray.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using ShortRing = ContDataBuffer<short>;

// Row of `channels` values base, base + 1, ...
std::vector<short> Row(std::uint32_t channels, int base) {
    std::vector<short> row(channels);
    for (std::uint32_t c = 0; c < channels; ++c) {
        row[c] = static_cast<short>(base + int(c));
    }
    return row;
}

std::vector<float> Top(const ShortRing& ring, std::uint32_t channel, std::uint32_t count,
                       bool scale = false, std::uint32_t* outTime = nullptr) {
    std::vector<float> out(count, 12345.0f);
    out.resize(ring.GetDataFromTop(outTime, out.data(), channel, count, scale));
    return out;
}

std::vector<float> Since(const ShortRing& ring, std::uint32_t time, std::uint32_t channel,
                         std::uint32_t count, bool scale = false) {
    std::vector<float> out(count + 1, 12345.0f);
    out.resize(ring.GetDataByTimeStamp(out.data(), time, channel, count, scale));
    return out;
}

TEST(ContRing, StoresFirstSampleAndDropsTimesThatDoNotAdvance) {
    ShortRing ring(8, 2, 15, 1.0);
    ring.AddTimeSample(Row(2, 10).data(), 1000);
    EXPECT_EQ(ring.GetLastTime(), 1000u);
    ring.AddTimeSample(Row(2, 20).data(), 1000); // same time
    ring.AddTimeSample(Row(2, 30).data(), 990);  // behind
    ring.AddTimeSample(Row(2, 40).data(), 1014); // less than one period on
    EXPECT_EQ(ring.GetLastTime(), 1000u);
    EXPECT_EQ(Top(ring, 1, 2), (std::vector<float>{0, 11}));

    ring.AddTimeSample(Row(2, 50).data(), 1015);
    EXPECT_EQ(Top(ring, 0, 2), (std::vector<float>{10, 50}));

    // Behind by less than 2^31 ticks is behind, however far.
    ring.AddTimeSample(Row(2, 60).data(), 1015u - 0x7FFFFFF0u);
    EXPECT_EQ(ring.GetLastTime(), 1015u);
}

TEST(ContRing, GapOfThreePeriodsWritesTwoMarkerRows) {
    ShortRing ring(8, 3, 30, 0.25);
    ring.AddTimeSample(Row(3, 1).data(), 300);
    ring.AddTimeSample(Row(3, 7).data(), 390);
    EXPECT_EQ(Top(ring, 2, 4), (std::vector<float>{3, -32768, -32768, 9}));
    EXPECT_EQ(Top(ring, 2, 4, true), (std::vector<float>{0.75f, -8192, -8192, 2.25f}));
    // Positions stay locked to time: the row of time 330 is a marker.
    EXPECT_EQ(Since(ring, 330, 0, 1), (std::vector<float>{-32768}));
    EXPECT_EQ(Since(ring, 300, 0, 1), (std::vector<float>{1}));
}

TEST(ContRing, GapAcrossProcessorTimeWrapIsMeasuredSigned) {
    ShortRing ring(64, 1, 1, 1.0);
    ring.AddTimeSample(Row(1, 5).data(), 0xFFFFFFFEu);
    ring.AddTimeSample(Row(1, 6).data(), 2); // four ticks later: three markers
    EXPECT_EQ(Top(ring, 0, 5), (std::vector<float>{5, -32768, -32768, -32768, 6}));
    std::uint32_t start = 0;
    Top(ring, 0, 5, false, &start);
    EXPECT_EQ(start, 0xFFFFFFFEu);
}

TEST(ContRing, FreshRingReadsZerosAndStartTimeInUnsignedArithmetic) {
    ShortRing ring(100, 4, 15, 2.0);
    ring.AddTimeSample(Row(4, 100).data(), 20);
    std::uint32_t start = 0;
    EXPECT_EQ(Top(ring, 3, 4, true, &start), (std::vector<float>{0, 0, 0, 206}));
    EXPECT_EQ(start, 20u - 3u * 15u); // wraps below 0

    float dest = 5;
    EXPECT_EQ(ring.GetDataFromTop(&start, &dest, 0, 0, false), 0u);
    EXPECT_EQ(dest, 5);
    EXPECT_EQ(start, 20u + 15u) << "the time one period after the newest row";
}

TEST(ContRing, CountIsCutToDepth) {
    ShortRing ring(10, 1, 1, 1.0);
    for (int t = 1; t <= 25; ++t) {
        ring.AddTimeSample(Row(1, t).data(), std::uint32_t(t));
    }
    std::uint32_t start = 0;
    auto values = Top(ring, 0, 1000, false, &start);
    ASSERT_EQ(values.size(), 10u);
    EXPECT_EQ(start, 16u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(values[i], 16 + i);
    }
    EXPECT_EQ(Since(ring, 1, 0, 1000).size(), 0u) << "more than a ring back";
}

TEST(ContRing, ReadByTimestampWindowEdges) {
    ShortRing ring(20, 2, 15, 1.0);
    for (std::uint32_t i = 0; i < 30; ++i) {
        ring.AddTimeSample(Row(2, int(i) * 2).data(), 1000 + i * 15);
    }
    const std::uint32_t last = 1000 + 29 * 15;

    testing::internal::CaptureStderr();
    EXPECT_EQ(Since(ring, last, 1, 10), (std::vector<float>{59}));
    EXPECT_EQ(Since(ring, last + 1, 1, 10).size(), 0u);
    EXPECT_EQ(Since(ring, last + 15, 1, 10).size(), 0u);
    // Off the grid: starts at the first sample after the time.
    EXPECT_EQ(Since(ring, last - 20, 0, 10), (std::vector<float>{56, 58}));
    EXPECT_EQ(Since(ring, last - 30, 0, 10), (std::vector<float>{54, 56, 58}));
    // Oldest row held, and the count cut to what is there.
    auto oldest = Since(ring, last - 19 * 15, 0, 100);
    ASSERT_EQ(oldest.size(), 20u);
    EXPECT_EQ(oldest.front(), 20);
    EXPECT_EQ(Since(ring, last - 19 * 15, 0, 3), (std::vector<float>{20, 22, 24}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    testing::internal::CaptureStderr();
    EXPECT_EQ(Since(ring, last - 20 * 15, 0, 10).size(), 0u);
    EXPECT_EQ(Since(ring, last + 16, 0, 10).size(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "warning: invalid timestamp\nwarning: invalid timestamp\n");
}

TEST(ContRing, AllChannelReadsComeRowByRow) {
    ShortRing ring(4, 3, 1, 0.5);
    for (std::uint32_t t = 1; t <= 6; ++t) {
        ring.AddTimeSample(Row(3, int(t) * 10).data(), t);
    }
    std::vector<float> out(9, -1);
    std::uint32_t start = 0;
    std::uint32_t channels = 0;
    ASSERT_EQ(ring.GetAllData(&start, out.data(), &channels, 3, false), 3u);
    EXPECT_EQ(channels, 3u);
    EXPECT_EQ(start, 4u);
    EXPECT_EQ(out, (std::vector<float>{40, 41, 42, 50, 51, 52, 60, 61, 62}));

    channels = 0;
    ASSERT_EQ(ring.GetAllDataByTimeStamp(out.data(), &channels, 5, 3, true), 2u);
    EXPECT_EQ(channels, 3u);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 6),
              (std::vector<float>{25, 25.5f, 26, 30, 30.5f, 31}));

    testing::internal::CaptureStderr();
    channels = 99;
    EXPECT_EQ(ring.GetAllDataByTimeStamp(out.data(), &channels, 1, 3, true), 0u);
    EXPECT_EQ(channels, 99u) << "set only once the time is known to be held";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "warning: invalid timestamp\n");
}

TEST(ContRing, ScaleAppliesOnlyWhenAskedAndNotOne) {
    ShortRing ring(4, 1, 1, 1.0);
    ring.AddTimeSample(Row(1, -7).data(), 1);
    EXPECT_EQ(Top(ring, 0, 1, true), (std::vector<float>{-7}));
    ring.SetADCToMicroVolts(0.1);
    EXPECT_EQ(ring.GetScale(), 0.1);
    EXPECT_EQ(Top(ring, 0, 1, false), (std::vector<float>{-7}));
    EXPECT_EQ(Top(ring, 0, 1, true), (std::vector<float>{static_cast<float>(-7 * 0.1)}));
}

TEST(ContRing, ChannelIsTakenModThirtyTwoAndMustExist) {
    ShortRing wide(4, 32, 1, 1.0);
    wide.AddTimeSample(Row(32, 100).data(), 9);
    EXPECT_EQ(Top(wide, 37, 1), (std::vector<float>{105}));

    // A channel the ring does not have reads nothing rather than a neighbouring row.
    ShortRing narrow(4, 16, 1, 1.0);
    narrow.AddTimeSample(Row(16, 100).data(), 9);
    float dest = 3;
    std::uint32_t start = 42;
    EXPECT_EQ(narrow.GetDataFromTop(&start, &dest, 20, 1, false), 0u);
    EXPECT_EQ(narrow.GetDataByTimeStamp(&dest, 9, 20, 1, false), 0u);
    EXPECT_EQ(dest, 3);
    EXPECT_EQ(start, 42u);
    EXPECT_EQ(Top(narrow, 47, 1), (std::vector<float>{115}));
}

TEST(ContRing, FloatRingKeepsValuesAndMarksGaps) {
    ContDataBuffer<float> ring(8, 2, 1, 2.0);
    const float first[2] = {0.5f, -1.25f};
    const float second[2] = {3.0f, 4.0f};
    ring.AddTimeSample(first, 10);
    ring.AddTimeSample(second, 12);
    std::vector<float> out(3);
    ASSERT_EQ(ring.GetDataFromTop(nullptr, out.data(), 1, 3, false), 3u);
    EXPECT_EQ(out, (std::vector<float>{-1.25f, -32768.0f, 4.0f}));
    ASSERT_EQ(ring.GetDataFromTop(nullptr, out.data(), 0, 3, true), 3u);
    EXPECT_EQ(out, (std::vector<float>{1.0f, -65536.0f, 6.0f}));
}

// A gap of 2^31 - 1 periods used to write that many marker rows one by one, and the running
// count of values it advanced wrapped past 2^32 out of step with a ring whose size does not
// divide 2^32, so later rows came back shifted across channels.
TEST(ContRing, HugeGapFillsOneRingOfMarkersAndStaysRowAligned) {
    ShortRing ring(7, 5, 1, 1.0);
    ring.AddTimeSample(Row(5, 0).data(), 1);
    for (std::uint32_t t = 2; t < 10; ++t) {
        ring.AddTimeSample(Row(5, int(t) * 10).data(), t);
    }
    const std::uint32_t far = 9 + 0x7FFFFFFFu;
    ring.AddTimeSample(Row(5, 500).data(), far);
    EXPECT_EQ(ring.GetLastTime(), far);
    for (std::uint32_t c = 0; c < 5; ++c) {
        std::vector<float> expected(6, -32768);
        expected.push_back(float(500 + c));
        EXPECT_EQ(Top(ring, c, 7), expected) << "channel " << c;
    }
    for (std::uint32_t i = 1; i <= 10; ++i) {
        ring.AddTimeSample(Row(5, 1000 + int(i) * 10).data(), far + i);
    }
    for (std::uint32_t c = 0; c < 5; ++c) {
        std::vector<float> expected;
        for (int i = 4; i <= 10; ++i) {
            expected.push_back(float(1000 + i * 10 + int(c)));
        }
        EXPECT_EQ(Top(ring, c, 7), expected) << "channel " << c;
        EXPECT_EQ(Since(ring, far + 8, c, 7),
                  std::vector<float>(expected.end() - 3, expected.end()));
    }
}

// A jump of a ring or more used to write a whole ring of markers for every such packet; it
// now only notes the gap. The rows it covers still read as markers, beside later short gaps
// and by time, until new rows have replaced them.
TEST(ContRing, JumpOfARingOrMoreReadsAsMarkersUntilOverwritten) {
    ShortRing ring(5, 2, 2, 0.5);
    for (std::uint32_t t = 2; t <= 10; t += 2) {
        ring.AddTimeSample(Row(2, int(t)).data(), t);
    }
    ring.AddTimeSample(Row(2, 100).data(), 10 + 2 * 40);
    ring.AddTimeSample(Row(2, 200).data(), 90 + 2 * 2); // one marker row
    EXPECT_EQ(Top(ring, 1, 5), (std::vector<float>{-32768, -32768, 101, -32768, 201}));
    EXPECT_EQ(Top(ring, 0, 5, true), (std::vector<float>{-16384, -16384, 50, -16384, 100}));
    EXPECT_EQ(Since(ring, 88, 0, 5), (std::vector<float>{-32768, 100, -32768, 200}));
    std::vector<float> all(10);
    std::uint32_t channels = 0;
    ASSERT_EQ(ring.GetAllDataByTimeStamp(all.data(), &channels, 88, 5, false), 4u);
    EXPECT_EQ(all, (std::vector<float>{-32768, -32768, 100, 101, -32768, -32768, 200, 201, 0, 0}));

    ring.AddTimeSample(Row(2, 300).data(), 96);
    ring.AddTimeSample(Row(2, 400).data(), 98);
    EXPECT_EQ(Top(ring, 0, 5), (std::vector<float>{100, -32768, 200, 300, 400}));
    ring.AddTimeSample(Row(2, 500).data(), 98 + 2 * 6); // a ring of missing rows
    EXPECT_EQ(Top(ring, 0, 5), (std::vector<float>{-32768, -32768, -32768, -32768, 500}));
}

TEST(ContRing, GapJustShorterThanTheRingKeepsTheOldestRow) {
    ShortRing ring(6, 2, 3, 1.0);
    ring.AddTimeSample(Row(2, 10).data(), 3);
    ring.AddTimeSample(Row(2, 20).data(), 6);
    ring.AddTimeSample(Row(2, 30).data(), 6 + 5 * 3); // four markers
    EXPECT_EQ(Top(ring, 1, 6), (std::vector<float>{21, -32768, -32768, -32768, -32768, 31}));
    ring.AddTimeSample(Row(2, 40).data(), 21 + 6 * 3); // five markers: one ring minus one
    EXPECT_EQ(Top(ring, 0, 6), (std::vector<float>{-32768, -32768, -32768, -32768, -32768, 40}));
}

// A ring that cannot hold a row (period not positive, no channels or no depth) used to divide
// by zero or index an empty array; it now stores nothing and every read returns 0 values.
TEST(ContRing, RingThatCannotStoreIsHarmless) {
    const std::vector<short> row = Row(4, 1);
    struct Shape {
        std::uint32_t depth;
        std::uint32_t channels;
        std::int32_t period;
    };
    for (Shape shape : {Shape{153600, 4, 0}, Shape{1024, 4, -15}, Shape{0, 4, 1}, Shape{10, 0, 1},
                        Shape{153600, 60000, 1}}) {
        SCOPED_TRACE(std::to_string(shape.depth) + "x" + std::to_string(shape.channels) +
                     " period " + std::to_string(shape.period));
        ShortRing ring(shape.depth, shape.channels, shape.period, 1.0);
        EXPECT_FALSE(ring.CanStore());
        EXPECT_EQ(ring.GetDepth(), 0u);
        ring.AddTimeSample(row.data(), 100);
        ring.AddTimeSample(row.data(), 200);
        EXPECT_EQ(ring.GetLastTime(), 0u);

        testing::internal::CaptureStderr();
        float dest[8] = {7, 7, 7, 7, 7, 7, 7, 7};
        std::uint32_t start = 9;
        std::uint32_t channels = 9;
        EXPECT_EQ(ring.GetDataFromTop(&start, dest, 0, 2, true), 0u);
        EXPECT_EQ(ring.GetDataByTimeStamp(dest, 200, 0, 2, true), 0u);
        EXPECT_EQ(ring.GetAllData(&start, dest, &channels, 2, true), 0u);
        EXPECT_EQ(ring.GetAllDataByTimeStamp(dest, &channels, 200, 2, true), 0u);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(dest[0], 7);
        EXPECT_EQ(start, 9u);
        EXPECT_EQ(channels, 9u);
    }
}

TEST(ContRing, RingDepthsForTheStreamRates) {
    for (std::int32_t period : {1, 15, 30}) {
        ShortRing ring(kContRingTicks / std::uint32_t(period), 32, period, 1.0);
        EXPECT_TRUE(ring.CanStore());
        EXPECT_EQ(ring.GetDepth() * std::uint32_t(period), kContRingTicks);
        EXPECT_EQ(ring.GetChannels(), 32u);
        EXPECT_EQ(ring.GetPeriod(), period);
    }
}

} // namespace

// A ring that never stored a sample once answered a newest-window read with count zeros
// stamped with a start time below 0; a stream that was switched off looked like a flat
// signal. It now reports nothing and leaves the caller's outputs alone.
TEST(ContRing, RingWithoutSamplesReportsNothing) {
    ShortRing ring(100, 4, 1, 1.0);
    std::vector<float> dest(8, 7.0f);
    std::uint32_t start = 99, channels = 99;
    EXPECT_EQ(ring.GetDataFromTop(&start, dest.data(), 1, 8, true), 0u);
    EXPECT_EQ(ring.GetAllData(&start, dest.data(), &channels, 2, true), 0u);
    EXPECT_EQ(start, 99u);
    EXPECT_EQ(channels, 99u);
    EXPECT_EQ(dest[0], 7.0f);
}

namespace {

// Memory of a ring that was written and freed comes back as zeros in the next one, whether
// the array is mapped on its own or comes from the allocator; a moved array keeps its memory.
TEST(ZeroedArrayTest, ReusedMemoryIsZeroAndMovesKeepTheElements) {
    for (std::size_t size : {std::size_t(1000), ZeroedArray<short>::kMapBytes}) {
        const std::size_t mapped = gZeroedArrayMappedBytes.load();
        for (int round = 0; round < 3; ++round) {
            ZeroedArray<short> array(size);
            ASSERT_EQ(array.size(), size);
            // Memory mapped on its own is counted while the array holds it.
            EXPECT_EQ(gZeroedArrayMappedBytes.load() - mapped,
                      size >= ZeroedArray<short>::kMapBytes / sizeof(short) ? size * sizeof(short)
                                                                            : 0);
            for (std::size_t i = 0; i < size; ++i) {
                ASSERT_EQ(array[i], 0) << "size " << size << " round " << round << " at " << i;
            }
            for (std::size_t i = 0; i < size; ++i) {
                array[i] = short(i | 1);
            }
            ZeroedArray<short> moved(std::move(array));
            EXPECT_EQ(array.data(), nullptr);
            EXPECT_EQ(moved[size - 1], short((size - 1) | 1));
        }
        EXPECT_EQ(gZeroedArrayMappedBytes.load(), mapped);
    }
}

} // namespace
