// The stimulation calls against the emulated processor over loopback: settings read back
// after their echo, sequences and calibration tables as the processor stores them, triggers
// that start waiting sequences, and the refusals that send nothing.
#include "tests/links/LinkTestEnv.h"

#include "client/KestSendAndRecv.h"
#include "include/kestlib.h"
#include "lib/StimAccess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kStimElectrode = 5;       // front end 0, stimulating
constexpr int kRecordingElectrode = 40; // front end 1, records only
constexpr int kManyOptionsElectrode = 70;
constexpr int kBadOptionElectrode = 100;

template <typename Done> bool WaitFor(Done done) {
    return links_test::WaitFor(done, std::chrono::milliseconds(30000));
}

class StimCallsLive : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(3);
        paxsim::ServerOptions options;
        // The stream link loses nothing, and only stimulation segments are streamed: the
        // checks wait for echoes and segments, which a loaded machine must not drop.
        options.mode = paxsim::TransportMode::Tcp;
        options.net = net_;
        paxsim::ModelConfig model = paxsim::ModelConfig::Default(4);
        model.frontEnds[2].kind = paxsim::FrontEndKind::Stim;
        model.frontEnds[2].calibrationBlocks = 7;
        for (int i = 1; i <= 40; ++i) {
            model.frontEnds[2].stimResolution.push_back(std::to_string(i));
        }
        model.frontEnds[3].kind = paxsim::FrontEndKind::Stim;
        model.frontEnds[3].stimResolution = {"1", "2 uA"};
        for (paxsim::FrontEndConfig& fe : model.frontEnds) {
            fe.raw = fe.lfp = fe.spk = false;
        }
        model.analog1k = false;
        paxsim::DataConfig data;
        data.spikeRate = 0;
        data.digitalRate = 0;
        server_ = std::make_unique<paxsim::Server>(model, data, options);
        server_->Start();
        // A busy machine may answer slowly: these tests are not about the open's bounds.
        links_test::GenerousHandshake();
        ASSERT_EQ(kl_open_tcp(), KL_SUCCESS);
    }
    void TearDown() override {
        kl_close();
        if (server_) {
            server_->Stop();
        }
    }

    std::vector<std::uint8_t> Stored(std::uint8_t module, std::uint16_t index) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Find(module)->records.at(index);
        });
    }
    std::uint16_t StimControl(std::uint8_t module, unsigned channel) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return std::uint16_t(
                model.Find(module)->blocks.at("Stim Control Descriptor Block").first + channel);
        });
    }
    std::uint64_t Sets() {
        return server_->WithModel([](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Counters().sets;
        });
    }
    // Sends one marker set and waits until the processor has taken it: whatever was sent
    // before has arrived by then. Returns the sets counted before the marker.
    std::uint64_t SetsBeforeMarker() {
        const int latency = kl_stim_get_latency();
        const std::uint64_t before = Sets();
        EXPECT_EQ(kl_stim_set_latency(latency), KL_SUCCESS);
        EXPECT_TRUE(WaitFor([&] { return Sets() > before; }));
        return Sets() - 1;
    }

    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
};

TEST_F(StimCallsLive, GlobalEnableAndLatencyRoundTrips) {
    EXPECT_EQ(kl_stim_enable(), 0);
    ASSERT_EQ(kl_stim_enable_set(1), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([] { return kl_stim_enable() == 1; }));
    ASSERT_EQ(kl_stim_enable_set(0), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([] { return kl_stim_enable() == 0; }));

    // The latency record: current value, minimum and maximum at offsets 4, 8 and 12.
    EXPECT_EQ(kl_stim_get_latency(), 0);
    ASSERT_EQ(kl_stim_set_latency(1000), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([] { return kl_stim_get_latency() == 1000; }));
    ASSERT_EQ(kl_stim_set_latency(0), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([] { return kl_stim_get_latency() == 0; }));
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_stim_set_latency(1001), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_stim_set_latency(-1), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_stim_set_latency: stim latency out of bounds\n"
              "kl_stim_set_latency: stim latency out of bounds\n");
}

TEST_F(StimCallsLive, ARecordClearedByAnUnansweredWriteCountsAsMissing) {
    kestlib::StimSetting at;
    ASSERT_TRUE(kestlib::GlobalStimEnable(&at, nullptr));
    server_->WithModel([](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
        model.SetEchoMode(paxsim::EchoMode::Drop);
    });
    EXPECT_FALSE(KestSendAndRecv(nullptr, nullptr, 50)
                     .SendBool(unsigned(at.module), unsigned(at.index), true));
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_stim_enable(), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_stim_enable_set(0), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_stim_enable: failed to retrieve global stim enable property\n"
              "kl_stim_enable_set: failed to retrieve global stim enable property\n");
}

