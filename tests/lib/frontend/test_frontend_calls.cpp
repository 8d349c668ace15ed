// The front-end setting and impedance calls against the emulated processor over loopback:
// what the processor stores after each set, what the library reads back, and the refusals.
#include "tests/links/LinkTestEnv.h"

#include "client/KestClient.h"
#include "client/KestSendAndRecv.h"
#include "emulator/model/ImpedanceKnobs.h"
#include "emulator/model/ProcessorModel.h"
#include "include/kestlib.h"
#include "lib/FrontEndAccess.h"
#include "lib/ImpedanceTiming.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using links_test::WaitFor;
using Record = std::vector<std::uint8_t>;
using Adjust = std::function<void(paxsim::ProcessorModel&)>;

// Modules of the four front ends: stim, recording, EMG, transceiver.
constexpr std::uint8_t kStimFe = 1;
constexpr std::uint8_t kRecordingFe = 3;

float FloatAt(const Record& record, std::size_t offset) {
    float value = 0;
    if (record.size() >= offset + 4) {
        std::memcpy(&value, &record[offset], 4);
    }
    return value;
}

std::uint16_t WordAt(const Record& record, std::size_t offset) {
    return record.size() >= offset + 2 ? std::uint16_t(record[offset] | record[offset + 1] << 8)
                                       : 0xFFFF;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class FrontEndLive : public ::testing::Test {
  protected:
    void SetUp() override {
        LINKS_REQUIRE_LOOPBACK();
        net_ = links_test::UseLoopbackNet(3);
    }
    void TearDown() override {
        kl_close();
        if (server_) {
            server_->Stop();
        }
        kestlib::GetImpedanceTiming() = kestlib::ImpedanceTiming{};
    }

    // Four front ends; `adjust` changes the model before the library reads it.
    void Open(const Adjust& adjust = nullptr) {
        // The 30 kHz streams stay off: under load their datagrams would crowd out answers.
        paxsim::ModelConfig config = paxsim::ModelConfig::Default(4);
        for (paxsim::FrontEndConfig& frontEnd : config.frontEnds) {
            frontEnd.raw = false;
        }
        paxsim::ServerOptions options;
        options.mode = paxsim::TransportMode::Udp;
        options.net = net_;
        paxsim::DataConfig data;
        data.spikeRate = 0;
        data.digitalRate = 0;
        server_ = std::make_unique<paxsim::Server>(config, data, options);
        server_->Start();
        if (adjust) {
            server_->WithModel([&](paxsim::ProcessorModel& model, auto&) { adjust(model); });
        }
        // A busy machine may answer slowly: these tests are not about the open's bounds.
        links_test::GenerousHandshake();
        ASSERT_EQ(kl_open_udp(), KL_SUCCESS);
    }

    template <typename Fn> auto Model(Fn fn) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, auto&) { return fn(model); });
    }
    Record Stored(std::uint8_t module, std::uint16_t index) {
        return Model([&](paxsim::ProcessorModel& m) { return m.Find(module)->records.at(index); });
    }
    std::uint16_t Index(std::uint8_t module, const std::string& name) {
        return Model([&](paxsim::ProcessorModel& m) { return m.Find(module)->Index(name); });
    }
    Record Named(std::uint8_t module, const std::string& name) {
        return Stored(module, Index(module, name));
    }
    std::uint16_t BlockFirst(std::uint8_t module, const std::string& name) {
        return Model(
            [&](paxsim::ProcessorModel& m) { return m.Find(module)->blocks.at(name).first; });
    }
    void Knob(const std::string& arguments) {
        ASSERT_EQ(Model([&](paxsim::ProcessorModel& m) {
                      return paxsim::ApplyImpedanceKnob(m, arguments);
                  }),
                  "ok");
    }
    std::uint64_t Sets() {
        return Model([](paxsim::ProcessorModel& m) { return m.Counters().sets; });
    }

    paxsim::NetConfig net_;
    std::unique_ptr<paxsim::Server> server_;
};

