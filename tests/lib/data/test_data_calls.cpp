// The data access calls against the emulated processor over loopback: exact sample values
// of its deterministic signals, aligned start times, drained events and what the setting
// calls make the processor store.
#include "tests/links/LinkTestEnv.h"

#include "emulator/signal/SignalModel.h"
#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t kSeed = 5;
constexpr float kRawScale = 0.25f; // µV per count of the front ends' 16-bit streams

template <typename Done> bool WaitFor(Done done, std::chrono::milliseconds limit = 30000ms) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

float Expected(std::uint32_t electrode, const char* stream, std::uint32_t time) {
    const std::uint32_t key = paxsim::ChannelKey(electrode, paxsim::StreamOrdinal(stream));
    return kRawScale * float(paxsim::ContinuousSample(kSeed, key, time));
}

// Whether `count` values equal the stream's signal from `start` on, `period` ticks apart.
bool MatchesSignal(const float* values, int count, std::uint32_t electrode, const char* stream,
                   std::uint32_t start, std::uint32_t period = 1) {
    for (int i = 0; i < count; ++i) {
        if (values[i] != Expected(electrode, stream, start + std::uint32_t(i) * period)) {
            return false;
        }
    }
    return true;
}

// Whether a read holds samples the link lost: they arrive as gap markers (the lowest 16-bit
// value). A link that fell behind passes over data, so a test of exact samples waits for a
// window without any.
bool HasGap(const std::vector<float>& values) {
    return std::find(values.begin(), values.end(), -32768 * kRawScale) != values.end();
}

class DataCallsLive : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(2);
        links_test::GenerousHandshake();
    }
    void TearDown() override {
        kl_close();
        if (server_) {
            server_->Stop();
        }
        links_test::ProductHandshake();
    }

    // Starts the processor with `frontEnds` front ends and opens the library on it.
    void Open(unsigned frontEnds, paxsim::DataConfig data = Quiet(),
              void (*adjust)(paxsim::ModelConfig&) = nullptr) {
        paxsim::ServerOptions options;
        options.mode = paxsim::TransportMode::Udp;
        options.net = net_;
        paxsim::ModelConfig model = paxsim::ModelConfig::Default(frontEnds);
        // The 30 kS/s streams only where a test reads them: the link under the thread checker
        // on a busy machine cannot keep up with more than it must.
        for (paxsim::FrontEndConfig& frontEnd : model.frontEnds) {
            frontEnd.raw = false;
        }
        if (adjust != nullptr) {
            adjust(model);
        }
        server_ = std::make_unique<paxsim::Server>(model, data, options);
        server_->Start();
        ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    }

    static paxsim::DataConfig Quiet() {
        paxsim::DataConfig data;
        data.seed = kSeed;
        data.spikeRate = 0;
        data.digitalRate = 0;
        return data;
    }

    // The time of the first sample of `electrode` the cache holds in the stream that `read`
    // (kl_cont_raw, kl_cont_lfp, ...) reads, once one has come. Rows before it were never
    // written: a read that reaches back past it is not yet a test.
    template <typename Read> std::uint32_t FirstSample(Read read, std::uint32_t electrode) {
        std::uint32_t time = 0;
        float value = 0;
        EXPECT_TRUE(WaitFor([&] { return read(&time, &value, 1, &electrode, 1, 0) == 1; }));
        return time;
    }
    std::uint32_t FirstRawSample(std::uint32_t electrode) {
        return FirstSample(kl_cont_raw, electrode);
    }

    // Waits until the cache holds `ms` milliseconds of samples.
    void Collect(std::uint32_t ms) {
        const std::uint32_t first = kl_time();
        ASSERT_TRUE(
            WaitFor([&] { return std::int32_t(kl_time() - first) > std::int32_t(30 * ms); }));
    }

    std::vector<std::uint8_t> StoredRecord(std::uint8_t module, std::uint16_t index) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Find(module)->records.at(index);
        });
    }
    std::uint16_t NamedIndex(std::uint8_t module, const std::string& name) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Find(module)->Index(name);
        });
    }

    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
};

} // namespace

