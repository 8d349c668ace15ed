#include "stim/StimSeqManager.h"

#include <algorithm>

std::size_t StimSeqManager::AddNewSeq(std::int32_t elec, std::int32_t period, std::int32_t repeats,
                                      StimActionType action) {
    seqs_.emplace_back(elec, period, repeats, action);
    return seqs_.size() - 1;
}

bool StimSeqManager::AddWordToSeq(std::size_t index, const StimControlWord& word) {
    if (index >= seqs_.size()) {
        return false;
    }
    seqs_[index].AddWord(word);
    return true;
}

bool StimSeqManager::AddWordToSeq(std::size_t index, std::uint16_t length, std::uint32_t ampl,
                                  bool pol, bool enable, bool ampSelect, std::uint32_t delay,
                                  bool fs) {
    return AddWordToSeq(index, StimControlWord(length, ampl, pol, enable, ampSelect, delay, fs));
}

void StimSeqManager::AddWordToTop(std::uint16_t length, std::uint32_t ampl, bool pol, bool enable,
                                  bool ampSelect, std::uint32_t delay, bool fs) {
    if (!seqs_.empty()) {
        seqs_.back().AddWord(StimControlWord(length, ampl, pol, enable, ampSelect, delay, fs));
    }
}

std::vector<std::uint32_t> StimSeqManager::GetStimCmd(std::size_t index) const {
    if (index >= seqs_.size()) {
        return {};
    }
    return seqs_[index].GetStimCmd();
}

std::int32_t StimSeqManager::GetElec(std::size_t index) const {
    return index < seqs_.size() ? seqs_[index].elec : -1;
}

std::int64_t StimSeqManager::GetMaxStimPeriod() const {
    std::int64_t longest = 0;
    for (const auto& seq : seqs_) {
        longest = std::max(longest, seq.GetTrainLength());
    }
    return longest;
}

std::vector<std::int32_t> StimSeqManager::GetElecList() const {
    std::vector<std::int32_t> out;
    out.reserve(seqs_.size());
    for (const auto& seq : seqs_) {
        out.push_back(seq.elec);
    }
    return out;
}

bool StimSeqManager::IsValid() const {
    return std::all_of(seqs_.begin(), seqs_.end(),
                       [](const StimSeq& seq) { return seq.IsValid(); });
}

const StimSeq* StimSeqManager::GetSeq(std::size_t index) const {
    return index < seqs_.size() ? &seqs_[index] : nullptr;
}