// --- Fast settle

TEST_F(FrontEndLive, FastSettleChoicesAndDurationsPerKind) {
    Open();
    char items[8][128];
    std::memset(items, 'x', sizeof items);
    int current = -1;
    EXPECT_EQ(kl_fast_settle_get_choices(0, "stim", items, 8, &current), 2);
    EXPECT_STREQ(items[0], "Off");
    EXPECT_STREQ(items[1], "On");
    EXPECT_EQ(current, 0);

    // Texts go into at most `capacity` entries; the count is that of every choice.
    std::memset(items, 'x', sizeof items);
    EXPECT_EQ(kl_fast_settle_get_choices(1, "digin", items, 2, nullptr), 6);
    EXPECT_STREQ(items[1], "Digital Input 1");
    EXPECT_EQ(items[2][0], 'x');
    std::memset(items, 'x', sizeof items);
    EXPECT_EQ(kl_fast_settle_get_choices(1, "digin", items, 0, nullptr), 6);
    EXPECT_EQ(items[0][0], 'x');

    int bits = 0;
    float duration = 0;
    EXPECT_EQ(kl_fast_settle_get_duration(0, "stim", &bits), KL_SUCCESS);
    std::memcpy(&duration, &bits, 4);
    EXPECT_EQ(duration, 0.5f);
    EXPECT_EQ(kl_fast_settle_get_duration(1, "digin", &bits), KL_SUCCESS);
    std::memcpy(&duration, &bits, 4);
    EXPECT_EQ(duration, 1.0f);
}

TEST_F(FrontEndLive, FastSettleSetsSourceAndDurationAtTheStoredRecordSize) {
    // A duration record longer than the usual 20 bytes: the set keeps all of it.
    Open([](paxsim::ProcessorModel& model) {
        model.Find(kRecordingFe)->Value("Fast Settle Duration").resize(28, 0xAB);
    });
    const std::uint32_t source = 3;
    const float duration = 2.5f;
    ASSERT_EQ(kl_fast_settle(1, "digin", &source, &duration), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([&] {
        return WordAt(Named(kRecordingFe, "Fast Settle Source"), 4) == 3 &&
               FloatAt(Named(kRecordingFe, "Fast Settle Duration"), 4) == 2.5f;
    }));
    const Record stored = Named(kRecordingFe, "Fast Settle Duration");
    ASSERT_EQ(stored.size(), 28u);
    EXPECT_EQ(stored[27], 0xAB);
    EXPECT_EQ(FloatAt(stored, 12), 10.0f) << "the range stays";

    // The echoes reach the library; a duration alone leaves the source.
    const float longer = 4.0f;
    ASSERT_EQ(kl_fast_settle(1, "digin", nullptr, &longer), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([&] {
        int current = -1;
        int bits = 0;
        float read = 0;
        kl_fast_settle_get_choices(1, "digin", nullptr, 0, &current);
        kl_fast_settle_get_duration(1, "digin", &bits);
        std::memcpy(&read, &bits, 4);
        return current == 3 && read == 4.0f;
    }));
}

