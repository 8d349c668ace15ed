// The recording trial state machine shared by the processor and the emulated operators:
// a requested change takes effect (start requested -> recording, pause requested ->
// paused, unpause requested -> recording, stop requested -> stopped); settled states stay.
#pragma once

#include "protocol/KestPacket.h"

#include <cstdint>

namespace paxsim {

inline std::int32_t SettleTrialStatus(std::int32_t status) {
    switch (status) {
    case kKestTrialStartRequested:
    case kKestTrialUnpauseRequested:
        return kKestTrialRecording;
    case kKestTrialPauseRequested:
        return kKestTrialPaused;
    case kKestTrialStopRequested:
        return kKestTrialStopped;
    default:
        return status;
    }
}

} // namespace paxsim
