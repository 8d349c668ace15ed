#include "lib/TrialRules.h"

#include "protocol/KestPacket.h"

#include <cstring>

namespace kestlib {

TrialRequest ReadTrialRequest(const char* word) {
    if (word == nullptr) {
        return TrialRequest::None;
    }
    if (std::strcmp(word, "recording") == 0) {
        return TrialRequest::Recording;
    }
    if (std::strcmp(word, "stopped") == 0) {
        return TrialRequest::Stopped;
    }
    if (std::strcmp(word, "paused") == 0) {
        return TrialRequest::Paused;
    }
    return TrialRequest::Invalid;
}

std::int32_t ApplyTrialRequest(std::int32_t status, TrialRequest request) {
    switch (request) {
    case TrialRequest::Recording:
        return status == kKestTrialStopped ? kKestTrialStartRequested : status;
    case TrialRequest::Stopped:
        return status == kKestTrialRecording || status == kKestTrialPaused ? kKestTrialStopRequested
                                                                           : status;
    case TrialRequest::Paused:
        return status == kKestTrialRecording ? kKestTrialPauseRequested
               : status == kKestTrialPaused  ? kKestTrialUnpauseRequested
                                             : status;
    default:
        return status;
    }
}

const char* TrialStatusText(std::int32_t status) {
    static const char* const kTexts[] = {"stopped",          "recording",       "paused",
                                         "stop requested",   "start requested", "pause requested",
                                         "unpause requested"};
    return status >= 1 && status <= 7 ? kTexts[status - 1] : nullptr;
}

} // namespace kestlib
