// Stream switches and file-save selections against the emulated processor: what a switch
// does to the data the cache receives, which switches a change reaches, and the selections
// kept by the processor and by a recording operator.
#include "LiveProcessor.h"

#include "client/KestClient.h"
#include "emulator/model/OperatorModel.h"
#include "lib/SignalSupport.h"
#include "links/OperRegistry.h"
#include "protocol/KestPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace signaltest;

namespace {

// Newest raw sample time the cache holds for an electrode (0 when none).
std::uint32_t NewestRaw(std::uint32_t electrode) {
    float sample = 0;
    std::uint32_t start = 0;
    return kl_cont_raw(&start, &sample, 1, &electrode, 1, 0) == 1 ? start : 0;
}

BmFeSignalSelectionDesc& Selection(paxsim::ProcessorModel& model, unsigned frontEnd) {
    paxsim::ModuleModel& processor = *model.Find(0);
    const std::uint16_t first = processor.blocks.at("Signal Selection").first;
    return paxsim::View<BmFeSignalSelectionDesc>(processor.records.at(first + frontEnd));
}

std::uint32_t StoredMask(const Record& record, unsigned entry) {
    const auto& desc = *reinterpret_cast<const BmFeSignalSelectionDesc*>(record.data());
    return desc.entries[entry].channelMask;
}

// Routes to operators that refuse every packet, as a connection that fails would.
class RefusingRoutes : public KestOperatorRoutes {
  public:
    bool IsDirectLink() const override { return false; }
    bool SendToOperator(std::uint32_t, const KestPacket&) override { return false; }
    unsigned SendToAllOperators(const KestPacket&) override { return 0; }
};

class SignalCalls : public LiveProcessor {
  protected:
    // Property index of module 0's selection of a front end.
    std::uint16_t SelectionIndex(unsigned frontEnd) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return std::uint16_t(model.Find(0)->blocks.at("Signal Selection").first + frontEnd);
        });
    }
    // The processor's switches of a stream of a module, as stored.
    std::vector<int> Switches(std::uint8_t module, const std::string& name) {
        return server_->WithModel([&](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            std::vector<int> values;
            const paxsim::ModuleModel& m = *model.Find(module);
            for (const paxsim::StreamInfo& stream : m.streams) {
                for (unsigned c = 0; stream.name == name && c < stream.channels; ++c) {
                    values.push_back(m.records.at(stream.enableFirst + c).at(4));
                }
            }
            return values;
        });
    }
};

} // namespace

TEST_F(SignalCalls, RawSwitchStopsAndResumesTheStream) {
    Open(2);
    ASSERT_TRUE(WaitFor([] { return NewestRaw(5) != 0; }));
    EXPECT_EQ(kl_signal_raw(5), 1);

    ASSERT_EQ(kl_signal_set_raw(5, 0), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_signal_raw(5) == 0; })) << "the echo updates the switch";
    EXPECT_EQ(Switches(1, "raw"), std::vector<int>(32, 0)) << "every channel's switch is off";
    const std::uint32_t stopped = NewestRaw(5);
    // The other front end keeps the processor time moving; the switched one sends no more.
    ASSERT_TRUE(WaitFor([&] { return std::int32_t(kl_time() - stopped) > 9000; }));
    EXPECT_EQ(NewestRaw(5), stopped);
    EXPECT_NE(NewestRaw(40), 0u);
    EXPECT_EQ(kl_signal_raw(40), 1);

    // A value other than 0 or 1 switches on.
    ASSERT_EQ(kl_signal_set(5, "raw", 7), KL_SUCCESS);
    EXPECT_TRUE(WaitFor([&] { return std::int32_t(NewestRaw(5) - stopped) > 3000; }));
    EXPECT_EQ(kl_signal_raw(5), 1);
}

TEST_F(SignalCalls, EachStreamSwitchIsSetAndReadBack) {
    Open(2, nullptr, true); // stream link: no echo lost on a busy machine
    // lfp and spkfilt live in the processing module (2): their switches go there.
    EXPECT_EQ(kl_signal_lfp(3), 1);
    ASSERT_EQ(kl_signal_set_lfp(3, 0), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_signal_lfp(3) == 0; }));
    EXPECT_EQ(Switches(2, "lfp"), std::vector<int>(32, 0));
    EXPECT_EQ(kl_signal_lfp(40), 1) << "another front end is left alone";

    EXPECT_EQ(kl_signal_spkPreview(3), 0) << "spkfilt is off at start";
    ASSERT_EQ(kl_signal_set_spkPreview(3, 1), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_signal_spkPreview(3) == 1; }));
    EXPECT_EQ(Switches(2, "spkfilt"), std::vector<int>(32, 1));

    // Per-channel streams: only the electrode's own switch, in the module that has it.
    ASSERT_EQ(kl_signal_set_spk(37, 0), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_signal_spk(37) == 0; }));
    std::vector<int> spk(32, 1);
    spk[5] = 0;
    EXPECT_EQ(Switches(4, "spk"), spk);
    EXPECT_EQ(kl_signal_spk(36), 1);

    ASSERT_EQ(kl_signal_set_stim(2, 0), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_signal_stim(2) == 0; }));
    EXPECT_EQ(kl_signal_stim(1), 1);

    // The second front end records only: it has no stim stream.
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_signal_stim(40), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_signal_set_stim(40, 1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "stream stim not found for electrode 40\nstream stim not found for electrode 40\n");
    EXPECT_EQ(kl_signal(-1, "raw"), KL_ERR_INVALID_ELECTRODE);
    EXPECT_EQ(kl_signal(3, nullptr), KL_ERR_INVALID_PARAMETER);
}