TEST_F(DataCallsLive, RawSamplesOfOneFrontEndAreExactAndAligned) {
    Open(2, Quiet(), [](paxsim::ModelConfig& model) { model.frontEnds[0].raw = true; });
    Collect(300);
    const std::uint32_t electrodes[4] = {0, 5, 17, 31};
    const int count = 600;
    std::vector<float> data(4 * count, -1.0f);
    std::uint32_t start = 0;
    const std::uint32_t first = FirstRawSample(0);
    ASSERT_TRUE(WaitFor([&] {
        return kl_cont_raw(&start, data.data(), count, electrodes, 4, 0) == count &&
               std::int32_t(start - first) > 0 && !HasGap(data);
    }));
    ASSERT_NE(start, 0u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(
            MatchesSignal(&data[std::size_t(k) * count], count, electrodes[k], "raw", start))
            << "electrode " << electrodes[k] << " read from the first electrode's start";
    }

    // The same window again, asked for by its time.
    std::vector<float> again(4 * count, -1.0f);
    std::uint32_t againStart = 0;
    ASSERT_EQ(kl_cont_raw(&againStart, again.data(), count, electrodes, 4, start), count);
    EXPECT_EQ(againStart, start);
    EXPECT_EQ(again, data);

    // A window in the future holds nothing.
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_cont_raw(&againStart, again.data(), count, electrodes, 4, kl_time() + 300000), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("warning: invalid timestamp"),
              std::string::npos);
}

TEST_F(DataCallsLive, RawSamplesOfTwoFrontEndsFollowEachFrontEnd) {
    Open(2, Quiet(), [](paxsim::ModelConfig& model) {
        model.frontEnds[0].raw = true;
        model.frontEnds[1].raw = true;
    });
    Collect(300);
    // Electrodes 3 and 7 on the first front end, 40 and 45 on the second.
    const std::uint32_t electrodes[4] = {3, 7, 40, 45};
    const int count = 300;
    std::vector<float> data(4 * count, -1.0f);
    std::uint32_t start = 0;
    // Both front ends' rings hold samples from well before the window (which may start up to
    // 3000 ticks apart between them).
    const std::uint32_t first0 = FirstRawSample(3);
    const std::uint32_t first1 = FirstRawSample(40);
    const std::uint32_t later = std::int32_t(first1 - first0) > 0 ? first1 : first0;
    ASSERT_TRUE(WaitFor([&] {
        return kl_cont_raw(&start, data.data(), count, electrodes, 4, 0) == count &&
               std::int32_t(start - later) > 3000 && !HasGap(data);
    }));
    EXPECT_TRUE(MatchesSignal(&data[2 * count], count, 40, "raw", start));
    EXPECT_TRUE(MatchesSignal(&data[3 * count], count, 45, "raw", start));

    // The first front end was read from its own newest sample: find where its window
    // starts (near the second's) and check both of its electrodes from there.
    std::optional<std::uint32_t> first;
    for (std::int32_t d = -3000; d <= 3000 && !first; ++d) {
        if (MatchesSignal(&data[0], count, 3, "raw", start + std::uint32_t(d))) {
            first = start + std::uint32_t(d);
        }
    }
    ASSERT_TRUE(first.has_value()) << "electrode 3 does not follow its signal";
    EXPECT_TRUE(MatchesSignal(&data[count], count, 7, "raw", *first));
    EXPECT_FALSE(MatchesSignal(&data[0], count, 40, "raw", *first)) << "the channels differ";
}

TEST_F(DataCallsLive, LfpAndHiResSamplesAreExact) {
    Open(2, Quiet(), [](paxsim::ModelConfig& model) { model.frontEnds[1].hiRes = true; });
    Collect(300);
    const std::uint32_t electrodes[2] = {33, 60};
    std::vector<float> data(2 * 50, -1.0f);
    std::uint32_t start = 0;
    const std::uint32_t firstLfp = FirstSample(kl_cont_lfp, 33);
    ASSERT_TRUE(WaitFor([&] {
        return kl_cont_lfp(&start, data.data(), 50, electrodes, 2, 0) == 50 &&
               std::int32_t(start - firstLfp) > 0 && !HasGap(data);
    }));
    EXPECT_EQ(start % 30, 0u) << "lfp samples every 30 ticks";
    EXPECT_TRUE(MatchesSignal(&data[0], 50, 33, "lfp", start, 30));
    EXPECT_TRUE(MatchesSignal(&data[50], 50, 60, "lfp", start, 30));

    const std::uint32_t firstHiRes = FirstSample(kl_cont_hires, 33);
    ASSERT_TRUE(WaitFor([&] {
        return kl_cont_hires(&start, data.data(), 50, electrodes, 1, 0) == 50 &&
               std::int32_t(start - firstHiRes) > 0;
    }));
    for (int i = 0; i < 50; ++i) {
        const std::uint32_t key = paxsim::ChannelKey(33, paxsim::StreamOrdinal("hi-res"));
        ASSERT_EQ(data[std::size_t(i)], paxsim::FloatSample(kSeed, key, start + 15 * i)) << i;
    }
}

