// libkestlib.so as a program loads it: the C calls are there and work, the internals are
// not visible.
#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>

TEST(SharedLibraryTest, CallsWorkThroughTheSharedObject) {
    char text[16];
    ASSERT_EQ(kl_lib_version(text, sizeof text), KL_SUCCESS);
    EXPECT_EQ(std::string(text), "0.9.2+106k");
    EXPECT_EQ(kl_processor_status(nullptr, nullptr), KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_time(), 0u);
    EXPECT_EQ(KL_DEFAULT_STATUS_CONNECTION_OPTIONS->timeout_ms, 500);
    EXPECT_EQ(KL_DEFAULT_CONNECTION_OPTIONS->timeout_ms, 10000);
}

TEST(SharedLibraryTest, OnlyTheInterfaceIsExported) {
    void* library = dlopen(KESTLIB_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* name :
         {"kl_open_udp", "kl_open_tcp_addr", "kl_close", "kl_error_pop", "kl_operator_add",
          "kl_processor_status", "kl_error_string", "KL_DEFAULT_CONNECTION_OPTIONS"}) {
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    }
    // The cache, the sender and the handshake stay inside.
    for (const char* name :
         {"gKestCache", "gKestClient", "_ZN7Network11OperNetwork13InitKestCacheEv",
          "_ZN8kestlib11InitializedEPKc"}) {
        EXPECT_EQ(dlsym(library, name), nullptr) << name;
    }
    dlclose(library);
}