TEST_F(FrontEndLive, FastSettleRefusalsSendNothing) {
    Open();
    const std::uint64_t sets = Sets();
    const std::uint32_t six = 6;
    const float nan = std::nanf("");
    const float eleven = 11.0f;
    char items[8][128];
    int bits = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_fast_settle(1, "digin", &six, nullptr), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_fast_settle(1, "digin", nullptr, &nan), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_fast_settle(1, "digin", nullptr, &eleven), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_fast_settle_get_choices(2, "stim", items, 8, nullptr), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_fast_settle_get_choices(3, "stim", items, 8, nullptr), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_fast_settle_get_choices(9, "stim", items, 8, nullptr), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_fast_settle_get_duration(0, "analog", &bits), KL_ERR_UNKNOWN);
    EXPECT_EQ(kl_fast_settle_get_duration(3, "digin", &bits), KL_ERR_UNKNOWN);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Contains(errors, "kl_fast_settle: invalid selection 6 out of range [0:5]\n"));
    EXPECT_TRUE(Contains(errors, "kl_fast_settle: invalid duration nan out of range "
                                 "[0.000000:10.000000]\n"));
    EXPECT_TRUE(Contains(errors, "kl_fast_settle: invalid duration 11.000000"));
    EXPECT_TRUE(Contains(errors, "verify_fast_settle_fe: Front End 32ch EMG A3 does not support "
                                 "fast settle\n"));
    EXPECT_TRUE(
        Contains(errors, "kl_fast_settle_get_choices: front end 3 does not support fast settle\n"));
    EXPECT_TRUE(Contains(errors, "verify_fast_settle_fe: Invalid front end 9\n"));
    EXPECT_TRUE(Contains(errors, "kl_fast_settle_get_duration: invalid command string analog, "
                                 "should be 'stim' or 'digin'\n"));
    EXPECT_TRUE(
        Contains(errors, "kl_fast_settle_get_duration: front end 3 does not support fast settle\n"))
        << errors;
    EXPECT_EQ(Sets(), sets);
}

TEST_F(FrontEndLive, RecordClearedByAnUnansweredWriteCountsAsMissing) {
    Open();
    Model([](paxsim::ProcessorModel& m) {
        m.SetEchoMode(paxsim::EchoMode::Drop);
        return 0;
    });
    auto combo = kestlib::FastSettleCombo(0, kestlib::FastSettleKind::Stim);
    ASSERT_TRUE(combo);
    combo->box.selection = 1;
    EXPECT_FALSE(KestSendAndRecv(nullptr, nullptr, 50)
                     .SendComboBox(combo->box, unsigned(combo->module), unsigned(combo->index)));
    char items[8][128];
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_fast_settle_get_choices(0, "stim", items, 8, nullptr), KL_ERR_UNKNOWN);
    EXPECT_TRUE(Contains(testing::internal::GetCapturedStderr(), "does not support fast settle"));
}

// --- Ground and reference

TEST_F(FrontEndLive, GroundAndReferenceSwitches) {
    Open();
    const std::uint16_t ground = BlockFirst(kStimFe, "Channel Ground Enable Descriptor Block");
    const std::uint16_t reference =
        BlockFirst(kRecordingFe, "Channel Reference Enable Descriptor Block");
    EXPECT_EQ(kl_hw_ground(5, 1), KL_SUCCESS);
    EXPECT_EQ(kl_hw_reference(40, 1), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([&] {
        return Stored(kStimFe, ground + 5)[4] == 1 && Stored(kRecordingFe, reference + 8)[4] == 1;
    }));
    EXPECT_EQ(Stored(kStimFe, ground + 4)[4], 0) << "only the electrode's channel";
    EXPECT_EQ(kl_hw_ground(5, 0), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return Stored(kStimFe, ground + 5)[4] == 0; }));

    EXPECT_EQ(kl_hw_ground(10240, 1), KL_ERR_UNSUPPORTED) << "analog inputs have no switch";
    EXPECT_EQ(kl_hw_reference(600, 1), KL_ERR_INVALID_ELECTRODE);
}

// --- Output sources