TEST_F(DataCallsLive, DigitalInputMax10After25Events) {
    Open(1);
    KestDigitalEventPacket events[12] = {};
    kl_digin(nullptr, nullptr, 0);
    auto generated = [&] {
        return server_->WithModel([](paxsim::ProcessorModel&, paxsim::DataGenerator& data) {
            return data.Counters().digital;
        });
    };
    const std::uint64_t before = generated();
    for (std::uint16_t k = 0; k < 25; ++k) {
        server_->InjectDigital(std::uint16_t(0x100 + k));
    }
    ASSERT_TRUE(WaitFor([&] { return generated() >= before + 25; }));
    // Packets arrive in time order: once the cache has samples from after the events were
    // generated, it has the events.
    const std::uint32_t after = server_->Now();
    ASSERT_TRUE(WaitFor([&] { return std::int32_t(kl_time() - after) >= 0; }));

    ASSERT_EQ(kl_digin(events, nullptr, 10), 25);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(events[i].parallel, 0x100 + 15 + i) << "the newest ten, oldest first";
        EXPECT_EQ(events[i].reason, 1);
        EXPECT_EQ(events[i].header.moduleId, kKestDigitalModule);
        if (i > 0) {
            EXPECT_GT(events[i].header.timestamp, events[i - 1].header.timestamp);
        }
    }
    EXPECT_EQ(events[10].parallel, 0);
    EXPECT_EQ(kl_digin(events, nullptr, 10), 0) << "the first read emptied the ring";
}

TEST_F(DataCallsLive, SpikesFollowTheirTrainsAndAreDrained) {
    paxsim::DataConfig data = Quiet();
    data.spikeRate = 40;
    Open(1, data);
    kl_spk_data(nullptr, nullptr, 0, 5);
    Collect(500);
    std::vector<KestSegmentDataPacketFixed> segments(1024);
    const int count = kl_spk_data(segments.data(), nullptr, 1024, 5);
    ASSERT_GT(count, 5);
    ASSERT_LT(count, 1024);
    paxsim::SpikeTrain train(kSeed, 5, 40);
    for (int i = 0; i < count; ++i) {
        const KestSegmentDataPacketFixed& segment = segments[std::size_t(i)];
        while (std::int32_t(train.Time() - segment.header.timestamp) < 0) {
            train.Next();
        }
        ASSERT_EQ(train.Time(), segment.header.timestamp) << "spike " << i;
        EXPECT_EQ(segment.unit, train.Unit());
        std::int16_t waveform[kKestSegmentWaveformSamples];
        paxsim::SpikeWaveform(train.Unit(), waveform);
        EXPECT_EQ(std::memcmp(segment.waveform, waveform, sizeof waveform), 0);
    }
    const int next = kl_spk_data(segments.data(), nullptr, 1024, 5);
    EXPECT_LT(next, count) << "only what arrived since the previous read";
    EXPECT_EQ(kl_stim_data(segments.data(), nullptr, 1024, 5), 0) << "no stimulation played";
}

