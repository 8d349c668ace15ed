// Reads of several electrodes of one stream in one pass of its ring, compared with reads of
// one electrode at a time.
#include "TestModel.h"

#include "cache/ContDataBuffer.h"
#include "cache/KestCache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace testmodel;

namespace {

void Feed(KestCache& cache, const Bytes& packet) {
    cache.ProcKestPacket(reinterpret_cast<const KestPacket*>(packet.data()));
}

// Channel c of sample time t carries a value that names both.
std::int16_t Value(std::uint32_t t, unsigned c) {
    return std::int16_t((t * 7 + c * 131) % 20000 - 10000);
}

std::vector<std::int16_t> Row(std::uint32_t t, unsigned channels) {
    std::vector<std::int16_t> row(channels);
    for (unsigned c = 0; c < channels; ++c) {
        row[c] = Value(t, c);
    }
    return row;
}

constexpr double kUntouched = -12345.5;

class BlockReadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const Bytes& packet : model.DescribePackets()) {
            Feed(cache, packet);
        }
        ASSERT_TRUE(cache.IsInit());
    }

    // lfp of front end 0 (module 2, stream 1, 30 ticks, 0.5 µV a count) from `first` on.
    void FeedLfp(std::uint32_t first, std::uint32_t samples) {
        for (std::uint32_t i = 0; i < samples; ++i) {
            const std::uint32_t t = first + i * 30;
            Feed(cache, ContPacket(2, 1, t, Row(t, 32)));
        }
    }

    // The same window read one electrode at a time.
    std::vector<float> Single(unsigned electrode, std::uint32_t count, std::uint32_t time,
                              std::uint32_t* start, int* read) {
        std::vector<float> values(count, -1.0f);
        *read = cache.GetContData(start, values.data(), count, electrode, 2, 1, time, true);
        return values;
    }

    // One run of electrodes of one stream, read into rows 0 ... n - 1.
    int Block(std::uint32_t* start, double* matrix, std::size_t leading, std::uint32_t count,
              unsigned module, unsigned stream, const std::uint32_t* electrodes, std::uint32_t n,
              std::uint32_t* delivered, std::uint32_t time, bool scale) {
        const KestContBlockRun run{module, stream, 0, n};
        return cache.GetContDataBlock(start, matrix, leading, count, &run, 1, electrodes, delivered,
                                      time, scale);
    }

    Processor model{2};
    KestCache cache;
};

TEST_F(BlockReadTest, NewestWindowMatchesSingleReadsAcrossTheRingEnd) {
    // 6000 samples into a ring of 5120: the window runs over the end of the ring.
    FeedLfp(3000, 6000);
    const std::uint32_t electrodes[] = {3, 0, 31, 7};
    const std::size_t leading = 6; // two rows of the matrix belong to someone else
    const std::uint32_t count = 4000;
    std::vector<double> matrix(leading * count, kUntouched);
    std::uint32_t delivered[4] = {9, 9, 9, 9};
    std::uint32_t start = 0;
    ASSERT_EQ(Block(&start, matrix.data(), leading, count, 2, 1, electrodes, 4, delivered, 0, true),
              int(count));
    EXPECT_EQ(start, 3000u + (6000 - count) * 30);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(delivered[k], count);
        std::uint32_t singleStart = 0;
        int read = 0;
        const std::vector<float> single = Single(electrodes[k], count, 0, &singleStart, &read);
        ASSERT_EQ(read, int(count));
        EXPECT_EQ(singleStart, start);
        for (std::uint32_t j = 0; j < count; ++j) {
            ASSERT_EQ(matrix[j * leading + k], double(single[j])) << "electrode " << k << " " << j;
        }
    }
    EXPECT_EQ(matrix[(count - 1) * leading + 3], 0.5 * Value(3000 + 5999 * 30, 7));
    for (std::uint32_t j = 0; j < count; ++j) {
        ASSERT_EQ(matrix[j * leading + 4], kUntouched);
        ASSERT_EQ(matrix[j * leading + 5], kUntouched);
    }
}

