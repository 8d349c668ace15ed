// Arguments and results shared by the "signal", "signal-save" and "filter" commands.
#pragma once

#include "mex.h"

#include <cstdint>
#include <string>
#include <vector>

namespace KestMexFcn {

// Stream descriptor flags that mark a stream as not available.
constexpr std::uint8_t kStreamUnavailable = 0x0C;

// The 1-based electrodes of a numeric input, each one the processor has. An empty input ends
// the call through `usage`; an unknown electrode with "electrode <n> not present" (carrying
// the identifier `id` when it is not null).
std::vector<std::uint32_t> ReadKnownElectrodes(const mxArray* array, const char* id,
                                               void (*usage)());
// Every value of a numeric input; "<what> must be numbers" otherwise.
std::vector<double> ReadValues(const mxArray* array, const char* what);
// The names of the available streams of a 1-based electrode, at most ten.
std::vector<std::string> StreamNames(std::uint32_t electrode);

mxArray* MakeInt32Row(const std::vector<std::int32_t>& values);
mxArray* MakeCellRow(const std::vector<std::string>& texts);

} // namespace KestMexFcn
