// What the trial call tests share: one kl_trial call with every output wanted (filled with
// garbage first, so a failure that leaves them untouched shows), and an emulated processor
// with recording operators on loopback.
#pragma once

#include "LinkTestEnv.h"

#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace trial_test {

struct TrialResult {
    std::int32_t code = 0;
    std::string status, fileBase, error;
    int stopTime = 0, autoIncr = 0, incrNum = 0;
};

inline TrialResult Trial(int id, const char* status = nullptr, const char* fileBase = nullptr,
                         const int* stopTime = nullptr, const int* autoIncr = nullptr,
                         const int* incrNum = nullptr) {
    char statusOut[32], fileBaseOut[512], errorOut[256];
    std::memset(statusOut, 'g', sizeof statusOut);
    std::memset(fileBaseOut, 'g', sizeof fileBaseOut);
    std::memset(errorOut, 'g', sizeof errorOut);
    TrialResult result;
    result.stopTime = result.autoIncr = result.incrNum = 99;
    result.code = kl_trial(id, status, fileBase, stopTime, autoIncr, incrNum, statusOut,
                           sizeof statusOut, fileBaseOut, sizeof fileBaseOut, errorOut,
                           sizeof errorOut, &result.stopTime, &result.autoIncr, &result.incrNum);
    result.status.assign(statusOut, strnlen(statusOut, sizeof statusOut));
    result.fileBase.assign(fileBaseOut, strnlen(fileBaseOut, sizeof fileBaseOut));
    result.error.assign(errorOut, strnlen(errorOut, sizeof errorOut));
    return result;
}

// Whether a failed call left every output empty.
inline bool Emptied(const TrialResult& r) {
    return r.status.empty() && r.fileBase.empty() && r.error.empty() && r.stopTime == 0 &&
           r.autoIncr == 0 && r.incrNum == 0;
}

} // namespace trial_test
