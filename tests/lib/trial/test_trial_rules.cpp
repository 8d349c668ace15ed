// The status words of a trial and what each does to the operator's status.
#include "lib/TrialRules.h"
#include "protocol/KestPacket.h"

#include <gtest/gtest.h>

#include <string>

using namespace kestlib;

TEST(TrialRulesTest, StatusWordsAreExact) {
    EXPECT_EQ(ReadTrialRequest(nullptr), TrialRequest::None);
    EXPECT_EQ(ReadTrialRequest("recording"), TrialRequest::Recording);
    EXPECT_EQ(ReadTrialRequest("stopped"), TrialRequest::Stopped);
    EXPECT_EQ(ReadTrialRequest("paused"), TrialRequest::Paused);
    for (const char* word : {"start", "Recording", "paused ", "", "stop"}) {
        EXPECT_EQ(ReadTrialRequest(word), TrialRequest::Invalid) << word;
    }
}

// Each request against every status: only these moves happen, everything else stays.
TEST(TrialRulesTest, RequestsMoveOnlyTheirStatuses) {
    struct Row {
        std::int32_t status, recording, stopped, paused;
    };
    const Row rows[] = {
        {1, 5, 1, 1}, // stopped: only a start is possible
        {2, 2, 4, 6}, // recording: stop or pause
        {3, 3, 4, 7}, // paused: stop, or "paused" again resumes
        {4, 4, 4, 4}, {5, 5, 5, 5}, {6, 6, 6, 6}, {7, 7, 7, 7}, {0, 0, 0, 0}, {9, 9, 9, 9},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ApplyTrialRequest(row.status, TrialRequest::Recording), row.recording);
        EXPECT_EQ(ApplyTrialRequest(row.status, TrialRequest::Stopped), row.stopped);
        EXPECT_EQ(ApplyTrialRequest(row.status, TrialRequest::Paused), row.paused);
        EXPECT_EQ(ApplyTrialRequest(row.status, TrialRequest::None), row.status);
    }
}

TEST(TrialRulesTest, StatusTexts) {
    const char* texts[] = {"stopped",          "recording",       "paused",
                           "stop requested",   "start requested", "pause requested",
                           "unpause requested"};
    for (int code = 1; code <= 7; ++code) {
        EXPECT_EQ(std::string(TrialStatusText(code)), texts[code - 1]);
    }
    EXPECT_EQ(TrialStatusText(0), nullptr);
    EXPECT_EQ(TrialStatusText(8), nullptr);
    EXPECT_EQ(TrialStatusText(-1), nullptr);
}
