// The data access calls on a cache fed packet by packet: argument checks, the values and
// start times of continuous windows, destructive event reads, stream names, and the bytes
// of what the setting calls send.
#include "DataFixture.h"

#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using datatest::AppendFloat;
using datatest::Bytes;
using datatest::ExpectedConfigPacket;
using testmodel::ContPacket;
using testmodel::DigitalPacket;
using testmodel::FloatPacket;
using testmodel::SegmentPacket;

namespace {

// Raw sample of channel c at time t in the fed streams.
std::int16_t RawValue(std::uint32_t t, unsigned c) {
    return std::int16_t((t % 1000) * 10 + c);
}

class DataCallsFed : public datatest::FedCache {
  protected:
    // Raw samples of every channel of hardware module `module` for times [from, to).
    void FeedRaw(unsigned module, std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t t = from; t < to; ++t) {
            std::vector<std::int16_t> values(32);
            for (unsigned c = 0; c < 32; ++c) {
                values[c] = RawValue(t, c);
            }
            Feed(ContPacket(module, 1, t, values));
        }
    }
};

} // namespace

TEST(DataCallsClosed, EveryCallNamesItselfAndReturnsNotInitialized) {
    gKestCache = nullptr;
    float data[4];
    std::uint32_t start = 7;
    const std::uint32_t electrodes[1] = {0};
    std::uint32_t list[4];
    char names[2][128];
    KestSegmentDataPacketFixed segments[2];
    KestDigitalEventPacket events[2];
    float lower = 1, upper = 2;
    const std::uint32_t outputs[1] = {0};

    testing::internal::CaptureStdout();
    const std::vector<int> results = {
        kl_cont_raw(&start, data, 4, electrodes, 1, 0),
        kl_cont_lfp(&start, data, 4, electrodes, 1, 0),
        kl_cont_emg(&start, data, 4, electrodes, 1, 0),
        kl_cont_hires(&start, data, 4, electrodes, 1, 0),
        kl_cont_hifreq(&start, data, 4, electrodes, 1, 0),
        kl_cont_spkPreview(&start, data, 4, electrodes, 1, 0),
        kl_cont_status(&start, data, 4, electrodes, 1, 0),
        kl_list_elec(list, 4, "all"),
        kl_get_fe(0),
        kl_get_fe_streams(names, 2, 0),
        kl_spk_data(segments, nullptr, 2, 0),
        kl_stim_data(segments, nullptr, 2, 0),
        kl_digin(events, nullptr, 2),
        kl_digin_bit_change(),
        kl_digin_bit_change_set(1),
        kl_digout(outputs, outputs, 1),
        kl_spk_thresh(&lower, &upper, 0),
        kl_spk_thresh_set(0, -10, 10),
    };
    const std::string printed = testing::internal::GetCapturedStdout();
    for (int result : results) {
        EXPECT_EQ(result, KL_ERR_NOT_INITIALIZED);
    }
    EXPECT_EQ(printed, "kl_cont_raw: kestlib not initialized\n"
                       "kl_cont_lfp: kestlib not initialized\n"
                       "kl_cont_emg: kestlib not initialized\n"
                       "kl_cont_hires: kestlib not initialized\n"
                       "kl_cont_hifreq: kestlib not initialized\n"
                       "kl_cont_spkPreview: kestlib not initialized\n"
                       "kl_cont_status: kestlib not initialized\n"
                       "kl_list_elec: kestlib not initialized\n"
                       "kl_get_fe: kestlib not initialized\n"
                       "kl_get_fe_streams: kestlib not initialized\n"
                       "kl_spk_data: kestlib not initialized\n"
                       "kl_stim_data: kestlib not initialized\n"
                       "kl_digin: kestlib not initialized\n"
                       "kl_digin_bit_change: kestlib not initialized\n"
                       "kl_digin_bit_change_set: kestlib not initialized\n"
                       "kl_digout: kestlib not initialized\n"
                       "kl_spk_thresh: kestlib not initialized\n"
                       "kl_spk_thresh_set: kestlib not initialized\n");
    EXPECT_EQ(start, 7u) << "nothing is written without a connection";
    EXPECT_EQ(lower, 1.0f);
}

