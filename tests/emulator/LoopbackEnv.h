// Loopback-only settings for socket tests: the network prefixes come from the environment
// (scripts/kest-env.sh) and must be 127.x; the port base is moved per process so that
// parallel test binaries do not meet.
#pragma once

#include "emulator/server/NetConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace paxsim_test {

// Empty when the environment is safe, else the reason to refuse.
inline std::string LoopbackRefusal() {
    for (const char* name : {"KEST_WIRED_NET", "KEST_WIRELESS_NET"}) {
        const char* value = std::getenv(name);
        if (value && !paxsim::IsLoopbackNet(value)) {
            return std::string(name) + "=" + value + " is not a loopback network";
        }
    }
    return {};
}

inline paxsim::NetConfig LoopbackNet(unsigned slot) {
    paxsim::NetConfig net;
    const char* wired = std::getenv("KEST_WIRED_NET");
    const char* wireless = std::getenv("KEST_WIRELESS_NET");
    const char* base = std::getenv("KEST_PORT_BASE");
    net.wiredNet = wired ? wired : "127.0.42";
    net.wirelessNet = wireless ? wireless : "127.0.43";
    unsigned portBase = base ? unsigned(std::atoi(base)) : 23045u;
    net.portBase =
        static_cast<std::uint16_t>(portBase + 200 + (unsigned(getpid()) % 400) * 40 + slot * 4);
    return net;
}

#define PAXSIM_REQUIRE_LOOPBACK()                                                                  \
    do {                                                                                           \
        std::string refusal = paxsim_test::LoopbackRefusal();                                      \
        ASSERT_TRUE(refusal.empty()) << "refusing to run: " << refusal;                            \
    } while (0)

} // namespace paxsim_test
