#include "stim/StimSeq.h"

std::uint32_t StimHeaderWord(std::uint32_t actionBits, std::int32_t period, std::int32_t repeats) {
    return ((static_cast<std::uint32_t>(period) & 0xFFFFu) << 12) + actionBits +
           (static_cast<std::uint32_t>(repeats) & 0xFFFu);
}

StimSeq::StimSeq(std::int32_t elec, std::int32_t period, std::int32_t repeats,
                 StimActionType action)
    : elec(elec), action(StimActionBits(action)), period(period), repeats(repeats) {}

std::int64_t StimSeq::GetTrainLength() const {
    return static_cast<std::int64_t>(period) * repeats;
}

std::int64_t StimSeq::GetCycleLength() const {
    std::int64_t total = 0;
    for (const auto& word : words) {
        total += word.length;
    }
    return total;
}

std::vector<std::uint32_t> StimSeq::GetStimCmd() const {
    std::vector<std::uint32_t> out;
    out.reserve(words.size() + 1);
    out.push_back(StimHeaderWord(action, period, repeats));
    for (const auto& word : words) {
        out.push_back(word.GetStimCmd());
    }
    return out;
}

bool StimSeq::IsValid() const {
    if (action == kStimInvalidAction) {
        return false;
    }
    if (period < 1 || period > kStimMaxPeriod || repeats < 1 || repeats > kStimMaxRepeats) {
        return false;
    }
    if (words.size() + 1 > kStimMaxSeqWords) {
        return false;
    }
    for (const auto& word : words) {
        if (word.length == 0) {
            return false;
        }
    }
    return GetCycleLength() <= period;
}
