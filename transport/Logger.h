// The transport's complaints: one line per message, tagged with the subsystem it comes from
// and carrying a system log priority (3 error, 4 warning). Text is formatted into 1024 bytes;
// longer text is cut.
#pragma once

#include "transport/NetworkExport.h"

enum class LogSubsystem : int {
    MSC = 0,
    PRF = 1,
    SYS = 2,
    MEM = 3,
    NET = 4,
    CFG = 5,
    IMP = 6,
    LBW = 7,
    STM = 8,
};

// The three-letter tag written in front of each line ("NET" for LogSubsystem::NET).
KEST_NETWORK_API const char* LogSubsystemTag(LogSubsystem subsystem);

constexpr int kLogError = 3;
constexpr int kLogWarning = 4;

template <bool UseSystemLog> class Logger;

// Writes to the console and to the system log.
template <> class KEST_NETWORK_API Logger<true> {
  public:
    // "<tag> <text>" to standard error for levels up to 3 (error and worse), to standard
    // output otherwise, and the same line to the system log at that level.
    static void Printf(LogSubsystem subsystem, int level, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    // The same, always to standard error, and to the system log.
    static void LogPrintf(LogSubsystem subsystem, int level, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
};

// Writes to standard output only; for notices that are not worth the system log.
template <> class KEST_NETWORK_API Logger<false> {
  public:
    static void Printf(LogSubsystem subsystem, int level, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
};