TEST_F(FrontEndLive, OutputSourcesListedAndSet) {
    // One input connection record longer than usual: a set keeps all of it.
    Open([](paxsim::ProcessorModel& model) {
        paxsim::ModuleModel* digital = model.Find(34);
        digital->records.at(digital->blocks.at("Input Connections").first + 1).resize(152, 0xCD);
    });
    char names[KL_LIST_OUTPUT_MAX][128];
    ASSERT_EQ(kl_list_output(names, 34), 4);
    EXPECT_STREQ(names[0], "SMA Out 1");
    EXPECT_STREQ(names[3], "SMA Out 4");
    ASSERT_EQ(kl_list_output(names, 33), 4);
    EXPECT_STREQ(names[1], "Analog Out 2");
    EXPECT_EQ(kl_list_output(names, 99), KL_ERR_UNSUPPORTED);

    char text[1024];
    ASSERT_EQ(kl_digout_source(0, text), KL_SUCCESS);
    EXPECT_STREQ(text, "Disabled");

    auto shows = [&](int (*query)(int, char*), int channel, const char* expected) {
        return WaitFor(
            [&] { return query(channel, text) == 0 && std::strcmp(text, expected) == 0; });
    };
    EXPECT_EQ(kl_digout_source_set(1, 5, "spk"), KL_SUCCESS);
    EXPECT_TRUE(shows(kl_digout_source, 1, "A-1-06 - spk")) << text;
    EXPECT_EQ(kl_anaout_source_set(0, 3, "lfp"), KL_SUCCESS);
    EXPECT_TRUE(shows(kl_anaout_source, 0, "A-1-04 - lfp")) << text;
    EXPECT_EQ(kl_anaout_source_set(2, 10241, "1ksps"), KL_SUCCESS);
    EXPECT_TRUE(shows(kl_anaout_source, 2, "Analog In 2 - Analog 1 kS/s")) << text;
    const Record record = Stored(34, BlockFirst(34, "Input Connections") + 1);
    ASSERT_EQ(record.size(), 152u);
    EXPECT_EQ(record[151], 0xCD);
    EXPECT_EQ(record[6], 2) << "the processing module";
    EXPECT_EQ(record[7], 6 + 5) << "the electrode's own segment stream";
}

TEST_F(FrontEndLive, OutputSourceRefusals) {
    Open();
    const std::uint64_t sets = Sets();
    char text[1024];
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_digout_source_set(1, 5, "raw"), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_anaout_source_set(0, 5, "spk"), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_anaout_source_set(0, 5, "hi-res"), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_digout_source_set(1, 5, "nothing"), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_digout_source_set(4, 5, "spk"), KL_ERR_UNSUPPORTED);
    for (int channel : {4, -1}) {
        std::strcpy(text, "junk");
        EXPECT_EQ(kl_digout_source(channel, text), KL_ERR_UNSUPPORTED);
        EXPECT_STREQ(text, "");
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Contains(errors, "kl_digout_source: stream raw is not SPIKE data type\n"));
    EXPECT_TRUE(Contains(errors, "kl_anaout_source_set: stream spk is SPIKE data type\n"));
    EXPECT_TRUE(Contains(errors, "kl_anaout_source_set: stream hi-res is not enabled\n"));
    EXPECT_TRUE(Contains(errors, "kl_digout_source: stream nothing not found for electrode 5\n"));
    EXPECT_TRUE(
        Contains(errors, "kl_digout_source: failed to quarry digital source for channel 4\n"))
        << errors;
    EXPECT_EQ(Sets(), sets);

    // Sources the text cannot name: a digital output fed by a module without segment streams,
    // an analog output fed by a channel that does not exist. Both give an empty text.
    const std::uint16_t digital = BlockFirst(34, "Input Connections");
    const std::uint16_t analog = BlockFirst(33, "Input Connections");
    Record fromAnalog = Stored(34, digital + 2);
    fromAnalog[6] = 33;
    fromAnalog[7] = 2;
    Record belowSegments = Stored(34, digital + 3);
    belowSegments[6] = 2; // the processing module, stream 1 ("lfp") lies before its "spk"
    belowSegments[7] = 1;
    Record missingChannel = Stored(33, analog + 3);
    missingChannel[6] = 33;
    missingChannel[7] = 2;
    missingChannel[10] = 99;
    ASSERT_EQ(gKestClient->SendKestProperty(fromAnalog.data(), 34, digital + 2, fromAnalog.size()),
              1);
    ASSERT_EQ(
        gKestClient->SendKestProperty(missingChannel.data(), 33, analog + 3, missingChannel.size()),
        1);
    ASSERT_EQ(
        gKestClient->SendKestProperty(belowSegments.data(), 34, digital + 3, belowSegments.size()),
        1);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(WaitFor([&] {
        std::strcpy(text, "junk");
        return kl_digout_source(2, text) == KL_ERR_UNSUPPORTED && text[0] == '\0';
    }));
    EXPECT_TRUE(WaitFor([&] {
        std::strcpy(text, "junk");
        return kl_digout_source(3, text) == KL_ERR_UNSUPPORTED && text[0] == '\0';
    }));
    EXPECT_TRUE(WaitFor([&] {
        std::strcpy(text, "junk");
        return kl_anaout_source(3, text) == KL_ERR_UNSUPPORTED && text[0] == '\0';
    }));
    EXPECT_TRUE(Contains(testing::internal::GetCapturedStderr(),
                         "kl_digout_source: the source of channel 2 has no segment stream\n"));
}

