// How the emulated transceiver front ends answer: at once, late, or never. Applies to the
// answers and echoes of their transceiver properties ("Implant Connection Status", "Implant
// Search Trigger", "Implant Status", "Transceiver Command", "Implant Command Response");
// the sets themselves are still stored.
#pragma once

#include <cstdint>

namespace paxsim {

enum class TransceiverAnswer {
    Normal, // answer at once (or as the echo knobs say)
    Late,   // answer delayTicks later
    Never,  // store the set, answer nothing
};

struct TransceiverFaults {
    TransceiverAnswer answer = TransceiverAnswer::Normal;
    std::uint32_t delayTicks = 0;
};

// True for the names of the transceiver properties above.
bool IsTransceiverPropertyName(const char* name);

} // namespace paxsim
