// The sequences of one stimulation command, in the order they were added; a sequence's
// position is its index.
#pragma once

#include "stim/StimActionType.h"
#include "stim/StimControlWord.h"
#include "stim/StimSeq.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class StimSeqManager {
  public:
    // Appends an empty sequence and returns its index.
    std::size_t AddNewSeq(std::int32_t elec, std::int32_t period, std::int32_t repeats,
                          StimActionType action);

    // Append a word to sequence index; false (and nothing changes) when there is no such
    // sequence.
    bool AddWordToSeq(std::size_t index, const StimControlWord& word);
    bool AddWordToSeq(std::size_t index, std::uint16_t length, std::uint32_t ampl, bool pol,
                      bool enable, bool ampSelect, std::uint32_t delay, bool fs);

    // Appends a word to the most recently added sequence; nothing when there is none.
    void AddWordToTop(std::uint16_t length, std::uint32_t ampl, bool pol, bool enable,
                      bool ampSelect, std::uint32_t delay, bool fs);

    // Header word and control words of sequence index; empty when there is no such sequence.
    std::vector<std::uint32_t> GetStimCmd(std::size_t index) const;

    // Electrode index of sequence index, or -1 when there is no such sequence.
    std::int32_t GetElec(std::size_t index) const;

    // The longest period x repeats of all sequences (whole trains, not one cycle), 0 when
    // there are none.
    std::int64_t GetMaxStimPeriod() const;

    // Electrode indexes of all sequences in order; an electrode named twice appears twice.
    std::vector<std::int32_t> GetElecList() const;

    // True when every sequence is valid (StimSeq::IsValid); true when there are none.
    bool IsValid() const;

    // The sequence at index, or nullptr.
    const StimSeq* GetSeq(std::size_t index) const;

    std::size_t Size() const { return seqs_.size(); }
    void Clear() { seqs_.clear(); }

  private:
    std::vector<StimSeq> seqs_;
};
