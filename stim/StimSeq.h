// One electrode's stimulation sequence: a header word (start action, cycle length in ticks,
// cycle count) followed by control words in playing order.
#pragma once

#include "stim/StimActionType.h"
#include "stim/StimControlWord.h"

#include <cstdint>
#include <vector>

// Field limits of the header word: the period keeps 16 bits, the repeats 12 bits.
constexpr std::int32_t kStimMaxPeriod = 0xFFFF;
constexpr std::int32_t kStimMaxRepeats = 0xFFF;
// Words one sequence packet can carry, header word included: the packet's size byte counts
// 32-bit words and seven of them are taken by the packet head and the array head.
constexpr std::size_t kStimMaxSeqWords = 248;

// ((period & 0xFFFF) << 12) + actionBits + (repeats & 0xFFF), in unsigned 32-bit arithmetic;
// actionBits is already shifted into place (StimActionBits).
std::uint32_t StimHeaderWord(std::uint32_t actionBits, std::int32_t period, std::int32_t repeats);

class StimSeq {
  public:
    StimSeq(std::int32_t elec, std::int32_t period, std::int32_t repeats, StimActionType action);

    void AddWord(const StimControlWord& word) { words.push_back(word); }

    // Ticks the whole sequence plays: period x repeats, in 64 bits so that no product overflows.
    std::int64_t GetTrainLength() const;

    // Sum of the control words' lengths: one cycle's playing time in ticks.
    std::int64_t GetCycleLength() const;

    // The header word, then every control word, in order.
    std::vector<std::uint32_t> GetStimCmd() const;

    // True when the header carries the sequence unchanged (a known action, 1 <= period <=
    // 65535, 1 <= repeats <= 4095), every word lasts at least one tick, one cycle of words fits
    // in the period, and the words fit in one packet. A sequence that fails would otherwise
    // be cut to its field widths and play something other than what was asked for.
    bool IsValid() const;

    std::int32_t elec;
    std::uint32_t action; // already shifted into bits 31-28, or kStimInvalidAction
    std::int32_t period;
    std::int32_t repeats;
    std::vector<StimControlWord> words;
};