// --- Impedance

TEST_F(FrontEndLive, ImpedanceCurrentsAndMeasurements) {
    Open();
    std::uint16_t currents[10] = {};
    ASSERT_EQ(kl_get_ic_current_for_elec(0, currents, 10), 3);
    EXPECT_EQ(currents[0], 1);
    EXPECT_EQ(currents[1], 10);
    EXPECT_EQ(currents[2], 100);
    EXPECT_EQ(kl_get_ic_current_for_elec(0, currents, 2), 2);
    EXPECT_EQ(kl_get_ic_current_for_elec(512, currents, 10), -1);
    EXPECT_EQ(kl_get_ic_current_for_elec(0, nullptr, 10), -1);

    const std::uint32_t electrodes[3] = {32, 37, 63};
    float results[3] = {};
    ASSERT_EQ(kl_imp(results, electrodes, 3, -1, 1), KL_SUCCESS);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(results[k], paxsim::ProcessorModel::ImpedanceOhms(electrodes[k]));
    }
    // The set-up names each channel with the default current (10 uA, item 1) and the cycles.
    Record control = Named(kRecordingFe, "Impedance Control");
    EXPECT_EQ(WordAt(control, 4), 12);
    EXPECT_EQ(WordAt(control, 16 + 8), 5) << "channel of electrode 37";
    EXPECT_EQ(WordAt(control, 16 + 8 + 4), 1);
    EXPECT_EQ(WordAt(control, 16 + 8 + 6), 1);

    ASSERT_EQ(kl_imp(results, electrodes, 2, 100, 1000), KL_SUCCESS);
    control = Named(kRecordingFe, "Impedance Control");
    EXPECT_EQ(WordAt(control, 4), 8);
    EXPECT_EQ(WordAt(control, 16 + 4), 2);
    EXPECT_EQ(WordAt(control, 16 + 6), 1000);
}

TEST_F(FrontEndLive, ImpedanceListsAreReadWithinTheirStoredSize) {
    // The current list claims 50 values; its 24 bytes hold 4 (1, 10, 100 and a padding 0).
    Open([](paxsim::ProcessorModel& model) {
        paxsim::Record& list = model.Find(1)->Value("Impedance Current List");
        list.resize(24, 0);
        list[6] = 50;
    });
    std::uint16_t currents[60] = {};
    EXPECT_EQ(kl_get_ic_current_for_elec(0, currents, 60), 4);
    EXPECT_EQ(currents[2], 100);
    const std::uint32_t electrode[1] = {0};
    float result = 0;
    ASSERT_EQ(kl_imp(&result, electrode, 1, 100, 1), KL_SUCCESS);
    EXPECT_EQ(result, paxsim::ProcessorModel::ImpedanceOhms(0));
}

