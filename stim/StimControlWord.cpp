#include "stim/StimControlWord.h"

StimControlWord::StimControlWord(std::uint16_t length, std::uint32_t ampl, bool pol, bool enable,
                                 bool ampSelect, std::uint32_t delay, bool fs)
    : length(length), ampSelect(ampSelect), fs(fs), enable(enable), delay(delay), pol(pol),
      ampl(ampl) {}

void StimControlWord::Reset() {
    ampSelect = true;
    fs = false;
    enable = false;
    delay = 0;
    pol = false;
    ampl = 0;
}

std::uint32_t StimControlWord::GetStimCmd() const {
    return (static_cast<std::uint32_t>(length) << 16) + (ampSelect ? 0x8000u : 0u) +
           (fs ? 0x4000u : 0u) + (enable ? 0x2000u : 0u) + ((delay & kStimMaxDelay) << 8) +
           (pol ? 0x80u : 0u) + (ampl & kStimMaxAmpl);
}