TEST_F(DataCallsLive, ElectrodesFrontEndsAndStreamNames) {
    Open(2);
    std::vector<std::uint32_t> list(200, 0xFFFFFFFF);
    ASSERT_EQ(kl_list_elec(list.data(), 200, "all"), 2 * 32 + 16);
    EXPECT_EQ(list[32], 32u);
    EXPECT_EQ(list[64], 10240u);
    EXPECT_EQ(kl_get_fe(list[40]), 1);
    EXPECT_EQ(kl_get_fe(10250), 16);
    EXPECT_EQ(kl_get_fe(100), -1);

    char names[12][128];
    std::memset(names, '#', sizeof names);
    ASSERT_EQ(kl_get_fe_streams(names, 12, 0), 9);
    const char* expected[9] = {"HW Status", "raw", "stim", "emg",    "hi-res",
                               "hifreq",    "lfp", "spk",  "spkfilt"};
    for (int i = 0; i < 9; ++i) {
        EXPECT_STREQ(names[i], expected[i]);
    }
    EXPECT_EQ(names[9][0], '#');
    for (int max : {0, 1, 2, 5}) {
        std::memset(names, '#', sizeof names);
        ASSERT_EQ(kl_get_fe_streams(names, max, 0), max);
        for (int slot = max; slot < 12; ++slot) {
            EXPECT_EQ(names[slot][0], '#') << "max " << max << " slot " << slot;
        }
    }
}

TEST_F(DataCallsLive, DigitalOutputReachesTheProcessor) {
    Open(1);
    const std::uint32_t outputs[3] = {1, 3, 4};
    const std::uint32_t values[3] = {5, 0, 0xA5C3};
    ASSERT_EQ(kl_digout(outputs, values, 3), KL_SUCCESS);
    auto word = [&] {
        return server_->WithModel([](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.DigitalOutputWord();
        });
    };
    // Line 1 selected and high, line 3 selected and low, the parallel port.
    const std::uint32_t expected = 0x20000000 + 0x00020000 + 0x80000000 + 0x0F000000 + 0xA5C3;
    ASSERT_TRUE(WaitFor([&] { return word() == expected; })) << std::hex << word();
    std::vector<std::uint8_t> record = {1, kKestIntegerType, 0, 0, 0xC3, 0xA5, 0x02, 0xAF};
    record.resize(20, 0);
    EXPECT_EQ(StoredRecord(kKestDigitalModule, kKestDigitalOutputPropIndex), record);

    const std::uint32_t twice[2] = {2, 2};
    EXPECT_EQ(kl_digout(twice, values, 2), KL_ERR_INVALID_PARAMETER);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(word(), expected) << "a refused command sends nothing";
}

TEST_F(DataCallsLive, ThresholdsQueryAndConfirmedSet) {
    Open(2);
    float lower = 0, upper = 0;
    ASSERT_EQ(kl_spk_thresh(&lower, &upper, 37), KL_SUCCESS);
    EXPECT_EQ(lower, -200.0f);
    EXPECT_EQ(upper, 6554.0f);

    ASSERT_EQ(kl_spk_thresh_set(37, -55.5f, 300.25f), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([&] {
        kl_spk_thresh(&lower, &upper, 37);
        return lower == -55.5f && upper == 300.25f;
    })) << "the processor's echo carries the new pair";
    float other = 0, otherUpper = 0;
    ASSERT_EQ(kl_spk_thresh(&other, &otherUpper, 36), KL_SUCCESS);
    EXPECT_EQ(other, -200.0f) << "the neighbouring channel keeps its own";

    // What the processor stored: the float array with two values.
    const std::uint16_t block =
        server_->WithModel([](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Find(4)->blocks.at("Threshold Values Descriptor Block").first;
        });
    std::vector<std::uint8_t> record = {1, kKestFloatType, 0, 0, 0, 0, 2, 0};
    record.resize(20, 0);
    for (float value : {-55.5f, 300.25f}) {
        std::uint8_t bytes[4];
        std::memcpy(bytes, &value, 4);
        record.insert(record.end(), bytes, bytes + 4);
    }
    EXPECT_EQ(StoredRecord(4, std::uint16_t(block + 5)), record);

    EXPECT_EQ(kl_spk_thresh_set(100, -1, 1), -1) << "no such electrode";
}

TEST_F(DataCallsLive, CaptureSwitchQueryAndConfirmedSet) {
    Open(1);
    const std::uint16_t index = NamedIndex(kKestDigitalModule, "Capture Any Parallel Bit Change");
    EXPECT_EQ(kl_digin_bit_change(), 0);
    ASSERT_EQ(kl_digin_bit_change_set(1), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_digin_bit_change() == 1; }));
    EXPECT_EQ(StoredRecord(kKestDigitalModule, index).at(4), 1);
    ASSERT_EQ(kl_digin_bit_change_set(0), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_digin_bit_change() == 0; }));
    EXPECT_EQ(StoredRecord(kKestDigitalModule, index).at(4), 0);
}
