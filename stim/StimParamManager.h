// Stimulation described as a parameter text of key=value lists, one value per biphasic
// pulse train, e.g. "Elect=1,2;TL=100,100;Freq=50,50;Dur=0.2,0.2;Amp=10,10". The text is
// parsed at construction; each train then yields its sequence header word and the control
// words of one biphasic pulse.
#pragma once

#include "stim/BiPhasePulseTrain.h"
#include "stim/StimControlWord.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Timing of the encoder, in microseconds: one clock tick (30 kHz), one delay step (1/32
// tick) and the pause between the cathodic and the anodic phase (two ticks).
constexpr double kStimTickUs = 33.333;
constexpr double kStimStepUs = 1.0417;
constexpr double kStimInterphaseUs = 66.67;

// Highest front-end electrode a parameter text may name (1-based).
constexpr std::int32_t kStimParamMaxElect = 512;

class StimParamManager {
  public:
    // Parses text at once. Parsing never fails: bad input leaves trains that do not
    // validate. Unknown keys and realignment warnings are reported on log (standard error
    // unless given; nullptr keeps quiet).
    explicit StimParamManager(const std::string& text, std::FILE* log = stderr);
    virtual ~StimParamManager() = default;

    std::size_t Size() const { return trains_.size(); }

    // True when every train passes CheckEntry; true when there are no trains.
    bool IsValid() const;

    // Whether train i can be played as described: electrode 1-512; frequency and train
    // length above 0; delay 0 or more; both phases at least 2 us; one pulse (both phases,
    // delay and interphase gap) fits in one period; the period in ticks and the number of
    // pulses fit in the header word (1-65535 ticks, 1-4095 pulses); both amplitudes in
    // 0-127; every control word's length fits in its field; and the pulse's words, rounded
    // to whole ticks, fit in one period. False for an unknown i.
    bool CheckEntry(std::size_t i) const;

    // The 0-based electrode index of train i (Elect - 1); -1 for an unknown i.
    std::int32_t GetElecID(std::size_t i) const;
    std::vector<std::int32_t> GetElecList() const;

    // Train length in whole microseconds; 0 for an unknown i / when there are no trains.
    std::int64_t GetTrainLength(std::size_t i) const;
    std::int64_t GetMaxTrainLength() const;

    // Pulse period in whole milliseconds (1000 / Freq); 0 for an unknown i.
    std::int64_t GetPeriod(std::size_t i) const;

    // Sequence header word of train i: start at once, period 30000 / Freq ticks, repeats =
    // the number of pulses in the train. 0 for an unknown i.
    std::uint32_t GetPAXControlWord(std::size_t i) const;

    // Control words of one biphasic pulse of train i, without the header word; prints the
    // realignment warning when the anodic phase has to be realigned. Empty for an unknown i.
    std::vector<std::uint32_t> GetStimCmd(std::size_t i) const;

    // The same pulse as word records, without any message.
    std::vector<StimControlWord> GetPulseWords(std::size_t i) const;

    // The parsed train i; i must be below Size().
    const BiPhasePulseTrain& GetTrain(std::size_t i) const { return trains_[i]; }

    const std::string& GetText() const { return text_; }
    double GetInterphase() const { return interphase_; }

  private:
    void Parse();
    void Store(const std::string& key, const std::string& value, BiPhasePulseTrain& train) const;
    // Appends the pulse words of train to words. Returns false when a word's length does not
    // fit its 16-bit field (it is then cut, as the field width demands).
    bool EncodePulse(const BiPhasePulseTrain& train, std::vector<StimControlWord>& words,
                     bool& realigned) const;

    double interphase_;
    std::string text_;
    std::vector<BiPhasePulseTrain> trains_;
    std::FILE* log_;
};