TEST_F(FrontEndLive, ImpedanceMarkersAndUnsupportedCurrent) {
    Open([](paxsim::ProcessorModel& model) {
        paxsim::ApplyImpedanceKnob(model, "underflow 33");
        paxsim::ApplyImpedanceKnob(model, "overflow 34");
    });
    const std::uint32_t electrodes[3] = {32, 33, 34};
    float results[3] = {};
    testing::internal::CaptureStderr();
    ASSERT_EQ(kl_imp(results, electrodes, 3, -1, 1), KL_SUCCESS);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(results[0], paxsim::ProcessorModel::ImpedanceOhms(32));
    EXPECT_TRUE(std::isnan(results[1]));
    EXPECT_TRUE(std::isnan(results[2]));
    EXPECT_TRUE(Contains(errors, "kl_imp: impedance underflow 33\n"));
    EXPECT_TRUE(Contains(errors, "kl_imp: impedance overflow 34\n"));

    const std::uint64_t sets = Sets();
    testing::internal::CaptureStdout();
    EXPECT_EQ(kl_imp(results, electrodes, 1, 5, 1), -2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "kl_imp: Unsupported current value.\nkl_imp: Supported current: 1uA 10uA 100uA \n");
    EXPECT_EQ(Sets(), sets);
}

TEST_F(FrontEndLive, ImpedanceRefusesBadRequestsWithoutSending) {
    Open();
    const std::uint64_t sets = Sets();
    const std::uint32_t one[1] = {0};
    const std::uint32_t two[2] = {0, 40};
    const std::uint32_t unknown[1] = {9999};
    std::vector<std::uint32_t> many(125, 0);
    std::vector<float> results(125);
    testing::internal::CaptureStdout();
    EXPECT_EQ(kl_imp(results.data(), one, 1, -1, 0), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_imp(results.data(), one, 1, -1, 1001), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_imp(results.data(), one, 0, -1, 1), -1);
    EXPECT_EQ(kl_imp(results.data(), one, -1, -1, 1), -1);
    EXPECT_EQ(kl_imp(nullptr, one, 1, -1, 1), -1);
    EXPECT_EQ(kl_imp(results.data(), many.data(), 125, -1, 1), -1);
    EXPECT_EQ(kl_imp(results.data(), two, 2, -1, 1), -1);
    EXPECT_EQ(kl_imp(results.data(), unknown, 1, -1, 1), -1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(Contains(printed, "kl_imp: Unsupported number of cycles.\n"));
    EXPECT_TRUE(Contains(printed, "kl_imp: All channels must belong to same module.\n"));
    EXPECT_TRUE(Contains(printed, "kl_imp: Unable to find module for channel 9999.\n"));
    EXPECT_EQ(Sets(), sets);
}

TEST_F(FrontEndLive, ImpedanceSlowAndNeverCompletingMeasurements) {
    Open([](paxsim::ProcessorModel& model) { paxsim::ApplyImpedanceKnob(model, "delay 1500"); });
    const std::uint32_t electrodes[2] = {0, 1};
    float results[2] = {};
    ASSERT_EQ(kl_imp(results, electrodes, 2, -1, 1), KL_SUCCESS) << "a slow answer is waited for";
    EXPECT_EQ(results[1], paxsim::ProcessorModel::ImpedanceOhms(1));

    // A measurement that never completes ends after the measurement limit (shortened here).
    Knob("never");
    kestlib::GetImpedanceTiming().measurePolls = 4;
    testing::internal::CaptureStdout();
    EXPECT_EQ(kl_imp(results, electrodes, 2, -1, 1), -1);
    EXPECT_TRUE(Contains(testing::internal::GetCapturedStdout(),
                         "kl_imp: Impedance measurement failed. (Time out)\n"));

    // A set-up the processor never confirms ends after its own limit of 5 s.
    Model([](paxsim::ProcessorModel& m) {
        m.SetEchoMode(paxsim::EchoMode::Drop);
        return 0;
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_imp(results, electrodes, 2, -1, 1), -1);
    EXPECT_TRUE(Contains(testing::internal::GetCapturedStderr(),
                         "kl_imp: unable to set impedance control. (Time out)\n"));
}

} // namespace