TEST_F(SignalCalls, LocalFileSaveSelectionIsSetAndReadBack) {
    Open(2, nullptr, true); // stream link: no echo lost on a busy machine
    const std::uint16_t index = SelectionIndex(0);
    EXPECT_EQ(kl_signal_save_local(5, "raw"), 0);
    ASSERT_EQ(kl_signal_save_set_local(5, "raw", 1), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_signal_save_local(5, "raw") == 1; }));
    EXPECT_EQ(StoredMask(Stored(0, index), 0), 1u << 5);
    EXPECT_EQ(kl_signal_save_local(6, "raw"), 0);

    ASSERT_EQ(kl_signal_save_set_local(37, "lfp", 1), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_signal_save_local(37, "lfp") == 1; }));
    EXPECT_EQ(StoredMask(Stored(0, SelectionIndex(1)), 1), 1u << 5);

    ASSERT_EQ(kl_signal_save_set_local(5, "raw", 0), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_signal_save_local(5, "raw") == 0; }));

    // No entry for spkfilt: it cannot be switched on, and switching it off changes nothing.
    EXPECT_EQ(kl_signal_save_local(5, "spkfilt"), 0);
    EXPECT_EQ(kl_signal_save_set_local(5, "spkfilt", 1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_signal_save_set_local(5, "spkfilt", 0), KL_SUCCESS);
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_signal_save_local(40, "stim"), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "stream stim not found for electrode 40\n");
}

TEST_F(SignalCalls, SelectionEntriesMatchTheirStreamExactly) {
    Open(
        2,
        [](paxsim::ProcessorModel& model) {
            // Front end 0: an entry for stim stream 3 of module 1 ahead of raw (stream 1), whose
            // key has every bit of raw's. Front end 1: an lfp entry of module 5 (which has every
            // bit of module 4) ahead of module 4's. Both carry every channel.
            BmFeSignalSelectionDesc& first = Selection(model, 0);
            first.entries[2] = first.entries[0];
            first.entries[0] = {1u << 16 | 3u << 8, 0, 0xFFFFFFFF};
            BmFeSignalSelectionDesc& second = Selection(model, 1);
            second.entries[2] = second.entries[1];
            second.entries[1] = {5u << 16 | 1u << 8, 0, 0xFFFFFFFF};
        },
        true);
    EXPECT_EQ(kl_signal_save_local(5, "raw"), 0);
    EXPECT_EQ(kl_signal_save_local(37, "lfp"), 0);
    ASSERT_EQ(kl_signal_save_set_local(5, "raw", 1), KL_SUCCESS);
    ASSERT_TRUE(WaitFor([] { return kl_signal_save_local(5, "raw") == 1; }));
    const Record stored = Stored(0, SelectionIndex(0));
    EXPECT_EQ(StoredMask(stored, 0), 0xFFFFFFFFu) << "the stim entry is untouched";
    EXPECT_EQ(StoredMask(stored, 2), 1u << 5);
}

TEST_F(SignalCalls, FrontEndWithoutSelectionIsRefused) {
    Open(2, [](paxsim::ProcessorModel& model) {
        Selection(model, 1).port = 0xFF; // the processor keeps no selection for front end 1
    });
    EXPECT_EQ(kl_signal_save_local(40, "raw"), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_signal_save_set_local(40, "raw", 1), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_signal_save_local(4, "raw"), 0);
}

TEST_F(SignalCalls, OperatorSelectionIsSetAndReadBackOverTcp) {
    Open(2, nullptr, true, {150});
    int id = 0;
    ASSERT_EQ(kl_operator_add(&id, Wired(150).c_str(), nullptr, nullptr), KL_SUCCESS);

    // Operator 0 and 1 both name the first operator; its id names it as well.
    EXPECT_EQ(kl_signal_save(0, 40, "lfp"), 0);
    EXPECT_EQ(kl_signal_save_set(1, 40, "lfp", 1), KL_SUCCESS);
    EXPECT_EQ(kl_signal_save(id, 40, "lfp"), 1);
    EXPECT_EQ(kl_signal_save(1, 41, "lfp"), 0);
    EXPECT_EQ(kl_signal_save(0, 8, "lfp"), 0) << "front end 0 has a selection of its own";
    Record stored;
    server_->WithOperator(150, [&](paxsim::OperatorModel& oper) { stored = oper.Selection(1); });
    EXPECT_EQ(StoredMask(stored, 1), 1u << 8);

    EXPECT_EQ(kl_signal_save_set(0, 40, "spkfilt", 1), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_signal_save(0, 40, "stim"), KL_ERR_UNSUPPORTED);
    EXPECT_EQ(kl_signal_save(12345, 40, "lfp"), KL_ERR_OPERATOR_NOT_FOUND);
}

