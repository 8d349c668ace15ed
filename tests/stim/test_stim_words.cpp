// Control words, sequence header words and the sequence containers.
#include "stim/StimActionType.h"
#include "stim/StimControlWord.h"
#include "stim/StimSeq.h"
#include "stim/StimSeqManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(StimControlWord, EncodesEveryField) {
    // length 3, ampl 20, pol, enable, ampSelect, delay 0, no fast settle
    EXPECT_EQ(StimControlWord(3, 20, true, true, true, 0, false).GetStimCmd(), 0x0003A094u);

    // One flag at a time, so that a swapped constructor argument shows up.
    EXPECT_EQ(StimControlWord(0, 0, true, false, false, 0, false).GetStimCmd(), 0x00000080u);
    EXPECT_EQ(StimControlWord(0, 0, false, true, false, 0, false).GetStimCmd(), 0x00002000u);
    EXPECT_EQ(StimControlWord(0, 0, false, false, true, 0, false).GetStimCmd(), 0x00008000u);
    EXPECT_EQ(StimControlWord(0, 0, false, false, false, 0, true).GetStimCmd(), 0x00004000u);
    EXPECT_EQ(StimControlWord(0, 0, false, false, false, 31, false).GetStimCmd(), 0x00001F00u);
    EXPECT_EQ(StimControlWord(0xFFFF, 127, false, false, false, 0, false).GetStimCmd(),
              0xFFFF007Fu);
    EXPECT_EQ(StimControlWord(0xFFFF, 127, true, true, true, 31, true).GetStimCmd(), 0xFFFFFFFFu);
}

TEST(StimControlWord, CutsDelayAndAmplitudeToTheirFields) {
    // 33 = 0b100001 keeps 1; 200 = 0b11001000 keeps 0b1001000. Neither spills into the
    // neighbouring bits.
    EXPECT_EQ(StimControlWord(1, 0, false, false, false, 33, false).GetStimCmd(), 0x00010100u);
    EXPECT_EQ(StimControlWord(1, 200, false, false, false, 0, false).GetStimCmd(), 0x00010048u);
    EXPECT_EQ(StimControlWord(1, 0xFFFFFFFF, false, false, false, 0xFFFFFFFF, false).GetStimCmd(),
              0x00011F7Fu);
}

TEST(StimControlWord, ResetKeepsLengthAndSelectsAmplitude) {
    StimControlWord word(9, 50, true, true, false, 12, true);
    word.Reset();
    EXPECT_EQ(word.length, 9);
    EXPECT_TRUE(word.ampSelect);
    EXPECT_FALSE(word.fs);
    EXPECT_FALSE(word.enable);
    EXPECT_FALSE(word.pol);
    EXPECT_EQ(word.delay, 0u);
    EXPECT_EQ(word.ampl, 0u);
    EXPECT_EQ(word.GetStimCmd(), 0x00098000u);
}

TEST(StimAction, NamesAndShiftedValues) {
    const char* names[] = {"immed", "curcyc", "allcyc", "trigger", "at-time"};
    for (std::uint32_t i = 0; i < 5; ++i) {
        StimActionType action = StimActionType::AtTime;
        ASSERT_TRUE(StimActionFromName(names[i], action)) << names[i];
        EXPECT_EQ(static_cast<std::uint32_t>(action), i);
        EXPECT_EQ(StimActionBits(action), i << 28);
        EXPECT_STREQ(StimActionName(action), names[i]);
    }
    StimActionType untouched = StimActionType::Trigger;
    EXPECT_FALSE(StimActionFromName("Immed", untouched));
    EXPECT_FALSE(StimActionFromName("at_time", untouched));
    EXPECT_FALSE(StimActionFromName("", untouched));
    EXPECT_EQ(untouched, StimActionType::Trigger);
    EXPECT_EQ(StimActionBits(static_cast<StimActionType>(5)), kStimInvalidAction);
    EXPECT_EQ(StimActionName(static_cast<StimActionType>(5)), nullptr);
}

TEST(StimSeq, HeaderWord) {
    StimSeq trigger(4, 3000, 10, StimActionType::Trigger);
    EXPECT_EQ(trigger.GetStimCmd(), std::vector<std::uint32_t>{0x30BB800Au});
    EXPECT_EQ(StimHeaderWord(StimActionBits(StimActionType::AtTime), 0xFFFF, 0xFFF), 0x4FFFFFFFu);
    // Fields are cut to 16 and 12 bits and do not run into the action.
    EXPECT_EQ(StimHeaderWord(0, 0x10001, 0x1001), 0x00001001u);
    EXPECT_EQ(StimHeaderWord(0, -1, -1), 0x0FFFFFFFu);
}

TEST(StimSeq, UnknownActionIsAddedAsAllOnes) {
    StimSeq seq(0, 3000, 10, static_cast<StimActionType>(7));
    EXPECT_EQ(seq.action, kStimInvalidAction);
    EXPECT_EQ(seq.GetStimCmd().at(0), static_cast<std::uint32_t>(0x00BB800Au + 0xFFFFFFFFu));
    EXPECT_FALSE(seq.IsValid());
}

TEST(StimSeq, WordsFollowTheHeaderInOrder) {
    StimSeq seq(2, 100, 3, StimActionType::CurCyc);
    seq.AddWord(StimControlWord(3, 20, true, true, true, 0, false));
    seq.AddWord(StimControlWord(2, 0, false, true, true, 0, false));
    seq.AddWord(StimControlWord(1, 5, false, false, true, 7, false));
    const std::vector<std::uint32_t> expected{0x10064003u, 0x0003A094u, 0x0002A000u, 0x00018705u};
    EXPECT_EQ(seq.GetStimCmd(), expected);
    EXPECT_EQ(seq.GetTrainLength(), 300);
    EXPECT_EQ(seq.GetCycleLength(), 6);
}

