// The continuous ring against a plain model: every row ever stored kept in a list, markers
// written one by one, reads taken value by value. Random streams of samples with small gaps,
// repeats and late times, then random reads of every kind, must agree exactly.
#include "cache/ContDataBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

class ModelRing {
  public:
    ModelRing(std::uint32_t depth, std::uint32_t channels, std::int32_t period, double scale)
        : depth_(depth), channels_(channels), period_(period), scale_(scale) {}

    void Add(const std::vector<float>& row, std::uint32_t time) {
        if (stored_) {
            const std::int32_t k = static_cast<std::int32_t>(time - last_) / period_;
            if (k < 1) {
                return;
            }
            for (std::int32_t i = 1; i < k; ++i) {
                rows_.emplace_back(channels_, -32768.0f);
            }
        }
        rows_.push_back(row);
        last_ = time;
        stored_ = true;
    }

    // Row `back` rows before the next one (1 = newest); zeros before the first row. Channels
    // are the ring's own (no mod 32 here).
    float Value(std::uint32_t back, std::uint32_t channel, bool scale) const {
        float value = back <= rows_.size() ? rows_[rows_.size() - back][channel] : 0.0f;
        if (scale && scale_ != 1.0) {
            value = static_cast<float>(static_cast<double>(value) * scale_);
        }
        return value;
    }

    std::vector<float> Top(std::uint32_t channel, std::uint32_t count, bool scale,
                           std::uint32_t* start) const {
        count = std::min(count, depth_);
        *start = last_ - (count - 1) * std::uint32_t(period_);
        std::vector<float> out;
        for (std::uint32_t i = count; i >= 1; --i) {
            out.push_back(Value(i, channel, scale));
        }
        return out;
    }

    // Rows back from the first row at or after `time`, or -1 when not held.
    long long Rows(std::uint32_t time) const {
        const std::uint32_t d = (last_ + std::uint32_t(period_) - time) / std::uint32_t(period_);
        return d > depth_ ? -1LL : static_cast<long long>(d);
    }

    std::vector<float> Since(std::uint32_t time, std::uint32_t channel, std::uint32_t count,
                             bool scale) const {
        std::vector<float> out;
        const long long d = Rows(time);
        if (d < 0) {
            return out;
        }
        count = std::min<std::uint32_t>(count, std::uint32_t(d));
        for (std::uint32_t i = 0; i < count; ++i) {
            out.push_back(Value(std::uint32_t(d) - i, channel, scale));
        }
        return out;
    }

    std::uint32_t Last() const { return last_; }

  private:
    std::uint32_t depth_;
    std::uint32_t channels_;
    std::int32_t period_;
    double scale_;
    std::vector<std::vector<float>> rows_;
    std::uint32_t last_ = 0;
    bool stored_ = false;
};