TEST_F(SignalCalls, OperatorWithoutSelectionForTheFrontEnd) {
    Open(2, nullptr, true, {150});
    int id = 0;
    ASSERT_EQ(kl_operator_add(&id, Wired(150).c_str(), nullptr, nullptr), KL_SUCCESS);
    ASSERT_TRUE(server_->WithOperator(150, [](paxsim::OperatorModel& oper) {
        paxsim::View<BmFeSignalSelectionDesc>(oper.Selection(1)).port = 0xFF;
    }));
    EXPECT_EQ(kl_signal_save(0, 40, "lfp"), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_signal_save_set(0, 40, "lfp", 1), KL_ERR_INVALID_PARAMETER);
    for (unsigned slot = 0; slot < paxsim::kOperatorSelectionSlots; ++slot) {
        server_->WithOperator(150, [&](paxsim::OperatorModel& oper) {
            EXPECT_EQ(StoredMask(oper.Selection(slot), 1), 0u) << "nothing was sent back";
        });
    }
}

TEST_F(SignalCalls, OperatorSelectionNeedsAnOperatorOnTheStreamLink) {
    Open(1, nullptr, true);
    EXPECT_EQ(kl_signal_save(0, 4, "raw"), KL_ERR_OPERATOR_NOT_FOUND);
    EXPECT_EQ(kl_signal_save_set(1, 4, "raw", 1), KL_ERR_OPERATOR_NOT_FOUND);
    kl_close();
    server_->Stop();
    Open(1);
    EXPECT_EQ(kl_signal_save(0, 4, "raw"), KL_ERR_INVALID_NETWORK);
    EXPECT_EQ(kl_signal_save_set(0, 4, "raw", 1), KL_ERR_INVALID_NETWORK);
}

TEST_F(SignalCalls, DigitalInputSwitchesAreOnlyBooleans) {
    Open(1, [](paxsim::ProcessorModel& model) {
        // A second switch right after the stream's own; the records after it are not switches.
        paxsim::ModuleModel& digital = *model.Find(kKestDigitalModule);
        const std::uint16_t enable = digital.streams.at(0).enableFirst;
        digital.records.at(enable + 1) = digital.records.at(enable);
    });
    const std::uint16_t expected =
        server_->WithModel([](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return model.Find(kKestDigitalModule)->streams.at(0).enableFirst;
        });
    int module = -1;
    int index = -1;
    int count = 0;
    EXPECT_EQ(kestlib::DiginSwitch(&module, &index, &count), 1);
    EXPECT_EQ(module, int(kKestDigitalModule));
    EXPECT_EQ(index, expected);
    EXPECT_EQ(count, 2);
}

TEST_F(SignalCalls, OperatorRequestUnsentOrUnanswered) {
    Open(1, nullptr, true, {150});
    int id = 0;
    ASSERT_EQ(kl_operator_add(&id, Wired(150).c_str(), nullptr, nullptr), KL_SUCCESS);
    RefusingRoutes refusing;
    gKestClient->SetOperatorRoutes(&refusing);
    EXPECT_EQ(kl_signal_save(0, 4, "raw"), KL_ERR_OPERATOR_NOT_FOUND);
    EXPECT_EQ(kl_signal_save_set(0, 4, "raw", 1), KL_ERR_OPERATOR_NOT_FOUND);
    gKestClient->SetOperatorRoutes(&oper::LinkRoutes());
    EXPECT_EQ(kl_signal_save(0, 4, "raw"), 0);

    // An operator that takes the request but never answers.
    server_->WithOperator(150, [](paxsim::OperatorModel& oper) { oper.SetSilent(true); });
    EXPECT_EQ(kl_signal_save_set(0, 4, "raw", 1), KL_ERR_NO_RESPONSE);
}

TEST_F(SignalCalls, PerChannelStreamOfAnotherNameIsNotSwitched) {
    Open(1, [](paxsim::ProcessorModel& model) {
        // The stream where channel 5's spike stream would be carries another name.
        paxsim::ModuleModel& processing = *model.Find(2);
        for (const paxsim::StreamInfo& stream : processing.streams) {
            if (stream.name == "spk" && stream.channel == 5) {
                auto& desc =
                    paxsim::View<KestOutputStreamDesc>(processing.records.at(stream.descIndex));
                std::snprintf(desc.name, sizeof desc.name, "%s", "other");
            }
        }
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_signal_spk(5), -1);
    EXPECT_EQ(kl_signal_set_spk(5, 0), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "cannot find stream spk for electrode 5\n");
    EXPECT_EQ(Switches(2, "spk"), std::vector<int>(32, 1)) << "no switch was written";
}
