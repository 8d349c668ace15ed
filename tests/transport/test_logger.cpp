// Transport log lines: the tag in front, the stream chosen by level, the 1024-byte cut.
#include "transport/Logger.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Logger, TagsFollowTheSubsystemOrder) {
    const char* expected[] = {"MSC", "PRF", "SYS", "MEM", "NET", "CFG", "IMP", "LBW", "STM"};
    for (int i = 0; i < 9; ++i) {
        EXPECT_STREQ(LogSubsystemTag(static_cast<LogSubsystem>(i)), expected[i]);
    }
}

TEST(Logger, ErrorsGoToStandardErrorAndTheRestToStandardOutput) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    Logger<true>::Printf(LogSubsystem::NET, kLogError, "lost %d\n", 3);
    Logger<true>::Printf(LogSubsystem::CFG, kLogWarning, "odd %s\n", "value");
    Logger<true>::LogPrintf(LogSubsystem::NET, kLogWarning, "always stderr\n");
    Logger<false>::Printf(LogSubsystem::NET, kLogWarning, "console only\n");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "NET lost 3\nNET always stderr\n");
    EXPECT_EQ(out, "CFG odd value\nNET console only\n");
}

TEST(Logger, LongTextIsCutTo1023Characters) {
    const std::string text(3000, 'x');
    testing::internal::CaptureStderr();
    Logger<true>::Printf(LogSubsystem::NET, kLogError, "%s", text.c_str());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "NET " + std::string(1023, 'x'));
}

} // namespace
