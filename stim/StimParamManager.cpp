#include "stim/StimParamManager.h"

#include "stim/Split.h"
#include "stim/StimSeq.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

constexpr double kUsPerMs = 1000.0;
constexpr double kTicksPerSecond = 30000.0;

// Truncation toward zero that is defined for every double: NaN reads as 0 and magnitudes
// beyond 2^62 are held there (far outside any field the words carry).
std::int64_t Trunc(double value) {
    constexpr double kLimit = 4611686018427387904.0; // 2^62
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= kLimit) {
        return static_cast<std::int64_t>(kLimit);
    }
    if (value <= -kLimit) {
        return -static_cast<std::int64_t>(kLimit);
    }
    return static_cast<std::int64_t>(value);
}

// Decimal integer from the start of the text, as the C library reads it; out-of-range
// values are held at the 32-bit limits instead of overflowing.
std::int32_t ReadInt(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

double ReadReal(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

// The low bits a field keeps, from a truncated value of any sign.
std::uint32_t Low32(std::int64_t value) {
    return static_cast<std::uint32_t>(value);
}

bool Amplitude(double value) {
    return value >= 0 && value <= kStimMaxAmpl;
}

} // namespace

StimParamManager::StimParamManager(const std::string& text, std::FILE* log)
    : interphase_(kStimInterphaseUs), text_(text), log_(log) {
    Parse();
}

void StimParamManager::Parse() {
    std::string compact;
    compact.reserve(text_.size());
    for (char c : text_) {
        if (c != ' ') {
            compact.push_back(c);
        }
    }

    std::vector<std::string> entries;
    split(compact, ';', entries);
    bool sized = false;
    std::size_t count = 0;
    for (const auto& entry : entries) {
        std::vector<std::string> parts;
        split(entry, '=', parts);
        if (parts.size() < 2) {
            continue;
        }
        std::vector<std::string> values;
        split(parts[1], ',', values);
        if (!sized) {
            count = values.size();
            trains_.resize(count);
            sized = true;
        }
        if (values.size() != count) {
            continue;
        }
        for (std::size_t j = 0; j < count; ++j) {
            Store(parts[0], values[j], trains_[j]);
        }
    }
}

void StimParamManager::Store(const std::string& key, const std::string& value,
                             BiPhasePulseTrain& train) const {
    if (key == "Elect") {
        train.Elect = ReadInt(value);
    } else if (key == "Freq") {
        train.Freq = ReadReal(value);
    } else if (key == "TL") {
        train.TL = ReadReal(value) * kUsPerMs;
    } else if (key == "CathDur") {
        train.CathDur = ReadReal(value) * kUsPerMs;
    } else if (key == "AnodDur") {
        train.AnodDur = ReadReal(value) * kUsPerMs;
    } else if (key == "CathAmp") {
        train.CathAmp = ReadReal(value);
    } else if (key == "AnodAmp") {
        train.AnodAmp = ReadReal(value);
    } else if (key == "Dur") {
        train.CathDur = train.AnodDur = ReadReal(value) * kUsPerMs;
    } else if (key == "Amp") {
        train.CathAmp = train.AnodAmp = ReadReal(value);
    } else if (key == "TD") {
        train.TD = ReadReal(value) * kUsPerMs;
    } else if (key == "FS") {
        train.FS = ReadReal(value) * kUsPerMs;
    } else if (key == "PL") {
        train.PL = ReadInt(value) != 0;
    } else if (log_ != nullptr) {
        std::fprintf(log_, "Invalid param: %s\n", key.c_str());
    }
}

bool StimParamManager::IsValid() const {
    for (std::size_t i = 0; i < trains_.size(); ++i) {
        if (!CheckEntry(i)) {
            return false;
        }
    }
    return true;
}

bool StimParamManager::CheckEntry(std::size_t i) const {
    if (i >= trains_.size()) {
        return false;
    }
    const auto& train = trains_[i];
    if (train.Elect < 1 || train.Elect > kStimParamMaxElect) {
        return false;
    }
    // Written so that NaN fails every test.
    if (!(train.Freq > 0) || !(train.TL > 0) || !(train.TD >= 0)) {
        return false;
    }
    if (!(train.CathDur >= 2) || !(train.AnodDur >= 2)) {
        return false;
    }
    if (!(train.CathDur + train.TD + train.AnodDur + interphase_ <= 1000000.0 / train.Freq)) {
        return false;
    }
    // The header keeps 16 bits of the period and 12 of the repeats; a train that does not
    // fit would play at another rate or for another number of pulses than asked for.
    std::int64_t period = Trunc(kTicksPerSecond / train.Freq);
    std::int64_t repeats = Trunc(train.TL * train.Freq * 1e-6);
    if (period < 1 || period > kStimMaxPeriod || repeats < 1 || repeats > kStimMaxRepeats) {
        return false;
    }
    // The amplitude field has 7 bits; a larger or negative amplitude would be cut to another
    // current.
    if (!Amplitude(train.CathAmp) || !Amplitude(train.AnodAmp)) {
        return false;
    }
    std::vector<StimControlWord> words;
    bool realigned = false;
    if (!EncodePulse(train, words, realigned)) {
        return false;
    }
    // Phases are rounded to whole ticks and steps, so a pulse that fits its period in
    // microseconds can still need a tick more than the period holds; its cycle would then
    // overrun the next one.
    std::int64_t ticks = 0;
    for (const auto& word : words) {
        ticks += word.length;
    }
    return ticks <= period;
}

std::int32_t StimParamManager::GetElecID(std::size_t i) const {
    if (i >= trains_.size()) {
        return -1;
    }
    std::int32_t elect = trains_[i].Elect;
    return elect > INT32_MIN ? elect - 1 : INT32_MIN;
}

std::vector<std::int32_t> StimParamManager::GetElecList() const {
    std::vector<std::int32_t> out;
    out.reserve(trains_.size());
    for (std::size_t i = 0; i < trains_.size(); ++i) {
        out.push_back(GetElecID(i));
    }
    return out;
}

std::int64_t StimParamManager::GetTrainLength(std::size_t i) const {
    return i < trains_.size() ? Trunc(trains_[i].TL) : 0;
}

std::int64_t StimParamManager::GetMaxTrainLength() const {
    if (trains_.empty()) {
        return 0;
    }
    std::int64_t longest = GetTrainLength(0);
    for (std::size_t i = 1; i < trains_.size(); ++i) {
        longest = std::max(longest, GetTrainLength(i));
    }
    return longest;
}

std::int64_t StimParamManager::GetPeriod(std::size_t i) const {
    return i < trains_.size() ? Trunc(1000.0 / trains_[i].Freq) : 0;
}

std::uint32_t StimParamManager::GetPAXControlWord(std::size_t i) const {
    if (i >= trains_.size()) {
        return 0;
    }
    const auto& train = trains_[i];
    std::uint32_t period = Low32(Trunc(kTicksPerSecond / train.Freq)) & 0xFFFFu;
    std::uint32_t repeats = Low32(Trunc(train.TL * train.Freq * 1e-6)) & 0xFFFu;
    return (period << 12) + repeats;
}

std::vector<StimControlWord> StimParamManager::GetPulseWords(std::size_t i) const {
    std::vector<StimControlWord> words;
    if (i < trains_.size()) {
        bool realigned = false;
        EncodePulse(trains_[i], words, realigned);
    }
    return words;
}

std::vector<std::uint32_t> StimParamManager::GetStimCmd(std::size_t i) const {
    std::vector<std::uint32_t> out;
    if (i >= trains_.size()) {
        return out;
    }
    std::vector<StimControlWord> words;
    bool realigned = false;
    EncodePulse(trains_[i], words, realigned);
    if (realigned && log_ != nullptr) {
        std::fprintf(log_, "Warning: realignment needed\n");
    }
    out.reserve(words.size());
    for (const auto& word : words) {
        out.push_back(word.GetStimCmd());
    }
    return out;
}

// One biphasic pulse: an optional delay, the cathodic phase, the interphase gap and the
// anodic phase. Phases are laid out in whole ticks plus a partial tick of 1/32-tick steps:
// a one-tick word with enable off carries current for its first `delay` steps, one with
// enable on and a non-zero delay starts its current `delay` steps into the tick.
bool StimParamManager::EncodePulse(const BiPhasePulseTrain& train,
                                   std::vector<StimControlWord>& words, bool& realigned) const {
    const double S = kStimTickUs;
    const double Q = kStimStepUs;
    const double G0 = interphase_;
    bool fits = true;
    auto emit = [&](std::int64_t length, double ampl, bool pol, bool enable, bool ampSelect,
                    std::int64_t delay) {
        if (length < 1 || length > 0xFFFF) {
            fits = false;
        }
        words.emplace_back(static_cast<std::uint16_t>(Low32(length) & 0xFFFFu), Low32(Trunc(ampl)),
                           pol, enable, ampSelect, Low32(delay), false);
    };

    // The cathodic remainder beyond whole ticks shortens the gap so that the anodic phase
    // starts on time.
    double x = std::floor(std::fmod(train.CathDur, S) / Q) * Q;
    double G = x > 0 ? G0 + x - S : G0;
    double y = std::floor(std::fmod(G, S) / Q) * Q;
    realigned = S - y > train.AnodDur;

    if (train.TD > 0) {
        std::int64_t n = Trunc(std::floor(train.TD / S));
        if ((n & 0xFFFF) != 0) {
            emit(n, 0, false, false, false, 0);
        } else if (n != 0) {
            fits = false;
        }
    }

    const bool cathPol = !train.PL;
    if (realigned) {
        // The anodic phase would start in the middle of a tick that it cannot fill: the
        // cathodic current fills the last AnodDur of one tick instead, followed by the
        // standard gap.
        emit(1, train.CathAmp, cathPol, true, true,
             Trunc(std::floor((S - train.AnodDur) / Q + 0.5)));
        G = G0;
        y = std::floor(std::fmod(G0, S) / Q) * Q;
    } else {
        std::int64_t n = Trunc(train.CathDur / S);
        if (n > 0) {
            emit(n, train.CathAmp, cathPol, true, true, 0);
        }
        std::int64_t m = Trunc(std::fmod(train.CathDur, S) / Q);
        if (m > 0) {
            emit(1, train.CathAmp, cathPol, false, true, m);
        }
    }

    std::int64_t a = Trunc(G / S);
    std::int64_t k = Trunc(y / Q);
    if (a > 0) {
        emit(a, 0, false, true, true, 0);
    }
    if (k > 0) {
        emit(1, train.AnodAmp, train.PL, true, true, k);
    }

    double A = train.AnodDur;
    if (k > 0) {
        A -= static_cast<double>(32 - k) * Q;
    }
    std::int64_t w = Trunc(std::floor(A / S));
    std::int64_t f = Trunc(std::floor(std::fmod(A, S) / Q + 0.5));
    if (f < 0) {
        w -= 1;
        f += 32;
    }
    // Rounding can give a full tick of steps; a delay of 32 would be cut to 0 in its 5-bit
    // field and drop almost one tick of anodic charge, so it becomes one more whole tick.
    if (f >= 32) {
        w += 1;
        f -= 32;
    }
    if (w > 0) {
        emit(w, train.AnodAmp, train.PL, true, true, 0);
    }
    if (w < 0) {
        return fits;
    }
    if (f > 0) {
        emit(1, train.AnodAmp, train.PL, false, true, f);
    }
    return fits;
}
