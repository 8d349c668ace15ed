// The calls of the public header that need no connection: status texts, connection option
// defaults, and the header itself compiled as C.
#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <utility>

extern "C" int kestlib_c_header_check(void);

namespace {

TEST(StatusText, EveryCodeHasItsText) {
    const std::pair<int, const char*> table[] = {
        {0, "success"},
        {-1, "unknown error"},
        {-2, "library not initialized"},
        {-3, "operation unsupported"},
        {-4, "no response"},
        {-5, "invalid electrode"},
        {-6, "invalid parameter"},
        {-7, "invalid network"},
        {-8, "operator not found"},
        {-9, "trial status invalid"},
        {1, "unexpected error!"},
        {-10, "unexpected error!"},
    };
    for (const auto& [code, expected] : table) {
        char buffer[64];
        EXPECT_EQ(kl_error_string(buffer, sizeof buffer, code), 0);
        EXPECT_STREQ(buffer, expected) << code;
    }
}

TEST(StatusText, IsCutToTheBuffer) {
    char buffer[4];
    EXPECT_EQ(kl_error_string(buffer, sizeof buffer, KL_ERR_NOT_INITIALIZED), 0);
    EXPECT_STREQ(buffer, "lib");

    char untouched[2] = {'q', 'q'};
    EXPECT_EQ(kl_error_string(untouched, 0, KL_SUCCESS), 0);
    EXPECT_EQ(untouched[0], 'q');
    EXPECT_EQ(kl_error_string(nullptr, 10, KL_SUCCESS), 0);
}

TEST(ConnectionOptions, DefaultsAndLayout) {
    EXPECT_EQ(KL_DEFAULT_STATUS_CONNECTION_OPTIONS->policy, KL_PREFER_WIRED);
    EXPECT_EQ(KL_DEFAULT_STATUS_CONNECTION_OPTIONS->use_udp, 0);
    EXPECT_EQ(KL_DEFAULT_STATUS_CONNECTION_OPTIONS->timeout_ms, 500);
    EXPECT_EQ(KL_DEFAULT_CONNECTION_OPTIONS->policy, KL_PREFER_WIRED);
    EXPECT_EQ(KL_DEFAULT_CONNECTION_OPTIONS->use_udp, 0);
    EXPECT_EQ(KL_DEFAULT_CONNECTION_OPTIONS->timeout_ms, 10000);
    static_assert(sizeof(KestConnectionOptions) == 12);
    static_assert(offsetof(KestConnectionOptions, use_udp) == 4);
    static_assert(offsetof(KestConnectionOptions, timeout_ms) == 8);
    static_assert(KL_PREFER_WIRED == 0 && KL_PREFER_WIRELESS == 1 && KL_WIRED_ONLY == 2 &&
                  KL_WIRELESS_ONLY == 3);
}

TEST(ErrorMessageCalls, CopyFreeAndLevel) {
    char text[] = "overheated";
    KestErrorMessage_t message{7, 3, 0, 1, 2, 3, text};
    KestErrorMessage_t* copy = kl_error_copy_message(&message);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->text, message.text);
    EXPECT_STREQ(copy->text, "overheated");
    EXPECT_EQ(kl_error_requires_error(copy), 1);
    copy->level = 5;
    EXPECT_EQ(kl_error_requires_error(copy), 0);
    kl_error_free_message(copy);
    EXPECT_EQ(kl_error_requires_error(nullptr), 0);
    EXPECT_EQ(kl_error_copy_message(nullptr), nullptr);
}

TEST(PublicHeader, WorksFromC) {
    EXPECT_EQ(kestlib_c_header_check(), 0);
}

} // namespace
