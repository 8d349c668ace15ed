// Library calls without a connection: versions, argument checks, the entry rule of the
// calls that need a connection, and a close that has nothing to close.
#include "include/kestlib.h"
#include "transport/ClientFamily.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(LibraryFrameTest, VersionTextsAreCutToTheBuffer) {
    char text[32];
    ASSERT_EQ(kl_lib_version(text, sizeof text), KL_SUCCESS);
    EXPECT_EQ(std::string(text), "0.9.2+106k");
    char small[6];
    ASSERT_EQ(kl_lib_version(small, sizeof small), KL_SUCCESS);
    EXPECT_EQ(std::string(small), "0.9.2");
    ASSERT_EQ(kl_kest_version(text, sizeof text), KL_SUCCESS);
    EXPECT_EQ(std::string(text), "0.9");
    char two[2];
    ASSERT_EQ(kl_kest_version(two, sizeof two), KL_SUCCESS);
    EXPECT_EQ(std::string(two), "0");

    EXPECT_EQ(kl_lib_version(nullptr, 10), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_lib_version(text, 0), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_kest_version(nullptr, 10), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_kest_version(text, -1), KL_ERR_INVALID_PARAMETER);
}

TEST(LibraryFrameTest, CallsThatNeedTheConnectionSayWhoWasRefused) {
    char text[32];
    KestErrorMessage_t* message = nullptr;
    int id = 5;
    struct Case {
        const char* name;
        int32_t result;
    };
    CaptureStdout();
    const Case cases[] = {
        {"kl_paxexec_version", kl_paxexec_version(text, sizeof text)},
        {"kl_pax_serial", kl_pax_serial(text, sizeof text)},
        {"kl_fe_version", kl_fe_version(text, sizeof text, 0)},
        {"kl_processor_restart_software", kl_processor_restart_software()},
        {"kl_error_check", kl_error_check()},
        {"kl_error_pop", kl_error_pop(&message)},
        {"kl_error_register_callback", kl_error_register_callback(nullptr, nullptr)},
        {"kl_error_unregister_callback", kl_error_unregister_callback(nullptr, nullptr)},
        {"kl_operator_add", kl_operator_add(&id, "150", nullptr, nullptr)},
        {"kl_operator_lookup", kl_operator_lookup(&id, "150")},
    };
    const std::string printed = GetCapturedStdout();
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, KL_ERR_NOT_INITIALIZED) << c.name;
        EXPECT_NE(printed.find(std::string(c.name) + ": kestlib not initialized\n"),
                  std::string::npos)
            << c.name;
    }
    EXPECT_EQ(message, nullptr);
    EXPECT_EQ(id, 5) << "a refused call leaves the caller's id alone";
}

TEST(LibraryFrameTest, TimeAndCloseWithoutConnection) {
    using namespace Network::OperNetwork;
    CaptureStdout();
    EXPECT_EQ(kl_time(), 0u);
    EXPECT_EQ(GetCapturedStdout(), "") << "kl_time prints nothing";

    // Something published but never sent is gone after a close.
    std::uint8_t* area = gConfigBuffer.Reserve(12);
    ASSERT_NE(area, nullptr);
    std::memset(area, 0xAB, 12);
    gConfigBuffer.Publish();
    gCurrentNetwork.store(1);
    gNetworkState.store(0);
    EXPECT_EQ(kl_close(), KL_ERR_UNKNOWN);
    EXPECT_EQ(gCurrentNetwork.load(), 0);
    EXPECT_EQ(gNetworkState.load(), 2);
    EXPECT_EQ(gConfigBuffer.PublishedHead(), 0u);
    EXPECT_EQ(gConfigBuffer.Data()[0], 0);
    EXPECT_EQ(kl_close(), KL_ERR_UNKNOWN);
}

TEST(LibraryFrameTest, ProcessorStatusChecksItsArgumentsFirst) {
    int found = 7;
    EXPECT_EQ(kl_processor_status(nullptr, nullptr), KL_ERR_INVALID_PARAMETER);
    const KestConnectionOptions udp{KL_PREFER_WIRED, 1, 500};
    EXPECT_EQ(kl_processor_status(&found, &udp), KL_ERR_UNSUPPORTED);
    const KestConnectionOptions negative{KL_WIRED_ONLY, 0, -1};
    EXPECT_EQ(kl_processor_status(&found, &negative), KL_ERR_INVALID_PARAMETER);
    const KestConnectionOptions policy{4, 0, 10};
    EXPECT_EQ(kl_processor_status(&found, &policy), KL_ERR_INVALID_PARAMETER);
    const KestConnectionOptions below{-1, 0, 10};
    EXPECT_EQ(kl_processor_status(&found, &below), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(found, 7);
}

TEST(LibraryFrameTest, OpenWithoutTransportIsNotAvailable) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_open(), KL_ERR_UNKNOWN);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "NOT IMPLEMENTED YET\n");
}