TEST_F(DataCallsFed, RawWindowsNewestAndFromATimeAlignedPerFrontEnd) {
    FeedRaw(1, 2000, 2100);
    FeedRaw(3, 2000, 2081); // the second front end is 19 samples behind

    const std::uint32_t electrodes[3] = {2, 40, 41};
    std::vector<float> data(3 * 10, -1.0f);
    std::uint32_t start = 0;
    ASSERT_EQ(kl_cont_raw(&start, data.data(), 10, electrodes, 3, 0), 10);
    EXPECT_EQ(start, 2071u) << "the start of the window read last (second front end)";
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(data[i], 0.25f * RawValue(2090 + i, 2)) << i;
        EXPECT_EQ(data[10 + i], 0.25f * RawValue(2071 + i, 8)) << i;
        EXPECT_EQ(data[20 + i], 0.25f * RawValue(2071 + i, 9)) << i;
    }

    // From a given time: that time is the start, for every electrode.
    std::fill(data.begin(), data.end(), -1.0f);
    ASSERT_EQ(kl_cont_raw(&start, data.data(), 10, electrodes, 3, 2050), 10);
    EXPECT_EQ(start, 2050u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(data[i], 0.25f * RawValue(2050 + i, 2));
        EXPECT_EQ(data[20 + i], 0.25f * RawValue(2050 + i, 9));
    }

    // A window reaching past the newest sample delivers what there is.
    EXPECT_EQ(kl_cont_raw(nullptr, data.data(), 10, electrodes, 1, 2095), 5);

    // The future and the forgotten past deliver nothing, with the ring's warning.
    testing::internal::CaptureStderr();
    start = 99;
    EXPECT_EQ(kl_cont_raw(&start, data.data(), 10, electrodes, 1, 500000), 0);
    EXPECT_EQ(start, 0u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("warning: invalid timestamp\n"),
              std::string::npos);
}