TEST_F(BlockReadTest, GapMarkersMatchSingleReads) {
    // A jump of more than a ring (no markers written: the rows before it read as markers),
    // then a short gap of 9 marker rows.
    FeedLfp(3000, 100);
    FeedLfp(3000 + 30 * 8000, 50);
    FeedLfp(3000 + 30 * 8060, 20);
    const std::uint32_t electrodes[] = {5, 30};
    const std::uint32_t count = 400;
    std::vector<double> matrix(2 * count, kUntouched);
    std::uint32_t delivered[2] = {0, 0};
    std::uint32_t start = 0;
    ASSERT_EQ(Block(&start, matrix.data(), 2, count, 2, 1, electrodes, 2, delivered, 0, true),
              int(count));
    for (int k = 0; k < 2; ++k) {
        std::uint32_t singleStart = 0;
        int read = 0;
        const std::vector<float> single = Single(electrodes[k], count, 0, &singleStart, &read);
        ASSERT_EQ(read, int(count));
        for (std::uint32_t j = 0; j < count; ++j) {
            ASSERT_EQ(matrix[j * 2 + k], double(single[j])) << "electrode " << k << " " << j;
        }
    }
    EXPECT_EQ(matrix[0], 0.5 * kContGapMarker);                // before the jump
    EXPECT_EQ(matrix[(count - 21) * 2], 0.5 * kContGapMarker); // in the short gap
}

TEST_F(BlockReadTest, WindowFromATimeAndStaleTimes) {
    FeedLfp(30000, 2000);
    const std::uint32_t electrodes[] = {5, 6};
    std::vector<double> matrix(2 * 700, kUntouched);
    std::uint32_t delivered[2] = {};
    std::uint32_t start = 0;
    // 300 samples remain from this time on, fewer than asked for.
    const std::uint32_t from = 30000 + 1700 * 30;
    EXPECT_EQ(Block(&start, matrix.data(), 2, 700, 2, 1, electrodes, 2, delivered, from, true),
              300);
    EXPECT_EQ(start, from);
    EXPECT_EQ(delivered[0], 300u);
    EXPECT_EQ(delivered[1], 300u);
    EXPECT_EQ(matrix[0], 0.5 * Value(from, 5));
    EXPECT_EQ(matrix[2 * 299 + 1], 0.5 * Value(from + 299 * 30, 6));
    EXPECT_EQ(matrix[2 * 300], kUntouched);

    // A time between two samples starts at the next one, as a single read does.
    std::uint32_t singleStart = 0;
    int read = 0;
    const std::vector<float> single = Single(6, 10, from + 7, &singleStart, &read);
    EXPECT_EQ(Block(&start, matrix.data(), 2, 10, 2, 1, electrodes, 2, delivered, from + 7, true),
              read);
    EXPECT_EQ(matrix[1], double(single[0]));

    // Older than the ring or after the newest sample: nothing, one warning each.
    start = 77;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Block(&start, matrix.data(), 2, 10, 2, 1, electrodes, 2, delivered,
                    30000 + 1999 * 30 - 5120 * 30 - 30, true),
              0);
    EXPECT_EQ(Block(&start, matrix.data(), 2, 10, 2, 1, electrodes, 2, delivered, 30000 + 2001 * 30,
                    true),
              0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "warning: invalid timestamp\nwarning: invalid timestamp\n");
    EXPECT_EQ(start, 77u);
    EXPECT_EQ(delivered[0], 0u);
    EXPECT_EQ(delivered[1], 0u);
}

TEST_F(BlockReadTest, ChannelsTheRingDoesNotCarryGetNothing) {
    // "HW Status" of front end 0 has four channels.
    for (std::uint32_t t = 30; t <= 300; t += 30) {
        Feed(cache, ContPacket(1, 2, t, Row(t, 4)));
    }
    const std::uint32_t electrodes[] = {1, 6, 3};
    std::vector<double> matrix(3 * 5, kUntouched);
    std::uint32_t delivered[3] = {};
    std::uint32_t start = 0;
    ASSERT_EQ(Block(&start, matrix.data(), 3, 5, 1, 2, electrodes, 3, delivered, 0, false), 5);
    EXPECT_EQ(start, 180u);
    EXPECT_EQ(delivered[0], 5u);
    EXPECT_EQ(delivered[1], 0u);
    EXPECT_EQ(delivered[2], 5u);
    EXPECT_EQ(matrix[0], double(Value(180, 1))) << "unscaled";
    EXPECT_EQ(matrix[1], kUntouched);
    EXPECT_EQ(matrix[3 * 4 + 2], double(Value(300, 3)));

    const std::uint32_t outside[] = {6, 30};
    EXPECT_EQ(Block(&start, matrix.data(), 2, 5, 1, 2, outside, 2, delivered, 0, false), 0);
}

