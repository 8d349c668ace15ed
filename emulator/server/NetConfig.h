// Where the emulated processor listens: network prefixes and port base from the
// environment (KEST_WIRED_NET, KEST_WIRELESS_NET, KEST_PORT_BASE) or the command line.
#pragma once

#include <cstdint>
#include <string>

namespace paxsim {

struct NetConfig {
    std::string wiredNet = "192.168.42";    // default; first three octets
    std::string wirelessNet = "192.168.43"; // default
    std::uint16_t portBase = 2045;
    bool wirelessOnly = false; // listen on WIRELESS.1 only (to exercise the fallback)
    bool bothNets = false;     // listen on WIRED.1 and WIRELESS.1

    // Defaults overridden by the environment; throws std::invalid_argument on bad values.
    static NetConfig FromEnvironment();
    // "a.b.c" with three numbers up to 255; throws std::invalid_argument otherwise.
    static void CheckNet(const std::string& net);

    std::uint16_t PresencePort() const { return portBase; }
    std::uint16_t DataPort() const { return static_cast<std::uint16_t>(portBase + 1); }
    std::uint16_t ConfigPort() const { return static_cast<std::uint16_t>(portBase + 2); }
    // The UDP port clients receive on.
    std::uint16_t ClientPort() const { return static_cast<std::uint16_t>(portBase + 1); }
};

bool IsLoopbackNet(const std::string& net);

} // namespace paxsim
