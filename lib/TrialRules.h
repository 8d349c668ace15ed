// The rules of a recording trial that need no connection: the status words a caller may
// ask for, what each does to the operator's current status, and the status texts.
#pragma once

#include <cstdint>

namespace kestlib {

enum class TrialRequest { None, Recording, Stopped, Paused, Invalid };

// The request a status word names: null is None; "recording", "stopped" and "paused"
// (exactly); anything else Invalid.
TrialRequest ReadTrialRequest(const char* word);

// The status to send for a request: recording starts a stopped trial (start requested);
// stopped stops a recording or paused one; paused pauses a recording and resumes a paused
// one. Every other combination leaves the status as it is.
std::int32_t ApplyTrialRequest(std::int32_t status, TrialRequest request);

// "stopped", "recording", "paused", "stop requested", "start requested", "pause requested",
// "unpause requested" for 1-7; null for any other code.
const char* TrialStatusText(std::int32_t status);

} // namespace kestlib