TEST_F(BlockReadTest, EmptyRingsSegmentStreamsAndMissingModulesGiveNothing) {
    const std::uint32_t electrodes[] = {0, 1};
    std::vector<double> matrix(2 * 8, kUntouched);
    std::uint32_t delivered[2] = {5, 5};
    std::uint32_t start = 42;
    // Nothing stored yet.
    EXPECT_EQ(Block(&start, matrix.data(), 2, 8, 2, 1, electrodes, 2, delivered, 0, true), 0);
    EXPECT_EQ(delivered[0], 0u);
    // A segment stream ("spk" of module 2 is stream 3) and a module that is not there.
    EXPECT_EQ(Block(&start, matrix.data(), 2, 8, 2, 3, electrodes, 2, delivered, 0, true), 0);
    EXPECT_EQ(Block(&start, matrix.data(), 2, 8, 20, 1, electrodes, 2, delivered, 0, true), 0);
    // A run beyond the matrix's columns is refused.
    FeedLfp(300, 20);
    EXPECT_EQ(Block(&start, matrix.data(), 1, 8, 2, 1, electrodes, 2, delivered, 0, true), 0);
    EXPECT_EQ(start, 42u);
    for (double value : matrix) {
        ASSERT_EQ(value, kUntouched);
    }
}

TEST_F(BlockReadTest, FloatStreamsAndWindowsLongerThanTheRing) {
    // hi-res of front end 0: module 2, stream 2, floats every 15 ticks, depth 10240.
    for (std::uint32_t i = 0; i < 10300; ++i) {
        std::vector<float> row(32);
        for (unsigned c = 0; c < 32; ++c) {
            row[c] = float(i) + 0.25f * float(c);
        }
        Feed(cache, FloatPacket(2, 2, 15 + i * 15, row));
    }
    const std::uint32_t electrodes[] = {2, 31};
    std::vector<double> matrix(2 * 20000, kUntouched);
    std::uint32_t delivered[2] = {};
    std::uint32_t start = 0;
    ASSERT_EQ(Block(&start, matrix.data(), 2, 20000, 2, 2, electrodes, 2, delivered, 0, true),
              10240);
    EXPECT_EQ(start, 15u + 60 * 15);
    EXPECT_EQ(matrix[0], 60.5);
    EXPECT_EQ(matrix[2 * 10239 + 1], 10299 + 7.75);
    EXPECT_EQ(matrix[2 * 10240], kUntouched);
}

TEST_F(BlockReadTest, RunsOfTwoFrontEndsStayAlignedWhenOneRingMovedOn) {
    // lfp of both front ends; front end 1 (module 4) took two samples more than front end 0.
    FeedLfp(3000, 6000);
    for (std::uint32_t i = 0; i < 6002; ++i) {
        const std::uint32_t t = 3000 + i * 30;
        Feed(cache, ContPacket(4, 1, t, Row(t + 1, 32)));
    }
    const std::uint32_t electrodes[] = {0, 1, 35};
    const KestContBlockRun runs[] = {{2, 1, 0, 2}, {4, 1, 2, 1}};
    const std::uint32_t count = 5120; // the whole ring
    std::vector<double> matrix(3 * count, kUntouched);
    std::uint32_t delivered[3] = {};
    std::uint32_t start = 0;
    // The first front end's window starts two samples before what the second still holds:
    // the common start moves on by two samples and the first rows end two samples early.
    ASSERT_EQ(cache.GetContDataBlock(&start, matrix.data(), 3, count, runs, 2, electrodes,
                                     delivered, 0, true),
              int(count));
    const std::uint32_t newest0 = 3000 + 5999 * 30;
    EXPECT_EQ(start, newest0 - (count - 1) * 30 + 2 * 30);
    EXPECT_EQ(delivered[0], count - 2);
    EXPECT_EQ(delivered[1], count - 2);
    EXPECT_EQ(delivered[2], count);
    for (std::uint32_t j = 0; j < count; ++j) {
        const std::uint32_t t = start + j * 30;
        if (j < count - 2) {
            ASSERT_EQ(matrix[3 * j + 1], 0.5 * Value(t, 1)) << j;
        } else {
            ASSERT_EQ(matrix[3 * j + 1], kUntouched) << j;
        }
        ASSERT_EQ(matrix[3 * j + 2], 0.5 * Value(t + 1, 3)) << j;
    }

    // From a given time nothing moves: the first front end's rows are read from that time.
    std::fill(matrix.begin(), matrix.end(), kUntouched);
    const std::uint32_t from = newest0 - 99 * 30;
    ASSERT_EQ(cache.GetContDataBlock(&start, matrix.data(), 3, 200, runs, 2, electrodes, delivered,
                                     from, true),
              102);
    EXPECT_EQ(start, from);
    EXPECT_EQ(delivered[0], 100u);
    EXPECT_EQ(matrix[0], 0.5 * Value(from, 0));
    EXPECT_EQ(matrix[2], 0.5 * Value(from + 1, 3));
}

} // namespace