TEST_F(DataCallsFed, ContinuousArgumentsAndFailures) {
    FeedRaw(1, 2000, 2010);
    float data[8] = {};
    const std::uint32_t one[1] = {3};
    std::uint32_t start = 5;

    EXPECT_EQ(kl_cont_raw(&start, nullptr, 4, one, 1, 0), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_cont_raw(&start, data, -1, one, 1, 0), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_cont_raw(&start, data, 4, nullptr, 1, 0), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_cont_raw(&start, data, 4, one, -2, 0), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(start, 5u);
    EXPECT_EQ(kl_cont_raw(&start, data, 4, one, 0, 0), 0) << "no electrodes";
    EXPECT_EQ(kl_cont_raw(&start, data, 0, one, 1, 0), 0) << "no samples";

    // An electrode the processor does not have stops the read; what was read stays.
    const std::uint32_t withUnknown[2] = {3, 300};
    std::fill(std::begin(data), std::end(data), -1.0f);
    EXPECT_EQ(kl_cont_raw(&start, data, 4, withUnknown, 2, 0), -1);
    EXPECT_EQ(data[0], 0.25f * RawValue(2006, 3));
    EXPECT_EQ(data[4], -1.0f);
    EXPECT_EQ(kl_cont_raw(&start, data, 0, withUnknown, 2, 0), -1);

    // A front end without the stream gives the negative lookup result.
    EXPECT_LT(kl_cont_emg(&start, data, 4, one, 1, 0), 0);
    EXPECT_LT(kl_cont_spkPreview(&start, data, 4, one, 1, 0), 0);
    EXPECT_LT(kl_cont_hifreq(&start, data, 4, one, 1, 0), 0);
}

TEST_F(DataCallsFed, LfpHiResStatusAndAnalogInputs) {
    // lfp (16-bit, 0.5 µV per count) and hi-res (float) of the first front end's
    // processing module; "HW Status" of its hardware module; "1ksps" of the analog module.
    for (std::uint32_t t = 3000; t < 3300; t += 15) {
        std::vector<float> hires(32);
        for (unsigned c = 0; c < 32; ++c) {
            hires[c] = float(t) + 0.5f * float(c);
        }
        Feed(FloatPacket(2, 2, t, hires));
    }
    for (std::uint32_t t = 3000; t < 3300; t += 30) {
        std::vector<std::int16_t> lfp(32), status(4), analog(4);
        for (unsigned c = 0; c < 32; ++c) {
            lfp[c] = std::int16_t(t / 30 + c);
        }
        for (unsigned c = 0; c < 4; ++c) {
            status[c] = std::int16_t(100 * c + t / 30);
            analog[c] = std::int16_t(-int(t / 30) - int(c));
        }
        Feed(ContPacket(2, 1, t, lfp));
        Feed(ContPacket(1, 2, t, status));
        Feed(ContPacket(33, 2, t, analog));
    }
    float data[6] = {};
    std::uint32_t start = 0;
    const std::uint32_t fe[2] = {4, 1};
    ASSERT_EQ(kl_cont_lfp(&start, data, 3, fe, 2, 0), 3);
    EXPECT_EQ(start, 3210u);
    EXPECT_EQ(data[0], 0.5f * float(3210 / 30 + 4));
    EXPECT_EQ(data[2], 0.5f * float(3270 / 30 + 4));
    EXPECT_EQ(data[3], 0.5f * float(3210 / 30 + 1));

    ASSERT_EQ(kl_cont_hires(&start, data, 2, fe, 1, 3240), 2);
    EXPECT_EQ(start, 3240u);
    EXPECT_EQ(data[0], 3240.0f + 2.0f);
    EXPECT_EQ(data[1], 3255.0f + 2.0f);

    // Status values are scaled by the physical channel's factor (0.5), not the stream's.
    ASSERT_EQ(kl_cont_status(&start, data, 2, fe + 1, 1, 0), 2);
    EXPECT_EQ(data[0], 0.5f * float(100 + 3240 / 30));
    EXPECT_EQ(data[1], 0.5f * float(100 + 3270 / 30));

    const std::uint32_t analog[1] = {10241};
    ASSERT_EQ(kl_cont_lfp(&start, data, 2, analog, 1, 0), 2);
    EXPECT_EQ(start, 3240u);
    EXPECT_FLOAT_EQ(data[1], 0.1f * float(-int(3270 / 30) - 1));
}

TEST_F(DataCallsFed, ElectrodeListsAndFrontEnds) {
    std::vector<std::uint32_t> all(100, 0xFFFFFFFF), empty(100, 0xFFFFFFFF);
    const int count = kl_list_elec(all.data(), 100, "all");
    ASSERT_EQ(count, 2 * 32 + 2) << "two front ends and two analog inputs";
    EXPECT_EQ(kl_list_elec(empty.data(), 100, ""), count);
    EXPECT_EQ(all, empty);
    EXPECT_EQ(all[0], 0u);
    EXPECT_EQ(all[63], 63u);
    EXPECT_EQ(all[64], 10240u);
    EXPECT_EQ(all[66], 0xFFFFFFFFu) << "nothing beyond the list";

    std::vector<std::uint32_t> cut(8, 0xFFFFFFFF);
    EXPECT_EQ(kl_list_elec(cut.data(), 5, "all"), 5);
    EXPECT_EQ(cut[4], 4u);
    EXPECT_EQ(cut[5], 0xFFFFFFFFu);
    EXPECT_EQ(kl_list_elec(cut.data(), 8, "record"), 8);
    EXPECT_EQ(cut[0], 32u) << "only the recording front end's label matches";
    EXPECT_EQ(kl_list_elec(cut.data(), 8, "no such front end"), 0);
    EXPECT_EQ(kl_list_elec(cut.data(), 8, nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_list_elec(nullptr, 8, "all"), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_list_elec(cut.data(), -1, "all"), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_list_elec(nullptr, 0, "all"), 0);

    EXPECT_EQ(kl_get_fe(0), 0);
    EXPECT_EQ(kl_get_fe(31), 0);
    EXPECT_EQ(kl_get_fe(40), 1);
    EXPECT_EQ(kl_get_fe(10241), 16);
    EXPECT_EQ(kl_get_fe(64), -1);
    EXPECT_EQ(kl_get_fe(0xFFFFFFFF), -1);
}

TEST_F(DataCallsFed, FrontEndStreamsStayWithinMaxAndLeaveOutUnavailable) {
    char names[8][128];
    std::memset(names, '#', sizeof names);
    ASSERT_EQ(kl_get_fe_streams(names, 8, 5), 6);
    const std::vector<std::string> expected = {"HW Status", "raw", "stim", "hi-res", "lfp", "spk"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(std::string(names[i]), expected[std::size_t(i)]);
    }
    EXPECT_EQ(names[6][0], '#') << "slots beyond the count are not touched";

    std::memset(names, '#', sizeof names);
    ASSERT_EQ(kl_get_fe_streams(names, 4, 5), 4);
    EXPECT_EQ(std::string(names[3]), "hi-res");
    EXPECT_EQ(names[4][0], '#');
    EXPECT_EQ(names[4][127], '#');
    EXPECT_EQ(kl_get_fe_streams(names, 0, 5), 0);

    // The processor marks "raw" and "lfp" of the first front end not available.
    for (auto [module, name] : {std::pair<unsigned, const char*>{1, "raw"}, {2, "lfp"}}) {
        const unsigned index = StreamDescIndex(module, name);
        Bytes record = processor_.Find(module).Records()[index];
        record[2] = module == 1 ? 0x04 : 0x08;
        Feed(testmodel::ConfigPacket(module, index, record));
    }
    // At most max names are taken before those not available are left out.
    std::memset(names, '#', sizeof names);
    ASSERT_EQ(kl_get_fe_streams(names, 3, 5), 2);
    EXPECT_EQ(std::string(names[0]), "HW Status");
    EXPECT_EQ(std::string(names[1]), "stim");
    EXPECT_EQ(names[2][0], '#');
    EXPECT_EQ(kl_get_fe_streams(names, 8, 5), 4);
    EXPECT_EQ(kl_get_fe_streams(names, 8, 40), 6) << "the other front end is unchanged";

    // The analog module offers only its own streams.
    ASSERT_EQ(kl_get_fe_streams(names, 8, 10240), 2);
    EXPECT_EQ(std::string(names[0]), "1ksps");
    EXPECT_EQ(std::string(names[1]), "30ksps");

    EXPECT_EQ(kl_get_fe_streams(names, 8, 64), -1);
    EXPECT_EQ(kl_get_fe_streams(names, 8, -1), KL_ERR_INVALID_ELECTRODE);
    EXPECT_EQ(kl_get_fe_streams(nullptr, 8, 5), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_get_fe_streams(names, -1, 5), KL_ERR_INVALID_PARAMETER);
}

TEST_F(DataCallsFed, SpikeAndStimulationReadsEmptyTheirRings) {
    // Electrode 37: second front end (modules 3 and 4), channel 5; the spike streams of
    // the processing module start at id 3, the stimulation streams of the hardware module too.
    for (std::uint16_t k = 0; k < 3; ++k) {
        Feed(SegmentPacket(4, 3 + 5, 5000 + 10 * k, k, std::uint16_t(k + 1)));
    }
    Feed(SegmentPacket(4, 3 + 6, 5001, 0, 3)); // electrode 38
    KestSegmentDataPacketFixed segments[4] = {};
    int ignored = -7;
    ASSERT_EQ(kl_spk_data(segments, &ignored, 4, 37), 3);
    EXPECT_EQ(ignored, -7);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(segments[k].header.timestamp, 5000u + 10 * k);
        EXPECT_EQ(segments[k].unit, k + 1);
        EXPECT_EQ(segments[k].waveform[2], 2 * (k + 1));
    }
    EXPECT_EQ(kl_spk_data(segments, nullptr, 4, 37), 0) << "the first read emptied the ring";
    EXPECT_EQ(kl_spk_data(segments, nullptr, 4, 38), 1);

    // More than max: the count of what arrived, the newest max records.
    for (std::uint16_t k = 0; k < 6; ++k) {
        Feed(SegmentPacket(4, 3 + 5, 6000 + k, k, 1));
    }
    ASSERT_EQ(kl_spk_data(segments, nullptr, 2, 37), 6);
    EXPECT_EQ(segments[0].header.timestamp, 6004u);
    EXPECT_EQ(segments[1].header.timestamp, 6005u);

    // Max 0 without a buffer: the count only, and the ring is emptied.
    Feed(SegmentPacket(4, 3 + 5, 7000, 0, 1));
    Feed(SegmentPacket(4, 3 + 5, 7001, 1, 1));
    EXPECT_EQ(kl_spk_data(nullptr, nullptr, 0, 37), 2);
    EXPECT_EQ(kl_spk_data(segments, nullptr, 4, 37), 0);

    // Stimulation segments live in the hardware module.
    Feed(SegmentPacket(3, 3 + 5, 8000, 41, 0));
    Feed(SegmentPacket(3, 3 + 5, 8003, 42, 0));
    int sequences[4] = {-1, -1, -1, -1};
    ASSERT_EQ(kl_stim_data(segments, sequences, 4, 37), 2);
    EXPECT_EQ(segments[1].header.timestamp, 8003u);
    EXPECT_EQ(sequences[0], 41);
    EXPECT_EQ(sequences[1], 42);
    EXPECT_EQ(sequences[2], -1);
    Feed(SegmentPacket(3, 3 + 5, 8010, 43, 0));
    EXPECT_EQ(kl_stim_data(segments, nullptr, 4, 37), 1) << "sequences may be null";
    EXPECT_EQ(segments[0].header.timestamp, 8010u);

    // No spike stream on the analog module (its next module has none); no stimulation
    // there either, which reads as nothing.
    EXPECT_EQ(kl_spk_data(segments, nullptr, 4, 10240), -1);
    EXPECT_EQ(kl_stim_data(segments, nullptr, 4, 10240), 0);
    EXPECT_EQ(kl_spk_data(segments, nullptr, 4, 64), -1);
    EXPECT_EQ(kl_stim_data(segments, nullptr, 4, 64), -1);
    EXPECT_EQ(kl_spk_data(segments, nullptr, 4, -3), KL_ERR_INVALID_ELECTRODE);
    EXPECT_EQ(kl_stim_data(segments, nullptr, 4, -3), KL_ERR_INVALID_ELECTRODE);
    EXPECT_EQ(kl_spk_data(nullptr, nullptr, 4, 37), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_stim_data(segments, nullptr, -1, 37), KL_ERR_INVALID_PARAMETER);
}

TEST_F(DataCallsFed, DigitalInputMax10After25Events) {
    for (std::uint16_t k = 0; k < 25; ++k) {
        Feed(DigitalPacket(9000 + k, k, std::uint16_t(100 + k)));
    }
    KestDigitalEventPacket events[12] = {};
    ASSERT_EQ(kl_digin(events, nullptr, 10), 25);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(events[i].parallel, 115 + i);
        EXPECT_EQ(events[i].header.timestamp, 9015u + i);
        EXPECT_EQ(events[i].sequence, 15 + i);
    }
    EXPECT_EQ(events[10].parallel, 0) << "never more than max records";
    EXPECT_EQ(kl_digin(events, nullptr, 10), 0);
    EXPECT_EQ(kl_digin(nullptr, nullptr, 1), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_digin(events, nullptr, -1), KL_ERR_INVALID_PARAMETER);
}