TEST(StimSeq, TrainLengthDoesNotOverflow) {
    StimSeq seq(0, 2000000000, 4095, StimActionType::Immed);
    EXPECT_EQ(seq.GetTrainLength(), 8190000000000LL);
}

TEST(StimSeq, ValidOnlyWhenTheHeaderCarriesItUnchanged) {
    auto valid = [](std::int32_t period, std::int32_t repeats) {
        return StimSeq(0, period, repeats, StimActionType::Immed).IsValid();
    };
    EXPECT_TRUE(valid(1, 1));
    EXPECT_TRUE(valid(65535, 4095));
    // 65536 ticks would be sent as a period of 0, 4096 repeats as 0 repeats.
    EXPECT_FALSE(valid(65536, 1));
    EXPECT_FALSE(valid(1, 4096));
    EXPECT_FALSE(valid(0, 1));
    EXPECT_FALSE(valid(1, 0));
    EXPECT_FALSE(valid(-1, 1));
    EXPECT_FALSE(valid(1, -1));
}

TEST(StimSeq, WordsMustFitThePeriodAndThePacket) {
    StimSeq seq(0, 10, 1, StimActionType::Immed);
    seq.AddWord(StimControlWord(4, 1, false, true, true, 0, false));
    seq.AddWord(StimControlWord(6, 0, false, true, true, 0, false));
    EXPECT_TRUE(seq.IsValid()) << "a cycle exactly as long as the period plays";
    seq.AddWord(StimControlWord(1, 0, false, true, true, 0, false));
    EXPECT_FALSE(seq.IsValid());

    StimSeq zero(0, 10, 1, StimActionType::Immed);
    zero.AddWord(StimControlWord(0, 1, false, true, true, 0, false));
    EXPECT_FALSE(zero.IsValid()) << "a word of no ticks";

    StimSeq longest(0, 0xFFFF, 1, StimActionType::Immed);
    for (std::size_t i = 0; i + 1 < kStimMaxSeqWords; ++i) {
        longest.AddWord(StimControlWord(1, 0, false, true, true, 0, false));
    }
    EXPECT_TRUE(longest.IsValid());
    EXPECT_EQ(longest.GetStimCmd().size(), kStimMaxSeqWords);
    longest.AddWord(StimControlWord(1, 0, false, true, true, 0, false));
    EXPECT_FALSE(longest.IsValid());
}

TEST(StimSeqManager, BuildsSequencesByIndex) {
    StimSeqManager manager;
    EXPECT_EQ(manager.AddNewSeq(7, 300, 2, StimActionType::Immed), 0u);
    EXPECT_EQ(manager.AddNewSeq(3, 100, 10, StimActionType::Trigger), 1u);
    EXPECT_TRUE(manager.AddWordToSeq(0, 3, 20, true, true, true, 0, false));
    EXPECT_TRUE(manager.AddWordToSeq(1, StimControlWord(2, 0, false, true, true, 0, false)));
    manager.AddWordToTop(1, 5, false, false, true, 7, false);
    EXPECT_FALSE(manager.AddWordToSeq(2, 1, 1, false, true, true, 0, false));

    ASSERT_EQ(manager.Size(), 2u);
    EXPECT_EQ(manager.GetStimCmd(0), (std::vector<std::uint32_t>{0x0012C002u, 0x0003A094u}));
    EXPECT_EQ(manager.GetStimCmd(1),
              (std::vector<std::uint32_t>{0x3006400Au, 0x0002A000u, 0x00018705u}));
    EXPECT_TRUE(manager.GetStimCmd(2).empty());
    EXPECT_EQ(manager.GetElec(0), 7);
    EXPECT_EQ(manager.GetElec(1), 3);
    EXPECT_EQ(manager.GetElec(5), -1);
    ASSERT_NE(manager.GetSeq(1), nullptr);
    EXPECT_EQ(manager.GetSeq(1)->words.size(), 2u);
    EXPECT_EQ(manager.GetSeq(2), nullptr);
    EXPECT_TRUE(manager.IsValid());

    manager.Clear();
    EXPECT_EQ(manager.Size(), 0u);
    EXPECT_EQ(manager.GetElec(0), -1);
}

TEST(StimSeqManager, AddWordToTopWithoutSequences) {
    StimSeqManager manager;
    manager.AddWordToTop(3, 20, true, true, true, 0, false);
    EXPECT_EQ(manager.Size(), 0u);
    EXPECT_TRUE(manager.GetStimCmd(0).empty());
    EXPECT_EQ(manager.GetMaxStimPeriod(), 0);
    EXPECT_TRUE(manager.GetElecList().empty());
    EXPECT_TRUE(manager.IsValid());
}

TEST(StimSeqManager, LongestTrainAndElectrodes) {
    StimSeqManager manager;
    manager.AddNewSeq(4, 300, 2, StimActionType::Immed);
    manager.AddNewSeq(9, 100, 10, StimActionType::Immed);
    manager.AddNewSeq(4, 50, 1, StimActionType::AllCyc);
    // The whole train (period x repeats) counts, not one cycle.
    EXPECT_EQ(manager.GetMaxStimPeriod(), 1000);
    EXPECT_EQ(manager.GetElecList(), (std::vector<std::int32_t>{4, 9, 4}));
}

TEST(StimSeqManager, InvalidWhenAnySequenceIsInvalid) {
    StimSeqManager manager;
    manager.AddNewSeq(0, 100, 1, StimActionType::Immed);
    manager.AddNewSeq(1, 70000, 1, StimActionType::Immed);
    EXPECT_FALSE(manager.IsValid());
}

} // namespace