// Reads by time print a warning for every time the ring does not hold; `warnings` counts the
// warnings expected.
template <typename T> void RunAgainstModel(std::uint32_t seed, std::size_t* warnings) {
    std::mt19937 random(seed);
    auto pick = [&](std::uint32_t low, std::uint32_t high) {
        return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
    };
    const std::uint32_t depth = pick(1, 40);
    const std::uint32_t channels = pick(1, 40);
    const std::int32_t period = std::int32_t(pick(1, 31));
    const double scale = pick(0, 1) ? 1.0 : 0.37;
    SCOPED_TRACE(testing::Message() << "seed " << seed << " depth " << depth << " channels "
                                    << channels << " period " << period);

    ContDataBuffer<T> ring(depth, channels, period, scale);
    ModelRing model(depth, channels, period, scale);
    std::uint32_t time = pick(0, 0xFFFFFFFFu); // anywhere, including just before the wrap
    std::vector<T> row(channels);
    std::vector<float> rowAsFloat(channels);
    std::vector<float> out(2 * depth * channels + 8);

    for (int step = 0; step < 400; ++step) {
        switch (pick(0, 9)) {
        case 0:
            time -= pick(0, 3 * std::uint32_t(period)); // repeat or late: dropped
            break;
        case 1:
            time += pick(1, std::uint32_t(period)); // maybe less than a period
            break;
        case 2:
            time += std::uint32_t(period) * pick(2, 2 * depth + 2); // a gap
            break;
        case 3:
            time += std::uint32_t(period) * pick(depth, 20 * depth); // a ring or more
            break;
        default:
            time += std::uint32_t(period);
            break;
        }
        for (std::uint32_t c = 0; c < channels; ++c) {
            row[c] = static_cast<T>(int(pick(0, 2000)) - 1000);
            rowAsFloat[c] = static_cast<float>(row[c]);
        }
        ring.AddTimeSample(row.data(), time);
        model.Add(rowAsFloat, time);
        ASSERT_EQ(ring.GetLastTime(), model.Last());

        const std::uint32_t channel = pick(0, channels - 1) + 32 * pick(0, 2);
        if (channel % 32 >= channels) {
            continue;
        }
        const bool scaled = pick(0, 1) == 1;
        const std::uint32_t count = pick(0, depth + 3);

        std::uint32_t start = 1;
        std::uint32_t expectedStart = 0;
        const auto top = model.Top(channel % 32, count, scaled, &expectedStart);
        const std::uint32_t got = ring.GetDataFromTop(&start, out.data(), channel, count, scaled);
        ASSERT_EQ(std::vector<float>(out.begin(), out.begin() + got), top);
        ASSERT_EQ(start, expectedStart);

        // A time somewhere from a ring before the newest row to just after it.
        const std::uint32_t back = pick(0, (depth + 2) * std::uint32_t(period));
        const std::uint32_t from = model.Last() + std::uint32_t(period) - back;
        const auto since = model.Since(from, channel % 32, count, scaled);
        const std::uint32_t gotSince =
            ring.GetDataByTimeStamp(out.data(), from, channel, count, scaled);
        ASSERT_EQ(std::vector<float>(out.begin(), out.begin() + gotSince), since);
        if (model.Rows(from) < 0) {
            *warnings += 2; // this read and the all-channel read below
        }

        // Every channel at once agrees with the single-channel reads.
        std::uint32_t allChannels = 0;
        const std::uint32_t rows = ring.GetAllData(&start, out.data(), &allChannels, count, scaled);
        ASSERT_EQ(allChannels, channels);
        ASSERT_EQ(start, expectedStart);
        for (std::uint32_t c = 0; c < channels; ++c) {
            const auto column = model.Top(c, count, scaled, &expectedStart);
            ASSERT_EQ(rows, column.size());
            for (std::uint32_t r = 0; r < rows; ++r) {
                ASSERT_EQ(out[r * channels + c], column[r]) << "row " << r << " channel " << c;
            }
        }
        const std::uint32_t rowsSince =
            ring.GetAllDataByTimeStamp(out.data(), &allChannels, from, count, scaled);
        for (std::uint32_t c = 0; c < channels; ++c) {
            const auto column = model.Since(from, c, count, scaled);
            ASSERT_EQ(rowsSince, column.size());
            for (std::uint32_t r = 0; r < rowsSince; ++r) {
                ASSERT_EQ(out[r * channels + c], column[r]) << "row " << r << " channel " << c;
            }
        }
    }
}

template <typename T> void RunSeeds(std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t seed = first; seed <= last; ++seed) {
        std::size_t warnings = 0;
        testing::internal::CaptureStderr();
        RunAgainstModel<T>(seed, &warnings);
        const std::string printed = testing::internal::GetCapturedStderr();
        if (testing::Test::HasFatalFailure()) {
            return;
        }
        std::string expected;
        for (std::size_t i = 0; i < warnings; ++i) {
            expected += "warning: invalid timestamp\n";
        }
        ASSERT_EQ(printed, expected) << "seed " << seed;
    }
}

TEST(ContRingModel, ShortRingsAgreeWithTheModel) {
    RunSeeds<short>(1, 40);
}

TEST(ContRingModel, FloatRingsAgreeWithTheModel) {
    RunSeeds<float>(101, 120);
}

} // namespace