TEST_F(StimCallsLive, SelectionsRoundTripAndRefuseOutOfRange) {
    float options[KL_STIM_MAX_OPTIONS] = {};
    ASSERT_EQ(kl_stim_get_res_options(kStimElectrode, options), 5);
    EXPECT_EQ(std::vector<float>(options, options + 5), (std::vector<float>{1, 2, 5, 10, 20}));
    ASSERT_EQ(kl_stim_get_exhaust_options(kStimElectrode, options), 4);
    EXPECT_EQ(std::vector<float>(options, options + 4),
              (std::vector<float>{0, 1000, 10000, 100000}));

    ASSERT_EQ(kl_stim_set_res(kStimElectrode, 4), KL_SUCCESS);
    ASSERT_EQ(kl_stim_set_exhaust(kStimElectrode, 3), KL_SUCCESS);
    ASSERT_EQ(kl_stim_set_trigger_source(kStimElectrode, 2), KL_SUCCESS);
    int level = -1, exhaust = -1, source = -1;
    EXPECT_TRUE(WaitFor([&] {
        return kl_stim_get_res(kStimElectrode, &level) == 0 && level == 4 &&
               kl_stim_get_exhaust(kStimElectrode, &exhaust) == 0 && exhaust == 3 &&
               kl_stim_get_trigger_source(kStimElectrode, &source) == 0 && source == 2;
    }));

    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_stim_set_res(kStimElectrode, 5), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_stim_set_res(kRecordingElectrode, 0), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_stim_set_exhaust(kStimElectrode, 4), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_stim_set_trigger_source(kStimElectrode, -1), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_stim_get_exhaust(kRecordingElectrode, &exhaust), KL_ERR_UNKNOWN);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_stim_set_res: level 5 is outside of allowed range\n"
              "kl_stim_set_res:  unable to access stimulation settings for electrode 40\n"
              "exhaust opt 4 not allowed on elec 5\n"
              "stim trigger source -1 not allowed on elec 5\n"
              "exhaust not allowed on elec 40\n");

    // A missing setting leaves the output alone; null outputs are refused.
    level = source = 77;
    EXPECT_EQ(kl_stim_get_res(kRecordingElectrode, &level), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_stim_get_trigger_source(kRecordingElectrode, &source), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(level, 77);
    EXPECT_EQ(source, 77);
    EXPECT_EQ(kl_stim_get_res(kStimElectrode, nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_stim_get_exhaust(kStimElectrode, nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_stim_get_trigger_source(kStimElectrode, nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_stim_get_res_options(kStimElectrode, nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_stim_get_res_options(kRecordingElectrode, options), 0);

    // The step of a selection is read only inside the option list.
    EXPECT_EQ(kestlib::StimResolutionStep(kStimElectrode, 4), 20.0);
    EXPECT_EQ(kestlib::StimResolutionStep(kStimElectrode, 5), 0.0);
    EXPECT_EQ(kestlib::StimResolutionStep(kStimElectrode, 70000), 0.0);
}

TEST_F(StimCallsLive, OptionListsStopAtTheirLimitAndRefuseTextThatIsNoNumber) {
    float options[KL_STIM_MAX_OPTIONS + 8];
    std::fill(std::begin(options), std::end(options), -7.0f);
    ASSERT_EQ(kl_stim_get_res_options(kManyOptionsElectrode, options), KL_STIM_MAX_OPTIONS);
    EXPECT_EQ(options[KL_STIM_MAX_OPTIONS - 1], float(KL_STIM_MAX_OPTIONS));
    EXPECT_EQ(options[KL_STIM_MAX_OPTIONS], -7.0f);
    EXPECT_EQ(kl_stim_get_res_options(kBadOptionElectrode, options), KL_ERR_UNKNOWN);
}

TEST_F(StimCallsLive, SequenceWordsReachTheProcessorByteForByte) {
    StimSeq_t seqs[2] = {};
    seqs[0].elec = kStimElectrode;
    seqs[0].count = 4;
    seqs[0].words[0] = std::uint32_t(kl_stim_header_word(2, 300, 7));
    seqs[0].words[1] = std::uint32_t(kl_stim_word(6, 10, 0, 1, 1, 0, 0));
    seqs[0].words[2] = std::uint32_t(kl_stim_word(2, 0, 0, 1, 1, 0, 0));
    seqs[0].words[3] = std::uint32_t(kl_stim_word(6, 10, 1, 1, 1, 0, 0));
    ASSERT_EQ(kl_stim_seq(seqs, 1), KL_SUCCESS);
    const std::uint16_t index = StimControl(1, kStimElectrode);
    std::vector<std::uint8_t> expected(16 + 16, 0);
    expected[4] = 8; // capacity and length of the word array, in 16-bit units
    expected[6] = 8;
    std::memcpy(&expected[16], seqs[0].words, 16);
    EXPECT_TRUE(WaitFor([&] {
        const auto stored = Stored(1, index);
        return stored.size() == expected.size() &&
               std::equal(stored.begin() + 4, stored.end(), expected.begin() + 4);
    }));

    // Refusals send nothing at all, not even the valid sequences before the bad one.
    seqs[0].words[3] = std::uint32_t(kl_stim_word(5, 10, 1, 1, 1, 0, 0));
    seqs[1] = seqs[0];
    seqs[1].count = KL_STIM_SEQ_MAX_SENT_WORDS + 1;
    const std::uint64_t before = Sets();
    EXPECT_EQ(kl_stim_seq(seqs, 2), KL_ERR_INVALID_PARAMETER);
    seqs[1].count = 0;
    EXPECT_EQ(kl_stim_seq(seqs, 2), KL_ERR_INVALID_PARAMETER);
    seqs[1].count = 4;
    seqs[1].elec = kRecordingElectrode;
    EXPECT_EQ(kl_stim_seq(seqs, 2), 1);
    EXPECT_EQ(kl_stim_seq(nullptr, 1), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(SetsBeforeMarker(), before);
    EXPECT_EQ(kl_stim_seq(nullptr, 0), KL_SUCCESS);
}

TEST_F(StimCallsLive, TriggersStartSequencesThatWaitForThem) {
    ASSERT_EQ(kl_stim_enable_set(1), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_stim_enable() == 1; }));
    StimSeq_t seq{};
    seq.elec = kStimElectrode;
    seq.count = 2;
    seq.words[0] = std::uint32_t(kl_stim_header_word(3, 300, 2));
    seq.words[1] = std::uint32_t(kl_stim_word(3, 5, 0, 1, 1, 0, 0));
    ASSERT_EQ(kl_stim_seq(&seq, 1), KL_SUCCESS);
    SetsBeforeMarker();
    EXPECT_EQ(kl_stim_data(nullptr, nullptr, 0, kStimElectrode), 0) << "waits for its trigger";

    ASSERT_EQ(kl_stim_trigger(kStimElectrode), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([] { return kl_stim_data(nullptr, nullptr, 0, kStimElectrode) > 0; }));
    ASSERT_EQ(kl_stim_seq(&seq, 1), KL_SUCCESS);
    ASSERT_EQ(kl_stim_trigger_all(), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([] { return kl_stim_data(nullptr, nullptr, 0, kStimElectrode) > 0; }));

    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_stim_trigger(kRecordingElectrode), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_stim_trigger: failed to set stim trigger on elec 40\n");
}

TEST_F(StimCallsLive, CalibrationReadLoadAndStart) {
    KestStimCalib_t* record = kl_stim_calib_get(kStimElectrode);
    ASSERT_NE(record, nullptr);
    EXPECT_LE(record->timestamp, 3u) << "not calibrated yet";
    kl_stim_calib_free(record);

    ASSERT_EQ(kl_stim_calib_start(kStimElectrode), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([] {
        KestStimCalib_t* run = kl_stim_calib_get(kStimElectrode);
        bool done = run != nullptr && run->timestamp > 3 && run->table[0] == 1000 &&
                    run->table[639] == 1639;
        kl_stim_calib_free(run);
        return done;
    }));

    auto table = std::make_unique<KestStimCalib_t>();
    table->timestamp = 0x1234;
    for (int i = 0; i < 640; ++i) {
        table->table[i] = std::uint16_t(7 * i);
    }
    ASSERT_EQ(kl_stim_calib_set(kStimElectrode, table.get()), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([&] {
        KestStimCalib_t* loaded = kl_stim_calib_get(kStimElectrode);
        bool same = loaded != nullptr && std::memcmp(loaded, table.get(), sizeof *loaded) == 0;
        kl_stim_calib_free(loaded);
        return same;
    }));

    // A table of more blocks than a record holds: the first five are read, no more.
    ASSERT_EQ(kl_stim_calib_start(kManyOptionsElectrode), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([] {
        KestStimCalib_t* run = kl_stim_calib_get(kManyOptionsElectrode);
        bool done = run != nullptr && run->timestamp > 3 && run->table[639] == 1639;
        kl_stim_calib_free(run);
        return done;
    }));

    // An electrode without a calibration table: nothing sent anywhere.
    const std::uint64_t before = Sets();
    EXPECT_EQ(kl_stim_calib_get(kRecordingElectrode), nullptr);
    EXPECT_EQ(kl_stim_calib_set(kRecordingElectrode, table.get()), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_stim_calib_start(kRecordingElectrode), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_stim_calib_set(kStimElectrode, nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(SetsBeforeMarker(), before);
    EXPECT_EQ(kl_stim_calib_free(nullptr), KL_SUCCESS);
}

} // namespace