TEST_F(DataCallsFed, CaptureSwitchQueryAndSetBytes) {
    EXPECT_EQ(kl_digin_bit_change(), 0);
    ASSERT_EQ(kl_digin_bit_change_set(7), KL_SUCCESS);
    const unsigned desc = FindRecord(kKestDigitalModule, [](const Bytes& record) {
        return record.size() >= sizeof(KestPropertyDesc) && record[1] == kKestPropertyDescType &&
               std::string(reinterpret_cast<const KestPropertyDesc*>(record.data())->name) ==
                   "Capture Any Parallel Bit Change";
    });
    const unsigned index = desc + 1; // the value record follows its descriptor
    auto packets = sink_->Take();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], ExpectedConfigPacket(34, std::uint16_t(index), 1,
                                               {1, kKestBoolType, 0, 0, 1, 0, 0, 0}));
    ASSERT_EQ(kl_digin_bit_change_set(0), KL_SUCCESS);
    packets = sink_->Take();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0][16], 0);

    // The processor's copy is what the query reports.
    Feed(testmodel::ConfigPacket(34, index, {1, kKestBoolType, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(kl_digin_bit_change(), 1);
}

TEST_F(DataCallsFed, CaptureSwitchMissing) {
    // A digital module without the switch.
    testmodel::Module digital(kKestDigitalModule, 5, "digital io");
    digital.AddPhysicalChannels(0, 0, 0, [](unsigned) { return std::string(); });
    digital.AddStreams({{"parallel", kKestDigitalEventData, 1, 1, 1.0f}});
    processor_.Find(kKestDigitalModule) = digital;
    Connect();
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_digin_bit_change(), -1);
    EXPECT_EQ(kl_digin_bit_change_set(1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Digital IO not available\nDigital IO not available\n");
    EXPECT_TRUE(sink_->Take().empty());
}

TEST_F(DataCallsFed, DigitalOutputBytesAndRefusals) {
    const std::uint32_t outputs[3] = {0, 2, 4};
    const std::uint32_t values[3] = {1, 0, 0x1BEEF};
    ASSERT_EQ(kl_digout(outputs, values, 3), KL_SUCCESS);
    auto packets = sink_->Take();
    ASSERT_EQ(packets.size(), 1u);
    // Line 0 selected and high, line 2 selected and low, the parallel port's low 16 bits.
    Bytes record = {1, kKestIntegerType, 0, 0, 0xEF, 0xBE, 0x01, 0x5F};
    record.resize(20, 0);
    EXPECT_EQ(packets[0], ExpectedConfigPacket(34, 53, 0, record));

    const std::uint32_t lines[2] = {3, 1};
    const std::uint32_t levels[2] = {0xFFFFFFFF, 0x100};
    ASSERT_EQ(kl_digout(lines, levels, 2), KL_SUCCESS);
    packets = sink_->Take();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(clientkit::Field<std::uint32_t>(packets[0], 16), 0xA00A0000u)
        << "any value but 0 sets a line high";

    const std::uint32_t unknown[1] = {5};
    const std::uint32_t twice[2] = {1, 1};
    const std::uint32_t many[6] = {0, 1, 2, 3, 4, 0};
    EXPECT_EQ(kl_digout(unknown, values, 1), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_digout(twice, values, 2), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_digout(many, many, 6), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_digout(outputs, values, 0), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_digout(nullptr, values, 1), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_digout(outputs, nullptr, 1), KL_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(sink_->Take().empty()) << "a refused call sends nothing";
}

TEST_F(DataCallsFed, ThresholdsQueryAndSetBytes) {
    float lower = 0, upper = 0;
    ASSERT_EQ(kl_spk_thresh(&lower, &upper, 37), KL_SUCCESS);
    EXPECT_EQ(lower, -105.0f);
    EXPECT_EQ(upper, 105.0f);

    ASSERT_EQ(kl_spk_thresh_set(37, -55.5f, 300.25f), KL_SUCCESS);
    const unsigned block = FindRecord(4, [](const Bytes& record) {
        return record.size() >= 8 && record[1] == kKestBlockDescType &&
               std::string(reinterpret_cast<const KestBlockDesc*>(record.data())->name) ==
                   "Threshold Values Descriptor Block";
    });
    const unsigned index = block + 1 + 5;
    auto packets = sink_->Take();
    ASSERT_EQ(packets.size(), 1u);
    // The stored record's type (27 in this model), two floats.
    Bytes record = {1, 27, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    AppendFloat(record, -55.5f);
    AppendFloat(record, 300.25f);
    EXPECT_EQ(packets[0], ExpectedConfigPacket(4, std::uint16_t(index), 1, record));

    // The echo changes what the query reports.
    Feed(testmodel::ConfigPacket(4, index, record));
    ASSERT_EQ(kl_spk_thresh(&lower, &upper, 37), KL_SUCCESS);
    EXPECT_EQ(lower, -55.5f);
    EXPECT_EQ(upper, 300.25f);
}

TEST_F(DataCallsFed, ThresholdsWithoutRecordOrElectrode) {
    float lower = 0, upper = 0;
    // Analog inputs have a front end whose next module keeps no thresholds.
    ASSERT_EQ(kl_spk_thresh(&lower, &upper, 10240), KL_SUCCESS);
    EXPECT_EQ(lower, -6554.0f);
    EXPECT_EQ(upper, 6554.0f);
    EXPECT_EQ(kl_spk_thresh_set(10240, -1, 1), -1);

    lower = upper = 0;
    EXPECT_EQ(kl_spk_thresh(&lower, &upper, 64), -1) << "no such electrode";
    EXPECT_EQ(lower, -6554.0f);
    EXPECT_EQ(upper, 6554.0f);
    EXPECT_EQ(kl_spk_thresh_set(64, -1, 1), -1);

    EXPECT_EQ(kl_spk_thresh(&lower, &upper, -1), KL_ERR_INVALID_ELECTRODE);
    EXPECT_EQ(kl_spk_thresh(nullptr, &upper, 1), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_spk_thresh(&lower, nullptr, 1), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_spk_thresh_set(-1, -1, 1), KL_ERR_INVALID_ELECTRODE);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(kl_spk_thresh_set(1, nan, 1), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_spk_thresh_set(1, -1, inf), KL_ERR_INVALID_PARAMETER);
    EXPECT_TRUE(sink_->Take().empty());
}

extern "C" void kestlib_data_c_layout(std::size_t out[14]);
extern "C" int kestlib_data_c_calls(void);

TEST(DataCallsHeader, RecordsLookTheSameFromC) {
    std::size_t c[14];
    kestlib_data_c_layout(c);
    const std::size_t cpp[14] = {sizeof(KestPacket),
                                 offsetof(KestPacket, timestamp),
                                 sizeof(KestSegmentDataPacketFixed),
                                 offsetof(KestSegmentDataPacketFixed, dataKind),
                                 offsetof(KestSegmentDataPacketFixed, sequence),
                                 offsetof(KestSegmentDataPacketFixed, unit),
                                 offsetof(KestSegmentDataPacketFixed, waveform),
                                 sizeof(KestSegmentDataPacketFixed::waveform),
                                 sizeof(KestDigitalEventPacket),
                                 offsetof(KestDigitalEventPacket, sequence),
                                 offsetof(KestDigitalEventPacket, reason),
                                 offsetof(KestDigitalEventPacket, parallel),
                                 offsetof(KestDigitalEventPacket, sma),
                                 offsetof(KestDigitalEventPacket, reserved3)};
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(c[i], cpp[i]) << "field " << i;
    }
    EXPECT_EQ(c[2], 120u);
    EXPECT_EQ(c[6], 16u);
    EXPECT_EQ(c[8], 28u);
    EXPECT_EQ(c[11], 14u);

    gKestCache = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(kestlib_data_c_calls(), 10);
    testing::internal::GetCapturedStdout();
}
