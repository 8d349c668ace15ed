// Front-end models the processor reports in a module's hardware version text.
//
// The text is laid out as "PPPPPP-BBBB.J.N": a 6-character part number, a dash, a
// 4-digit build, then one-digit major and minor revisions (for example "SF3216-0042.2.1").
// The version name is the first 11 characters ("SF3216-0042").
#pragma once

#include <array>

// Models whose stimulator carries a calibration table.
inline constexpr std::array<const char*, 6> kStimCalibPartNumbers = {
    "SF3216", "SF3217", "SF3218", "SF6416", "SF6417", "SM3220",
};

// Models that enforce a maximum stimulation amplitude.
inline constexpr std::array<const char*, 7> kMaxStimLimitPartNumbers = {
    "SF3217", "SF3218", "SF6417", "SM3220", "SM3221", "SX3230", "SX6430",
};
