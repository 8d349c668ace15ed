#include "transport/Logger.h"

#include <cstdarg>
#include <cstdio>
#include <syslog.h>

namespace {

constexpr std::size_t kLogLineSize = 1024;

void Emit(FILE* stream, bool toSystemLog, LogSubsystem subsystem, int level, const char* format,
          va_list args) {
    char text[kLogLineSize];
    std::vsnprintf(text, sizeof text, format, args);
    const char* tag = LogSubsystemTag(subsystem);
    std::fprintf(stream, "%s %s", tag, text);
    std::fflush(stream);
    if (toSystemLog) {
        syslog(level, "%s %s", tag, text);
    }
}

} // namespace

const char* LogSubsystemTag(LogSubsystem subsystem) {
    static const char* const tags[] = {"MSC", "PRF", "SYS", "MEM", "NET",
                                       "CFG", "IMP", "LBW", "STM"};
    auto index = static_cast<unsigned>(subsystem);
    return index < sizeof tags / sizeof tags[0] ? tags[index] : "???";
}

void Logger<true>::Printf(LogSubsystem subsystem, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(level <= kLogError ? stderr : stdout, true, subsystem, level, format, args);
    va_end(args);
}

void Logger<true>::LogPrintf(LogSubsystem subsystem, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(stderr, true, subsystem, level, format, args);
    va_end(args);
}

void Logger<false>::Printf(LogSubsystem subsystem, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Emit(stdout, false, subsystem, level, format, args);
    va_end(args);
}
