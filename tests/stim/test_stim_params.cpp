// Parameter texts: splitting, parsing, validation and the words of one biphasic pulse.
#include "stim/BiPhasePulseTrain.h"
#include "stim/Split.h"
#include "stim/StimControlWord.h"
#include "stim/StimParamManager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::uint32_t>;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    split(text, separator, pieces);
    return pieces;
}

// Collects what a manager writes to its log.
class Log {
  public:
    Log() : file_(std::tmpfile()) {}
    ~Log() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    std::FILE* file() const { return file_; }
    std::string Text() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        char buffer[256];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
            out.append(buffer, got);
        }
        return out;
    }

  private:
    std::FILE* file_;
};

TEST(Split, KeepsInnerAndLeadingEmptyPieces) {
    EXPECT_EQ(Split("a;;b;", ';'), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Split(";a", ';'), (std::vector<std::string>{"", "a"}));
    EXPECT_EQ(Split("a;;", ';'), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(Split(";", ';'), (std::vector<std::string>{""}));
    EXPECT_EQ(Split("abc", ';'), (std::vector<std::string>{"abc"}));
    EXPECT_TRUE(Split("", ';').empty());

    std::vector<std::string> pieces{"kept"};
    split("x,y", ',', pieces);
    EXPECT_EQ(pieces, (std::vector<std::string>{"kept", "x", "y"})) << "appends";
}

TEST(StimParams, ParsesOneValuePerTrain) {
    StimParamManager params("Elect=1,2;TL=100,100;Freq=50,50;Dur=0.2,0.2;Amp=10,10", nullptr);
    ASSERT_EQ(params.Size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const BiPhasePulseTrain& train = params.GetTrain(i);
        EXPECT_EQ(train.Elect, static_cast<std::int32_t>(i + 1));
        EXPECT_DOUBLE_EQ(train.TL, 100000);
        EXPECT_DOUBLE_EQ(train.Freq, 50);
        EXPECT_DOUBLE_EQ(train.CathDur, 200);
        EXPECT_DOUBLE_EQ(train.AnodDur, 200);
        EXPECT_DOUBLE_EQ(train.CathAmp, 10);
        EXPECT_DOUBLE_EQ(train.AnodAmp, 10);
        EXPECT_TRUE(train.PL);
        EXPECT_TRUE(params.CheckEntry(i));
    }
    EXPECT_TRUE(params.IsValid());
    EXPECT_EQ(params.GetElecList(), (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(params.GetTrainLength(1), 100000);
    EXPECT_EQ(params.GetMaxTrainLength(), 100000);
    EXPECT_EQ(params.GetPeriod(0), 20);
    EXPECT_DOUBLE_EQ(params.GetInterphase(), 66.67);
}

TEST(StimParams, EveryKeySetsItsFields) {
    StimParamManager params("Elect=7;PL=0;TL=2.5;Freq=40;CathDur=0.3;AnodDur=0.4;CathAmp=12;"
                            "AnodAmp=6;TD=0.05;FS=0.01",
                            nullptr);
    ASSERT_EQ(params.Size(), 1u);
    const BiPhasePulseTrain& train = params.GetTrain(0);
    EXPECT_EQ(train.Elect, 7);
    EXPECT_FALSE(train.PL);
    EXPECT_DOUBLE_EQ(train.TL, 2500);
    EXPECT_DOUBLE_EQ(train.Freq, 40);
    EXPECT_DOUBLE_EQ(train.CathDur, 300);
    EXPECT_DOUBLE_EQ(train.AnodDur, 400);
    EXPECT_DOUBLE_EQ(train.CathAmp, 12);
    EXPECT_DOUBLE_EQ(train.AnodAmp, 6);
    EXPECT_DOUBLE_EQ(train.TD, 50);
    EXPECT_DOUBLE_EQ(train.FS, 10);

    // A later key overrides what an earlier one set; PL takes any non-zero integer as true.
    StimParamManager later("Dur=0.2;CathDur=0.5;Amp=3;AnodAmp=9;PL=-4", nullptr);
    EXPECT_DOUBLE_EQ(later.GetTrain(0).CathDur, 500);
    EXPECT_DOUBLE_EQ(later.GetTrain(0).AnodDur, 200);
    EXPECT_DOUBLE_EQ(later.GetTrain(0).CathAmp, 3);
    EXPECT_DOUBLE_EQ(later.GetTrain(0).AnodAmp, 9);
    EXPECT_TRUE(later.GetTrain(0).PL);
}

TEST(StimParams, FirstEntryFixesTheTrainCount) {
    // The single-valued Freq entry does not match two trains and is dropped whole.
    StimParamManager mismatch("Elect=1,2;Freq=30", nullptr);
    ASSERT_EQ(mismatch.Size(), 2u);
    EXPECT_EQ(mismatch.GetTrain(0).Freq, 0);
    EXPECT_EQ(mismatch.GetTrain(1).Freq, 0);
    EXPECT_FALSE(mismatch.IsValid());

    // Entries without '=' are skipped and do not fix the count.
    StimParamManager skipped("junk;Elect=;Elect=4,5,6;TL=1,2", nullptr);
    ASSERT_EQ(skipped.Size(), 3u);
    EXPECT_EQ(skipped.GetTrain(2).Elect, 6);
    EXPECT_EQ(skipped.GetTrain(0).TL, 0);

    StimParamManager none("", nullptr);
    EXPECT_EQ(none.Size(), 0u);
    EXPECT_TRUE(none.IsValid());
    EXPECT_EQ(none.GetMaxTrainLength(), 0);
}

TEST(StimParams, OnlySpacesAreRemoved) {
    StimParamManager spaced("Elect = 1 ; TL = 5", nullptr);
    ASSERT_EQ(spaced.Size(), 1u);
    EXPECT_EQ(spaced.GetTrain(0).Elect, 1);
    EXPECT_DOUBLE_EQ(spaced.GetTrain(0).TL, 5000);

    Log log;
    StimParamManager tabbed("Elect=1;\tTL=5", log.file());
    EXPECT_EQ(tabbed.GetTrain(0).TL, 0);
    EXPECT_EQ(log.Text(), "Invalid param: \tTL\n");
}

TEST(StimParams, UnknownKeyIsReportedOncePerValue) {
    Log log;
    StimParamManager params("Foo=1,2;Elect=4,5;elect=6,7", log.file());
    ASSERT_EQ(params.Size(), 2u);
    EXPECT_EQ(params.GetTrain(0).Elect, 4);
    EXPECT_EQ(params.GetTrain(1).Elect, 5);
    EXPECT_EQ(log.Text(), "Invalid param: Foo\nInvalid param: Foo\n"
                          "Invalid param: elect\nInvalid param: elect\n");
}

TEST(StimParams, NumbersAreReadFromTheStartOfEachValue) {
    StimParamManager params("Elect=12abc,x,1.9,99999999999999999999;Freq=2e1,-,0x10,inf", nullptr);
    ASSERT_EQ(params.Size(), 4u);
    EXPECT_EQ(params.GetTrain(0).Elect, 12);
    EXPECT_EQ(params.GetTrain(1).Elect, 0);
    EXPECT_EQ(params.GetTrain(2).Elect, 1);
    EXPECT_EQ(params.GetTrain(3).Elect, INT32_MAX) << "held at the limit, not overflowed";
    EXPECT_DOUBLE_EQ(params.GetTrain(0).Freq, 20);
    EXPECT_EQ(params.GetTrain(1).Freq, 0);
    EXPECT_DOUBLE_EQ(params.GetTrain(2).Freq, 16);

    StimParamManager lowest("Elect=-99999999999999999999", nullptr);
    EXPECT_EQ(lowest.GetTrain(0).Elect, INT32_MIN);
    EXPECT_EQ(lowest.GetElecID(0), INT32_MIN);
    EXPECT_FALSE(lowest.CheckEntry(0));
}

std::string Train(const std::string& changes) {
    return "Elect=1;TL=100;Freq=50;Dur=0.2;Amp=10;" + changes;
}

bool Valid(const std::string& text) {
    return StimParamManager(text, nullptr).CheckEntry(0);
}

TEST(StimParams, Validation) {
    EXPECT_TRUE(Valid(Train("")));
    EXPECT_FALSE(Valid("Elect=3;Freq=100")) << "no train length";
    EXPECT_TRUE(Valid(Train("Elect=512")));
    EXPECT_FALSE(Valid(Train("Elect=513")));
    EXPECT_FALSE(Valid(Train("Elect=0")));
    EXPECT_FALSE(Valid(Train("Freq=0")));
    EXPECT_FALSE(Valid(Train("Freq=-50")));
    EXPECT_FALSE(Valid(Train("TL=0")));
    EXPECT_FALSE(Valid(Train("TD=-0.1")));
    EXPECT_TRUE(Valid(Train("TD=0.1")));
    EXPECT_TRUE(Valid(Train("Dur=0.002")));
    EXPECT_FALSE(Valid(Train("CathDur=0.0019")));
    EXPECT_FALSE(Valid(Train("AnodDur=0.0019")));
    // 500 + 500 + 66.67 us does not fit in the 1000 us period of 1 kHz.
    EXPECT_FALSE(Valid("Elect=1;Freq=1000;TL=10;Dur=0.5;Amp=5"));
    EXPECT_TRUE(Valid("Elect=1;Freq=1000;TL=10;Dur=0.45;Amp=5"));
    EXPECT_FALSE(Valid("Elect=1;Freq=1000;TL=10;Dur=0.45;TD=0.1;Amp=5")) << "delay counts";
    EXPECT_FALSE(Valid(Train("Freq=nan")));
    EXPECT_FALSE(Valid(Train("TL=nan")));
    EXPECT_FALSE(Valid(Train("TD=nan")));
    EXPECT_FALSE(Valid(Train("Dur=nan")));
    EXPECT_FALSE(Valid(Train("Freq=inf")));
    EXPECT_FALSE(Valid(Train("TL=inf")));
    EXPECT_FALSE(Valid(Train("TD=1e308")));
    EXPECT_FALSE(StimParamManager(Train(""), nullptr).CheckEntry(1)) << "no such train";

    StimParamManager mixed("Elect=1,600;TL=100,100;Freq=50,50;Dur=0.2,0.2;Amp=10,10", nullptr);
    EXPECT_TRUE(mixed.CheckEntry(0));
    EXPECT_FALSE(mixed.CheckEntry(1));
    EXPECT_FALSE(mixed.IsValid());
}

// Regression: a period above 65535 ticks or more than 4095 pulses used to be cut to the
// header's field widths, so the processor played another rate or pulse count than asked.
TEST(StimParams, RefusesWhatTheHeaderCannotCarry) {
    // 0.4 Hz is 75000 ticks per pulse; everything else about this train is fine.
    StimParamManager slow(Train("Freq=0.4;TL=5000"), nullptr);
    EXPECT_FALSE(slow.CheckEntry(0));
    EXPECT_EQ(slow.GetPAXControlWord(0) >> 12, 9464u) << "what the cut header would say";
    EXPECT_TRUE(Valid(Train("Freq=0.5;TL=5000"))) << "60000 ticks";

    EXPECT_TRUE(Valid("Elect=1;Freq=100;TL=40950;Dur=0.2;Amp=10")) << "4095 pulses";
    EXPECT_FALSE(Valid("Elect=1;Freq=100;TL=40960;Dur=0.2;Amp=10")) << "4096 pulses";
    EXPECT_FALSE(Valid(Train("TL=10"))) << "shorter than one period: no pulse at all";
}

// Regression: a pulse that fits its period in microseconds could still take one tick more
// than the period once its phases were rounded to whole ticks, overrunning the next cycle.
TEST(StimParams, RefusesAPulseLongerThanItsPeriodInTicks) {
    const std::string head = "Elect=1;TL=1000;Freq=1;CathDur=99.993333;Amp=5;";
    StimParamManager overrun(head + "AnodDur=899.939996", nullptr);
    std::uint32_t ticks = 0;
    for (const auto& word : overrun.GetPulseWords(0)) {
        ticks += word.length;
    }
    EXPECT_EQ(ticks, 30001u);
    EXPECT_EQ(overrun.GetPAXControlWord(0) >> 12, 30000u);
    EXPECT_FALSE(overrun.CheckEntry(0));
    EXPECT_TRUE(Valid(head + "AnodDur=899.9")) << "exactly 30000 ticks";
}

TEST(StimParams, RefusesAmplitudesOutsideTheField) {
    EXPECT_TRUE(Valid(Train("Amp=127")));
    EXPECT_TRUE(Valid(Train("Amp=0")));
    EXPECT_FALSE(Valid(Train("Amp=128")));
    EXPECT_FALSE(Valid(Train("CathAmp=-1")));
    EXPECT_FALSE(Valid(Train("AnodAmp=200")));
    EXPECT_FALSE(Valid(Train("Amp=nan")));
}

TEST(StimParams, OutOfRangeIndexes) {
    StimParamManager params(Train(""), nullptr);
    EXPECT_EQ(params.GetElecID(1), -1);
    EXPECT_EQ(params.GetTrainLength(1), 0);
    EXPECT_EQ(params.GetPeriod(1), 0);
    EXPECT_EQ(params.GetPAXControlWord(1), 0u);
    EXPECT_TRUE(params.GetStimCmd(1).empty());
}

TEST(StimParams, HeaderWord) {
    StimParamManager params(Train(""), nullptr);
    // 600 ticks per pulse, 5 pulses, start at once.
    EXPECT_EQ(params.GetPAXControlWord(0), 0x00258005u);
    StimParamManager odd("Elect=3;TL=250;Freq=30;Dur=0.1;Amp=1", nullptr);
    EXPECT_EQ(odd.GetPAXControlWord(0), (1000u << 12) + 7u);
    EXPECT_EQ(odd.GetPeriod(0), 33);
    EXPECT_EQ(odd.GetElecID(0), 2);
}

TEST(StimParams, LongestTrain) {
    StimParamManager params("Elect=1,2,3;TL=100,250.7,3", nullptr);
    EXPECT_EQ(params.GetTrainLength(1), 250700);
    EXPECT_EQ(params.GetMaxTrainLength(), 250700);
    // Longer than 32 bits of microseconds: 8000 s.
    StimParamManager hours("Elect=1;TL=8000000", nullptr);
    EXPECT_EQ(hours.GetMaxTrainLength(), 8000000000LL);
}

// Words are compared as encoded 32-bit values: length << 16 | ampSelect 0x8000 |
// enable 0x2000 | delay << 8 | pol 0x80 | ampl.
TEST(StimPulse, WholeTickPhases) {
    Log log;
    StimParamManager params(Train(""), log.file());
    // 200 us is 6 ticks (and 0.002 us, less than a step); the gap is 2 ticks.
    EXPECT_EQ(params.GetStimCmd(0), (Words{0x0006A00Au, 0x0002A000u, 0x0006A08Au}));
    EXPECT_EQ(log.Text(), "");

    StimParamManager reversed(Train("PL=0"), nullptr);
    EXPECT_EQ(reversed.GetStimCmd(0), (Words{0x0006A08Au, 0x0002A000u, 0x0006A00Au}));
}

TEST(StimPulse, DelayWordComesFirst) {
    StimParamManager params(Train("TD=0.1"), nullptr);
    // 100 us is 3 whole ticks of silence, without amplitude select.
    EXPECT_EQ(params.GetStimCmd(0), (Words{0x00030000u, 0x0006A00Au, 0x0002A000u, 0x0006A08Au}));
    StimParamManager shortDelay(Train("TD=0.02"), nullptr);
    EXPECT_EQ(shortDelay.GetStimCmd(0).size(), 3u) << "less than one tick: no delay word";
}

TEST(StimPulse, PartialTicksAndAnodicLeadIn) {
    Log log;
    StimParamManager params(Train("Dur=0.02"), log.file());
    // Cathodic 19 steps at the start of a tick; one tick of gap; the anodic phase starts 19
    // steps into the next tick (lead-in) and runs on for 6 steps of the tick after.
    EXPECT_EQ(params.GetStimCmd(0), (Words{0x0001930Au, 0x0001A000u, 0x0001B38Au, 0x0001868Au}));
    EXPECT_EQ(log.Text(), "");
    EXPECT_TRUE(params.CheckEntry(0));
}

TEST(StimPulse, RealignmentWhenTheAnodicPhaseCannotFillItsTick) {
    Log log;
    StimParamManager params(Train("Dur=0.01"), log.file());
    // Cathodic current in the last 10 steps of one tick (starting at step 22), the standard
    // two-tick gap, then the anodic current for the first 10 steps of a tick.
    EXPECT_EQ(params.GetStimCmd(0), (Words{0x0001B60Au, 0x0002A000u, 0x00018A8Au}));
    EXPECT_EQ(log.Text(), "Warning: realignment needed\n");
    EXPECT_TRUE(params.CheckEntry(0));
    EXPECT_EQ(log.Text(), "Warning: realignment needed\n") << "validation stays quiet";
}

// Regression: a remainder of 31.5 steps or more rounded to a delay of 32, which the 5-bit
// field cuts to 0, so the last partial tick of the anodic phase carried no current and the
// pulse lost a third of its anodic charge.
TEST(StimPulse, RoundedFullTickBecomesAWholeTick) {
    StimParamManager params(Train("CathDur=0.1;AnodDur=0.0999"), nullptr);
    EXPECT_EQ(params.GetStimCmd(0), (Words{0x0003A00Au, 0x0002A000u, 0x0003A08Au}));
}

TEST(StimPulse, WordRecordsMatchTheEncodedWords) {
    StimParamManager params(Train("Dur=0.02;TD=0.1;CathAmp=3;AnodAmp=4"), nullptr);
    std::vector<StimControlWord> words = params.GetPulseWords(0);
    Words encoded = params.GetStimCmd(0);
    ASSERT_EQ(words.size(), encoded.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        EXPECT_EQ(words[i].GetStimCmd(), encoded[i]) << i;
        EXPECT_FALSE(words[i].fs);
        EXPECT_EQ(words[i].ampSelect, i != 0) << "only the delay word has no amplitude select";
    }
    EXPECT_EQ(words[1].ampl, 3u);
    EXPECT_FALSE(words[1].pol);
    EXPECT_EQ(words.back().ampl, 4u);
    EXPECT_TRUE(words.back().pol);
}

} // namespace
